// The page around the game: loads its files with a progress line, says why whenever the canvas
// is not running the game, keeps the keyboard on the game, and switches full screen.
'use strict';

(function () {
    const canvas = document.getElementById('canvas');
    const stage = document.getElementById('stage');
    const status = document.getElementById('status');
    // What the game wrote to stderr, shown with a failure: it says which file or call failed.
    const errors = [];
    let stopped = false;

    function show(text) {
        status.textContent = text;
        status.hidden = text === '';
    }

    // Once stopped, the page keeps the first reason: later messages are its consequences.
    function stop(text) {
        if (!stopped) {
            stopped = true;
            show(text);
        }
    }

    function toggleFullScreen() {
        if (document.fullscreenElement) {
            document.exitFullscreen().catch(() => {});
        } else {
            stage.requestFullscreen().catch(() => {});
        }
    }

    // The browser grants full screen only inside a key's or a click's own handler, so the page
    // switches it here; the game sees the same keys and leaves full screen to the page. Arrows
    // and space drive the car and never scroll the page.
    const drivingKeys = ['ArrowUp', 'ArrowDown', 'ArrowLeft', 'ArrowRight', ' ', 'Spacebar'];
    window.addEventListener('keydown', (event) => {
        if (event.key === 'F11' || (event.key === 'Enter' && event.altKey)) {
            event.preventDefault();
            if (!event.repeat) {
                toggleFullScreen();
            }
        } else if (drivingKeys.includes(event.key)) {
            event.preventDefault();
        }
    });
    document.getElementById('fullscreen').addEventListener('click', () => {
        toggleFullScreen();
        canvas.focus();
    });
    // The game's own I key, pressed for it; the keys stay with the game.
    document.getElementById('instruments').addEventListener('click', () => {
        if (window.Module && Module.calledRun) {
            Module._orvo_toggle_instruments();
        }
        canvas.focus();
    });
    stage.addEventListener('mousedown', () => canvas.focus());
    // The game takes the touches, so no mouse events follow them; keys may, on a touch screen laptop.
    stage.addEventListener('touchstart', () => canvas.focus(), { passive: true });
    canvas.focus();

    function hasWebGL() {
        try {
            const probe = document.createElement('canvas');
            return Boolean(probe.getContext('webgl') || probe.getContext('experimental-webgl'));
        } catch (error) {
            return false;
        }
    }

    // Fetches the named files together, showing the bytes received so far; resolves to their
    // contents, or rejects with a message that names the file that failed.
    async function fetchAll(names) {
        const received = names.map(() => 0);
        const totals = names.map(() => 0);
        const progress = () => {
            if (stopped) {
                return; // another file failed; its message stays
            }
            const kb = (bytes) => Math.round(bytes / 1024);
            const total = totals.every((size) => size > 0) ? ` of ${kb(totals.reduce((a, b) => a + b))}` : '';
            show(`Loading the game: ${kb(received.reduce((a, b) => a + b))}${total} KB`);
        };
        const fetchOne = async (name, index) => {
            let response;
            try {
                response = await fetch(name);
            } catch (error) {
                throw new Error(`The file ${name} could not be loaded (${error.message}).`);
            }
            if (!response.ok) {
                throw new Error(`The file ${name} could not be loaded (${response.status} ${response.statusText}).`);
            }
            // A compressed response's length is not the length of what it unpacks to.
            if (!response.headers.get('Content-Encoding')) {
                totals[index] = Number(response.headers.get('Content-Length')) || 0;
            }
            const reader = response.body.getReader();
            const chunks = [];
            for (;;) {
                const { done, value } = await reader.read();
                if (done) {
                    break;
                }
                chunks.push(value);
                received[index] += value.length;
                progress();
            }
            const bytes = new Uint8Array(received[index]);
            let offset = 0;
            for (const chunk of chunks) {
                bytes.set(chunk, offset);
                offset += chunk.length;
            }
            return bytes.buffer;
        };
        progress();
        return Promise.all(names.map(fetchOne));
    }

    function startGame([wasm, data]) {
        window.Module = {
            canvas,
            wasmBinary: wasm,
            getPreloadedPackage: (name) => (name.endsWith('orvo-game.data') ? data : null),
            print: (text) => console.log(text),
            printErr: (text) => {
                errors.push(text);
                console.warn(text);
            },
            onRuntimeInitialized: () => {
                if (!stopped) {
                    show('');
                }
                document.dispatchEvent(new Event('orvo-game-running'));
            },
            onAbort: (what) => {
                const said = errors.length > 0 ? ` ${errors.slice(-3).join(' ')}` : '';
                stop(`The game stopped (${what}).${said} Reload the page to try again.`);
            },
            onGameEnded: () => {
                stop('The game has ended. Reload the page to play again.');
            },
        };
        // Replays (replays.js) add a drive to play, from the address, and the game's calls about it.
        window.orvoReplays.attach(window.Module);
        const script = document.createElement('script');
        script.src = 'orvo-game.js';
        script.onerror = () => stop('The file orvo-game.js could not be loaded.');
        document.body.appendChild(script);
    }

    if (!hasWebGL()) {
        stop('This browser has no WebGL, which the game draws with: turn on hardware acceleration '
            + 'or WebGL in its settings, or open the page in another browser.');
        return;
    }
    fetchAll(['orvo-game.wasm', 'orvo-game.data']).then(startGame, (error) => stop(error.message));
})();
