// Makes docs/screenshot-web-replay.png: the page of build/web (scripts/web makes it) after a drive
// made with the keys was opened from its link and played to its end, with the replay's check shown
// and the link to the drive so far. Firefox by default, on an X server of its own.
//
// Usage: node tools/screenshot-replay.mjs [firefox|chromium] [output.png]
// (needs the browser, Xvfb for Firefox, and puppeteer-core as the test build installs it:
// build/web-test/tests/browser, or the folder named by $ORVO_BROWSER_MODULES)
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openSite } from './browser_page.mjs';

const [browserName = 'firefox', output = 'docs/screenshot-web-replay.png'] = process.argv.slice(2);
const modules = process.env.ORVO_BROWSER_MODULES || 'build/web-test/tests/browser';
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'orvo-screenshot-'));
const { page, origin, close } = await openSite('build/web', browserName, { modules, downloads });
try {
    const waitFor = (condition, ...args) => page.waitForFunction(condition, { timeout: 120000, polling: 50 }, ...args);
    const drive = async (keys, steps) => {
        const from = await page.evaluate(() => Module._orvo_physics_steps());
        await Promise.all(keys.map((key) => page.keyboard.down(key)));
        await waitFor((goal) => Module._orvo_physics_steps() >= goal, from + steps);
        await Promise.all(keys.map((key) => page.keyboard.up(key)));
    };
    const running = () => waitFor(() => window.Module && Module.calledRun && Module._orvo_frames() > 10);

    await page.goto(`${origin}/index.html`);
    await running();
    await drive(['ArrowUp'], 500);
    await drive(['ArrowUp', 'ArrowRight'], 300);
    await page.click('#replay-copy');
    const link = await page.$eval('#replay-link', (box) => box.value);
    await page.goto('about:blank');
    await page.goto(link);
    await running();
    await waitFor(() => /final state/.test(document.getElementById('replay-note-text').textContent));
    await page.click('#replay-copy');
    await page.screenshot({ path: output });
    console.log(output);
} finally {
    await close();
    fs.rmSync(downloads, { recursive: true, force: true });
}
