// The site's service worker: it keeps every file of one build of the site in a cache of that
// build's own and serves the page and its files from there, so that after one visit the game
// opens without the network. The build (make-worker.cmake) writes the list below, so a new build
// is a new worker to the browser, which then installs it beside the running one.
'use strict';

// Each file of the site with the SHA-256 of its content, and the build's version, derived from them.
const SITE = JSON.parse('@ORVO_SITE_JSON@');
// The caches of this copy of the game: a game site may host other copies on the same origin, in
// folders of their own, whose caches are not ours to remove.
const PREFIX = `orvo-game ${self.registration.scope} `;
const CACHE = PREFIX + SITE.version;

async function sha256(bytes) {
    const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
    return Array.from(digest, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// A file of this build, taken from the first place that has it with the expected content: a cache
// of an earlier build (a file that did not change is not fetched again), the browser's HTTP cache
// (which holds what the page has just loaded, so a first visit does not fetch it twice), then the
// network. What is none of these, as when the site is being replaced while it is read, fails the
// install: the running build stays, and the next visit tries again.
async function fileOfThisBuild(name) {
    const url = new URL(name, self.registration.scope).href;
    const places = [() => caches.match(url), () => fetch(url, { cache: 'force-cache' }), () => fetch(url, { cache: 'reload' })];
    for (const place of places) {
        const response = await place().catch(() => undefined);
        if (response && response.ok) {
            const body = await response.arrayBuffer();
            if ((await sha256(body)) === SITE.files[name]) {
                const type = response.headers.get('Content-Type') || 'application/octet-stream';
                return new Response(body, { headers: { 'Content-Type': type, 'Content-Length': String(body.byteLength) } });
            }
        }
    }
    throw new Error(`${name} could not be had as this build has it`);
}

// The cache is filled only once every file is at hand: a build's cache is whole or never used.
// Those the page opens only on request (the licences) are kept when first opened (below).
self.addEventListener('install', (event) => {
    event.waitUntil((async () => {
        const names = Object.keys(SITE.files).filter((name) => !SITE.later.includes(name));
        const responses = await Promise.all(names.map(fileOfThisBuild));
        const cache = await caches.open(CACHE);
        await Promise.all(names.map((name, i) => cache.put(new URL(name, self.registration.scope).href, responses[i])));
    })());
});

// A newer build's worker becomes the active one when no page of the earlier build is left open
// (the browser's own rule), or sooner when the earlier one hands the page being opened over to it
// (below). The earlier builds' caches then have no reader left.
self.addEventListener('activate', (event) => {
    event.waitUntil((async () => {
        const stale = (await caches.keys()).filter((name) => name.startsWith(PREFIX) && name !== CACHE);
        await Promise.all(stale.map((name) => caches.delete(name)));
    })());
});

// Asked by the running build to take over the page being opened: says which cache that page is to
// be served from, and becomes the active worker once the running one has answered the page.
self.addEventListener('message', (event) => {
    if (event.data === 'take over' && event.ports[0]) {
        self.skipWaiting();
        event.ports[0].postMessage(CACHE);
    }
});

// The cache of the newer build this one has handed over to; every request is then served from it.
let successor;

// A page being opened (anew, or reloaded) while no other page of the game is open, when a newer
// build is installed and waiting (the browser fetched it during an earlier visit), opens in the
// newer build, which then takes over: every request from then on is served from its cache. With
// another page of the game open, the newer build waits for a later visit (the browser's own rule).
// A page loads all of its files as it opens, so none ever gets files of two builds.
async function handOverToNewerBuild() {
    const next = self.registration.waiting;
    if (!next || (await self.clients.matchAll({ type: 'window' })).length > 1) {
        return;
    }
    const channel = new MessageChannel();
    const answer = new Promise((resolve) => {
        channel.port1.onmessage = (event) => resolve(event.data);
        // Replaced by a newer one still before it could answer: this build serves the page.
        next.addEventListener('statechange', () => next.state === 'redundant' && resolve(undefined));
    });
    next.postMessage('take over', [channel.port2]);
    successor = await answer;
}

// The site's files come from this build's cache; the folder's address is its index.html. A query
// (a game site's own, say) names the same file; a fragment (a replay) never reaches here.
self.addEventListener('fetch', (event) => {
    const scope = self.registration.scope;
    const url = new URL(event.request.url);
    url.search = '';
    url.hash = '';
    if (event.request.method !== 'GET' || !url.href.startsWith(scope)) {
        return;
    }
    const name = url.href.slice(scope.length) || 'index.html';
    if (!(name in SITE.files)) {
        return; // not the site's: the network, as without a worker
    }
    event.respondWith((async () => {
        if (event.request.mode === 'navigate' && name === 'index.html' && !successor) {
            await handOverToNewerBuild();
        }
        const cache = await caches.open(successor || CACHE);
        const cached = await cache.match(scope + name);
        if (cached || !SITE.later.includes(name)) {
            return cached || fetch(event.request); // the cache was cleared under us: the network
        }
        const kept = await fileOfThisBuild(name).catch(() => undefined);
        if (!kept) {
            return fetch(event.request);
        }
        await cache.put(scope + name, kept.clone());
        return kept;
    })());
});
