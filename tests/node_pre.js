// The car tests run SDL under node, where there is no page: SDL's joystick code asks for the
// browser's gamepads and window events, and the environment (SDL_VIDEODRIVER) is node's. The
// working directory is node's, mounted into the program's own file system, where stdout stays
// the program's so that the tests can capture it.
globalThis.navigator = globalThis.navigator || {};
globalThis.navigator.getGamepads = globalThis.navigator.getGamepads || (() => []);
globalThis.window = globalThis.window || { addEventListener() {}, removeEventListener() {} };
Module.preRun = [() => {
    Object.assign(ENV, process.env);
    FS.mkdir('/cwd');
    FS.mount(NODEFS, { root: process.cwd() }, '/cwd');
    FS.chdir('/cwd');
}];
