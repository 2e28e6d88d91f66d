// Drives kept in the page: "Save replay" downloads the drive so far as a file, "Copy link" puts it
// in an address (#r= and the file in base64url), and a file opened or dropped on the page, or an
// address with #r= (watch) or #g= (race it as a ghost), plays that drive from its first frame. The
// game records, plays and checks drives itself; this moves them between the player and the game's
// file system, and says on the page what is showing and how a replay's check came out.
'use strict';

window.orvoReplays = (function () {
    // The same name ending as the desktop's saved drives.
    const extension = '.orvr';
    // Where the game finds the drive it is given, and where it writes the one asked for.
    const givenPath = '/given' + extension;
    const savedPath = '/saved' + extension;
    // The page opens every file through its link, and browsers cap an address's length (by
    // default 1 MB in Firefox, 2 MB in chromium): a file of 700 KB, hours of driving, is 955,734
    // characters of base64url.
    const maxFileBytes = 700 * 1024;
    const kinds = { r: 'replay', g: 'ghost' };
    const modeNames = ['Live: you drive', 'Replay: a recorded drive plays', 'Ghost: you race a recorded drive'];

    const byId = (id) => document.getElementById(id);
    const mode = byId('replay-mode');
    const note = byId('replay-note');
    const noteText = byId('replay-note-text');
    const share = byId('replay-share');
    const shareLink = byId('replay-link');
    const shareText = byId('replay-share-text');
    const choice = byId('replay-choice');
    const picker = byId('replay-file');
    const buttons = ['replay-save', 'replay-open', 'replay-copy'].map(byId);
    const canvas = byId('canvas');
    let game = null;
    let chosenFile = null;

    function showNote(text, isError) {
        noteText.textContent = text;
        note.classList.toggle('error', Boolean(isError));
        note.hidden = false;
    }

    function showMode(index) {
        mode.textContent = modeNames[index] || modeNames[0];
        mode.dataset.mode = ['live', 'replay', 'ghost'][index] || 'live';
    }

    // base64url without padding (RFC 4648, section 5), as the link carries the file.
    function encode(bytes) {
        let binary = '';
        for (let start = 0; start < bytes.length; start += 0x8000) {
            binary += String.fromCharCode.apply(null, bytes.subarray(start, start + 0x8000));
        }
        return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
    }

    // The bytes of a link's drive; throws with the reason a person can act on.
    function decode(text) {
        const bad = text.search(/[^A-Za-z0-9_-]/);
        if (bad >= 0) {
            throw new Error(`the link's drive is not base64url: the character '${text[bad]}' at position ${bad + 1}`
                + ' (the link may have been cut or changed when it was copied)');
        }
        if (text.length % 4 === 1) {
            throw new Error(`the link's drive is not base64url: ${text.length} characters cannot be whole bytes`
                + ' (the link may have been cut when it was copied)');
        }
        const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/') + '=='.slice(0, (4 - (text.length % 4)) % 4));
        const bytes = new Uint8Array(binary.length);
        for (let i = 0; i < binary.length; ++i) {
            bytes[i] = binary.charCodeAt(i);
        }
        return bytes;
    }

    // What the address asks for: { kind, bytes } for #r= or #g=, null otherwise; a link that cannot
    // be decoded gives { kind, error }.
    function fromAddress() {
        const found = /^#([rg])=(.*)$/s.exec(location.hash);
        if (!found) {
            return null;
        }
        try {
            return { kind: kinds[found[1]], bytes: decode(found[2]) };
        } catch (error) {
            return { kind: kinds[found[1]], error: error.message };
        }
    }

    function pageAddress() {
        return location.href.split('#')[0];
    }

    // Plays a file's bytes from the first frame: the page is opened again at the drive's link, so
    // that reloading it, or going back, plays the same drive again.
    function tooLong(size) {
        if (size <= maxFileBytes) {
            return false;
        }
        showNote(`The file is ${Math.ceil(size / 1024)} KB: the page opens drives of up to ${maxFileBytes / 1024} KB.`
            + ' The desktop game plays any length (orvo-game --replay FILE).', true);
        return true;
    }

    function openBytes(bytes, kind) {
        if (tooLong(bytes.length)) {
            return;
        }
        const hash = `#${kind === 'ghost' ? 'g' : 'r'}=${encode(bytes)}`;
        if (location.hash === hash) {
            location.reload();
        } else {
            location.hash = hash; // the hashchange below reloads the page
        }
    }

    // The drive recorded so far, read back from the file the game writes; null, with the reason
    // shown, when there is none.
    function recordedDrive() {
        if (!game || !game.calledRun || typeof game._orvo_replay_save !== 'function') {
            showNote('The game is not running, so there is no drive to keep.', true);
            return null;
        }
        const written = game.ccall('orvo_replay_save', 'number', ['string'], [savedPath]);
        if (written < 0) {
            showNote('The drive could not be written (the game said why on the console).', true);
            return null;
        }
        const bytes = game.FS.readFile(savedPath);
        game.FS.unlink(savedPath);
        return bytes;
    }

    // Named by the local date and time, as the desktop names its saved drives.
    function fileName(now) {
        const two = (n) => String(n).padStart(2, '0');
        return `orvo-${now.getFullYear()}${two(now.getMonth() + 1)}${two(now.getDate())}-`
            + `${two(now.getHours())}${two(now.getMinutes())}${two(now.getSeconds())}${extension}`;
    }

    function save() {
        const bytes = recordedDrive();
        if (!bytes) {
            return;
        }
        const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
        const link = document.createElement('a');
        link.href = url;
        link.download = fileName(new Date());
        document.body.appendChild(link);
        link.click();
        link.remove();
        // The download has taken its copy once the click's task is over.
        setTimeout(() => URL.revokeObjectURL(url), 0);
        showNote(`Saved the drive as ${link.download} (${bytes.length} bytes).`);
    }

    function copyLink() {
        const bytes = recordedDrive();
        if (!bytes) {
            return;
        }
        const link = `${pageAddress()}#r=${encode(bytes)}`;
        if (bytes.length > maxFileBytes) {
            showNote(`This drive is too long for a link (${link.length} characters): save it as a file instead.`, true);
            return;
        }
        shareLink.value = link;
        shareText.textContent = `The drive so far, ${link.length} characters; with #g= in place of #r= it is a ghost to race.`;
        share.hidden = false;
        shareLink.focus();
        shareLink.select();
        // The clipboard needs a secure page and the click's permission; the link stays shown either way.
        const told = (what) => { shareText.textContent += ` ${what}`; };
        if (navigator.clipboard && navigator.clipboard.writeText) {
            navigator.clipboard.writeText(link).then(() => told('Copied to the clipboard.'),
                () => told('The browser did not let the page copy it: copy it from the box.'));
        } else {
            told('Copy it from the box.');
        }
    }

    // A chosen or dropped file: read whole, then the player says whether to watch it or race it.
    function offer(file) {
        chosenFile = file;
        byId('replay-choice-text').textContent = `${file.name} (${file.size} bytes):`;
        choice.hidden = false;
    }

    function play(kind) {
        const file = chosenFile;
        choice.hidden = true;
        chosenFile = null;
        canvas.focus();
        if (!file || !kind || tooLong(file.size)) {
            return;
        }
        file.arrayBuffer().then((buffer) => openBytes(new Uint8Array(buffer), kind),
            (error) => showNote(`The file ${file.name} could not be read (${error.message}).`, true));
    }

    // Buttons never keep the keyboard: the keys go back to the car.
    function onClick(id, action) {
        byId(id).addEventListener('click', () => {
            canvas.focus();
            action();
        });
    }

    onClick('replay-save', save);
    onClick('replay-copy', copyLink);
    onClick('replay-open', () => picker.click());
    onClick('replay-watch', () => play('replay'));
    onClick('replay-race', () => play('ghost'));
    onClick('replay-cancel', () => play(null));
    onClick('replay-share-close', () => { share.hidden = true; });
    onClick('replay-note-close', () => { note.hidden = true; });
    picker.addEventListener('change', () => {
        if (picker.files.length > 0) {
            offer(picker.files[0]);
        }
        picker.value = ''; // the same file chosen again is a change too
    });
    window.addEventListener('dragover', (event) => {
        if (event.dataTransfer && event.dataTransfer.types.includes('Files')) {
            event.preventDefault();
            event.dataTransfer.dropEffect = 'copy';
        }
    });
    window.addEventListener('drop', (event) => {
        if (event.dataTransfer && event.dataTransfer.files.length > 0) {
            event.preventDefault();
            offer(event.dataTransfer.files[0]);
        }
    });
    // A new drive in the address (a link pasted, a file opened, the browser's back button) starts
    // the game again with it: a running game cannot be handed another start.
    const loadedHash = location.hash;
    window.addEventListener('hashchange', () => {
        if (location.hash !== loadedHash && (/^#[rg]=/.test(location.hash) || /^#[rg]=/.test(loadedHash))) {
            location.reload();
        }
    });

    // Fills in the game's start: the drive of the address is put in its file system before main
    // runs and named on its command line. Called by the page with the options it loads the game with.
    function attach(module) {
        game = module;
        const asked = fromAddress();
        buttons.forEach((button) => { button.disabled = true; });
        showMode(0);
        if (asked && asked.error) {
            showNote(`This ${asked.kind} link cannot be played: ${asked.error.replace(/\.$/, '')}. The game plays live.`, true);
        } else if (asked) {
            module.arguments = [`--${asked.kind}`, givenPath];
            module.preRun = [].concat(module.preRun || [], () => module.FS.writeFile(givenPath, asked.bytes));
            showMode(asked.kind === 'ghost' ? 2 : 1);
        }
        // The game's line names the check's result and the final state hash, which the page shows
        // whole, as the desktop's --verify prints it.
        module.onReplayEnded = (ok, hash, text) => {
            const said = text.includes(hash) ? text : `${text} (final state ${hash})`;
            const next = asked && asked.kind === 'ghost' ? 'The ghost has parked' : 'The keys drive on from here';
            showNote(`${ok ? '' : 'NOT VERIFIED: '}${said}. ${next}.`, !ok);
            showMode(0);
        };
        // The game names the file it was given, which is the page's own: the player knows it as the link.
        module.onReplayError = (text) => {
            const reason = text.replace(/^Replay not played: [^:]*: /, '');
            showNote(`This ${asked ? asked.kind : 'drive'} cannot be played: ${reason}. The game plays live.`, true);
            showMode(0);
        };
        const initialized = module.onRuntimeInitialized;
        module.onRuntimeInitialized = () => {
            buttons.forEach((button) => { button.disabled = false; });
            // The game says what it is showing: a replay hands over to the keys at its end.
            const poll = setInterval(() => {
                if (typeof module._orvo_mode === 'function' && module.calledRun) {
                    showMode(module._orvo_mode());
                }
            }, 250);
            const ended = module.onGameEnded;
            module.onGameEnded = () => {
                clearInterval(poll);
                buttons.forEach((button) => { button.disabled = true; });
                if (ended) {
                    ended();
                }
            };
            if (initialized) {
                initialized();
            }
        };
    }

    return { attach };
})();
