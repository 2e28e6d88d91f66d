// The page's replays in chromium (headless) or Firefox (on an X server of its own: headless Firefox
// has no WebGL), driven through puppeteer-core: node web_replay_test.mjs SITE BROWSER CASE MODULES.
// The desktop game that checks the files is $ORVO_DESKTOP_GAME. Ends all it started on every way out.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openSite } from '../tools/browser_page.mjs';

const [site, browserName, testCase, modules] = process.argv.slice(2);
const desktop = process.env.ORVO_DESKTOP_GAME;
// Recorded with the desktop game; its link has both of base64url's own characters, - and _.
const fixture = fs.readFileSync(new URL('data/desktop-drive.orvr', import.meta.url));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'orvo-replay-'));
const ends = [() => fs.rmSync(work, { recursive: true, force: true })];
const failures = [];
const check = (ok, what) => ok || failures.push(what) && console.error(`FAIL [${browserName} ${testCase}]: ${what}`);
const until = (what, condition, ...args) => page.waitForFunction(condition, { timeout: 120000, polling: 100 }, ...args).catch(async (error) => {
    throw new Error(`timed out waiting for ${what} (${error.message}); the page says: ${await noteAndMode().catch(() => '')}`);
});
const noteAndMode = () => page.evaluate(() => [`${document.getElementById('replay-mode').textContent}`,
    `${document.getElementById('replay-note').hidden ? '' : document.getElementById('replay-note-text').textContent}`]);
const link = (bytes) => `${origin}/index.html#r=${Buffer.from(bytes).toString('base64url')}`;
// The desktop's --verify of a file: [exit status, the final state hash, the steps].
const verify = (bytes) => {
    fs.writeFileSync(`${work}/verified.orvr`, bytes);
    const run = spawnSync(desktop, ['--verify', `${work}/verified.orvr`], { encoding: 'utf8' });
    return [run.status, (/^state hash: ([0-9a-f]{16})$/m.exec(run.stdout) || [])[1], Number((/^steps: (\d+)$/m.exec(run.stdout) || [])[1])];
};
let page, origin;

async function open() {
    const opened = await openSite(site, browserName, { modules, downloads: `${work}/downloads` });
    ends.push(opened.close);
    ({ page, origin } = opened);
    page.on('console', (message) => check(message.type() !== 'error', `console error: ${message.text()}`));
    page.on('pageerror', (error) => check(false, `page error: ${error.message}`));
}

// Opens the address and waits for the game's frames: [label, note].
async function load(address) {
    await page.goto('about:blank');
    await page.goto(address);
    await until('the game to run', () => window.Module && Module.calledRun && Module._orvo_frames() > 10);
    return noteAndMode();
}

