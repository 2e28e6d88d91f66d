// The page as an app: it keeps the site for offline play through its service worker (sw.js),
// holds the picture sideways in full screen on a phone, and where a browser has no full screen at
// all (an iPhone's) hides the button and suggests the home screen, which opens the page full
// screen from its manifest.
'use strict';

(function () {
    // Browsers give a service worker only to a secure page (https, or this machine itself), and not
    // to a file or a sandboxed frame (where even asking throws): the game then plays as before,
    // only not offline, which is a note for the console, not the player.
    const unavailable = (error) => console.info(`Offline play is not available here (${error.message}); the game plays online.`);
    function keepForOffline() {
        try {
            if (!window.isSecureContext || location.protocol === 'file:') {
                throw new Error('the page is not served over https');
            }
            navigator.serviceWorker.register('sw.js').catch(unavailable);
        } catch (error) {
            unavailable(error);
        }
    }
    // The manifest makes the page installable; opened as a file, where a browser refuses to read
    // it, the page names none rather than have the browser log a refusal.
    if (location.protocol !== 'file:') {
        const manifest = Object.assign(document.createElement('link'), { rel: 'manifest', href: 'manifest.webmanifest' });
        document.head.appendChild(manifest);
    }
    // Registered once the game runs: its files are then in the browser's HTTP cache, where the
    // worker takes its copies from rather than fetching them a second time.
    document.addEventListener('orvo-game-running', keepForOffline, { once: true });

    document.addEventListener('fullscreenchange', () => {
        if (document.fullscreenElement && screen.orientation && screen.orientation.lock) {
            // Refused on a computer, or where the user has locked the rotation: nothing to say.
            screen.orientation.lock('landscape').catch(() => {});
        }
    });

    const stage = document.getElementById('stage');
    const installed = window.matchMedia('(display-mode: fullscreen), (display-mode: standalone)').matches
        || navigator.standalone === true;
    if (typeof stage.requestFullscreen === 'function' || document.fullscreenEnabled) {
        return;
    }
    document.getElementById('fullscreen').hidden = true;
    if (installed) {
        return;
    }
    const hint = document.createElement('div');
    hint.id = 'home-hint';
    hint.setAttribute('role', 'note');
    hint.textContent = 'To play full screen, add this page to the home screen: Share, then Add to Home Screen.';
    hint.style.cssText = 'position: fixed; top: 0.5em; left: 50%; transform: translateX(-50%); max-width: 90%;'
        + ' padding: 0.4em 0.8em; background: rgba(0, 0, 0, 0.75); border: 1px solid #555; text-align: center;';
    document.body.appendChild(hint);
    // It goes with the first touch, which is when the buttons that drive the car appear.
    const dismiss = () => hint.remove();
    window.addEventListener('touchstart', dismiss, { once: true, passive: true });
    window.addEventListener('keydown', dismiss, { once: true });
})();
