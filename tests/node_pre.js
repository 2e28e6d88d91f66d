// SDL under node, with no page, wants gamepads and window events; node's working directory is mounted (stdout stays the program's).
globalThis.navigator = globalThis.navigator || {};
globalThis.navigator.getGamepads = globalThis.navigator.getGamepads || (() => []);
globalThis.window = globalThis.window || { addEventListener() {}, removeEventListener() {} };
Module.preRun = [() => {
    Object.assign(ENV, process.env);
    FS.mkdir('/cwd');
    FS.mount(NODEFS, { root: process.cwd() }, '/cwd');
    FS.chdir('/cwd');
}];