// The page opened again with the drive of a file just chosen.
async function reloaded() {
    await until('the page to open the file', () => performance.getEntriesByType('navigation')[0].type === 'reload'
        && /^#r=/.test(location.hash) && window.Module && Module.calledRun && Module._orvo_frames() > 10);
    return noteAndMode();
}

// Plays the drive opened at `address` to its end; the page's verdict and hash for it.
async function replayed(address, seenBefore) {
    const [label] = seenBefore || await load(address);
    check(/^Replay/.test(label), `while a drive plays the label says ${label}`);
    await until('the replay to end', () => /final state|cannot be played/.test(document.getElementById('replay-note-text').textContent));
    const [after, note] = await noteAndMode();
    check(/^Live/.test(after), `after the replay the label says ${after}`);
    return [/^Replay verified/.test(note), (/final state ([0-9a-f]{16})/.exec(note) || [])[1], note];
}

const cases = {
    // A drive recorded by the desktop game plays to the hash the desktop's check prints.
    async desktop_link() {
        const [status, hash] = verify(fixture);
        const [ok, shown, note] = await replayed(link(fixture));
        check(status === 0 && ok && shown === hash, `desktop ${status} ${hash}; the page: ${note}`);
        console.log(`desktop --verify: ${hash} (status ${status}); ${browserName}: ${note}`);
    },
    // A drive made with the keys, saved, linked and opened again, checks out on the desktop and in the page.
    async save() {
        await load(`${origin}/index.html`);
        const steps = () => page.evaluate(() => Module._orvo_physics_steps());
        for (const [keys, count] of [[['ArrowUp'], 600], [['ArrowUp', 'ArrowLeft'], 400], [[], 200]]) {
            const from = await steps();
            await Promise.all(keys.map((key) => page.keyboard.down(key)));
            await until(`${count} steps`, (goal) => Module._orvo_physics_steps() >= goal, from + count);
            await Promise.all(keys.map((key) => page.keyboard.up(key)));
        }
        await page.click('#replay-copy');
        const linked = Buffer.from((await page.$eval('#replay-link', (box) => box.value)).split('#r=')[1], 'base64url');
        await page.click('#replay-save');
        const saved = await new Promise((done) => (function look() { // the browser's download, once whole
            const name = (fs.existsSync(`${work}/downloads`) ? fs.readdirSync(`${work}/downloads`) : []).find((n) => /^orvo-\d{8}-\d{6}\.orvr$/.test(n));
            return name ? done(`${work}/downloads/${name}`) : setTimeout(look, 100); })());
        const [linkStatus, linkHash, linkSteps] = verify(linked);
        const [savedStatus, savedHash, savedSteps] = verify(fs.readFileSync(saved));
        check(linkStatus === 0 && savedStatus === 0 && linkSteps >= 1200 && savedSteps >= linkSteps,
            `desktop --verify: the link ${linkStatus} (${linkSteps} steps), the file ${savedStatus} (${savedSteps} steps)`);
        const input = await page.$('#replay-file');
        await input.uploadFile(saved);
        await until('the choice', () => !document.getElementById('replay-choice').hidden);
        await page.click('#replay-watch');
        const [ok, shown, note] = await replayed(null, await reloaded());
        check(ok && shown === savedHash && linkHash, `the saved file: desktop ${savedHash}; the page: ${note}`);
    },
    // A ghost says so; files and links that are not drives name what is wrong, and the game plays live.
    async ghost_and_errors() {
        const flipped = Buffer.from(fixture); flipped[40] ^= 4;
        const table = [[link(fixture).replace('#r=', '#g='), /^Ghost/, /^$/], [link(flipped), /^Live/, /bad-checksum/],
            [link(fixture.subarray(0, 20)), /^Live/, /truncated/], [`${origin}/index.html#r=AAA%`, /^Live/, /not base64url.*'%'/]];
        for (const [address, label, note] of table) {
            const [shownLabel, shownNote] = await load(address);
            check(label.test(shownLabel) && note.test(shownNote), `${address.slice(0, 60)}: ${shownLabel} | ${shownNote}`);
        }
        check(await page.evaluate(() => Module._orvo_mode()) === 0, 'a bad link left the game out of live play');
        await page.evaluate(() => { const drop = new DataTransfer(); drop.items.add(new File(['not a drive'], 'x.orvr'));
            window.dispatchEvent(new DragEvent('drop', { dataTransfer: drop, cancelable: true })); });
        await page.click('#replay-watch');
        const [, dropped] = await reloaded();
        check(/wrong-magic/.test(dropped), `a dropped file that is no drive: ${dropped}`);
    },
};

try {
    if (!desktop && testCase !== 'ghost_and_errors') {
        console.log('SKIPPED: ORVO_DESKTOP_GAME (the desktop orvo-game that checks the files) is not set');
        process.exitCode = 77;
    } else {
        await open();
        await cases[testCase]();
    }
} catch (error) {
    check(false, error.stack);
} finally {
    for (const end of ends.reverse()) {
        await end();
    }
}
process.exitCode ||= failures.length ? 1 : 0;
