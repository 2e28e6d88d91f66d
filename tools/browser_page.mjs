// A static site served on 127.0.0.1 and opened in Debian's chromium (headless) or Firefox, through
// puppeteer-core, for the page's replay tests (tests/web_replay_test.mjs) and its replay screenshot
// (tools/screenshot-replay.mjs). Headless Firefox has no WebGL, so Firefox runs on an X server of
// its own. Every process started dies with the node process, even one killed outright, and
// close() ends them all in order.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';

// Opens `site`'s index.html (1280 x 760 pixels, where the canvas is 1280 x 720) in `browserName`
// ("chromium" or "firefox"); downloads go to `downloads`. `modules` is the folder whose
// node_modules holds puppeteer-core (tests/browser/package.json, installed by the test build).
// Resolves to { page, origin, close }.
export async function openSite(site, browserName, { modules, downloads }) {
    const ends = [];
    const close = async () => {
        for (const end of ends.reverse()) {
            await end();
        }
    };
    try {
        const work = fs.mkdtempSync(path.join(os.tmpdir(), 'orvo-browser-'));
        ends.push(() => fs.rmSync(work, { recursive: true, force: true }));
        // Served with their types: a browser registers a service worker only from a script.
        const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
            '.webmanifest': 'application/manifest+json', '.png': 'image/png', '.txt': 'text/plain; charset=utf-8' };
        const server = http.createServer((request, response) => {
            const file = path.join(site, path.normalize(new URL(request.url, 'http://host').pathname));
            fs.readFile(file, (error, body) => response.writeHead(error ? 404 : 200,
                { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' }).end(body));
        });
        await new Promise((listening) => server.listen(0, '127.0.0.1', listening));
        ends.push(() => new Promise((closed) => {
            server.close(closed);
            server.closeAllConnections();
        }));
        const origin = `http://127.0.0.1:${server.address().port}`;

        const firefox = browserName === 'firefox';
        const wrapper = `${work}/browser`; // the browser, told to die with this process
        const binary = firefox ? '/usr/bin/firefox-esr' : '/usr/bin/chromium';
        fs.writeFileSync(wrapper, `#!/bin/sh\nexec setpriv --pdeathsig KILL -- ${binary} "$@"\n`, { mode: 0o755 });
        const env = { ...process.env };
        if (firefox) {
            const xvfb = spawn('setpriv', ['--pdeathsig', 'KILL', '--', 'Xvfb', '-displayfd', '3', '-noreset', '-nolisten',
                'tcp', '-screen', '0', '1400x900x24'], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
            ends.push(() => xvfb.kill('SIGKILL'));
            const display = await new Promise((told, failed) => {
                xvfb.stdio[3].once('data', (data) => told(`${data}`.trim()));
                xvfb.once('exit', () => failed(new Error('Xvfb ended before it said its display')));
            });
            env.DISPLAY = `:${display}`;
        }

        const puppeteer = createRequire(path.resolve(modules, 'package.json'))('puppeteer-core');
        const browser = await puppeteer.launch({
            browser: firefox ? 'firefox' : 'chrome',
            protocol: firefox ? 'webDriverBiDi' : 'cdp',
            executablePath: wrapper,
            env,
            headless: !firefox,
            defaultViewport: { width: 1280, height: 760 },
            args: firefox ? [] : ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
            extraPrefsFirefox: {
                'browser.download.dir': downloads,
                'browser.download.folderList': 2,
                'browser.download.useDownloadDir': true,
                'browser.download.always_ask_before_handling_new_types': false,
                'browser.download.start_downloads_in_tmp_dir': false,
            },
        });
        // A browser that does not close in time is killed.
        ends.push(() => Promise.race([browser.close(), new Promise((late) => setTimeout(late, 15000))])
            .finally(() => browser.process()?.kill('SIGKILL')));
        const page = (await browser.pages())[0] || (await browser.newPage());
        if (!firefox) {
            const session = await page.createCDPSession();
            await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
        }
        return { page, origin, close };
    } catch (error) {
        await close();
        throw error;
    }
}
