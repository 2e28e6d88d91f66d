// SDL under node, with no page: the joystick code asks for the browser's gamepads and window events;
// the environment is node's, and so is the working directory, mounted where stdout stays the program's.
globalThis.navigator = globalThis.navigator || {};
globalThis.navigator.getGamepads = globalThis.navigator.getGamepads || (() => []);
globalThis.window = globalThis.window || { addEventListener() {}, removeEventListener() {} };
Module.preRun = [() => {
    Object.assign(ENV, process.env);
    FS.mkdir('/cwd');
    FS.mount(NODEFS, { root: process.cwd() }, '/cwd');
    FS.chdir('/cwd');
}];
