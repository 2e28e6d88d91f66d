"""Figures of the browser build in Debian's headless chromium: the frames per second and the page's
main-thread time per frame while the car drives, over ten seconds, the gzip-compressed size of
the files the page loads, and what a first and a second visit download from the server. Usage, from the project root: /usr/bin/python3 bench/web_frames.py [SITE]
(build/web by default; scripts/web makes it)."""
import contextlib, gzip, os, signal, sys, time
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
from headless_page import open_page, wait_until  # noqa: E402

site = sys.argv[1] if len(sys.argv) > 1 else "build/web"
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def gzipped(name):
    with open(os.path.join(site, name), "rb") as file:
        return len(gzip.compress(file.read(), 9))


total = 0
for name in ("orvo-game.js", "orvo-game.wasm", "orvo-game.data"):
    total += gzipped(name)
    print(f"{name}: {gzipped(name) / 1024:.0f} KB gzip-compressed")
print(f"together: {total / 1024:.0f} KB")

with contextlib.ExitStack() as stack:
    driver = open_page(stack, site)
    frames = lambda: driver.execute_script("return window.Module && Module.calledRun ? Module._orvo_frames() : 0")
    deadline = time.monotonic() + 120
    while frames() < 30 and time.monotonic() < deadline:
        time.sleep(0.2)
    ActionChains(driver).key_down(Keys.ARROW_UP).key_down(Keys.ARROW_RIGHT).perform()
    driver.execute_cdp_cmd("Performance.enable", {})

    def sample():
        metrics = {m["name"]: m["value"] for m in driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
        return time.monotonic(), frames(), metrics["TaskDuration"], metrics["ScriptDuration"]

    t0, f0, task0, script0 = sample()
    time.sleep(10)
    t1, f1, task1, script1 = sample()
    count = f1 - f0
    print(f"headless chromium: {count / (t1 - t0):.1f} frames per second")
    print(f"main thread per frame: {1000 * (task1 - task0) / count:.2f} ms of tasks, "
          f"{1000 * (script1 - script0) / count:.2f} ms of script")

    # The service worker keeps the site once the game runs; then a visit downloads what its requests
    # to the server brought (200), at each file's gzip-compressed size, and the worker's update check.
    wait_until(lambda: driver.execute_async_script("navigator.serviceWorker.getRegistration()"
                                                   ".then((r) => arguments[0](Boolean(r && r.active)))"), 60)
    for visit in ("first", "second"):
        got = [path.lstrip("/") for path, status in driver.server.requests if status == 200]
        print(f"{visit} visit: {len(got)} files, {sum(map(gzipped, got)) / 1024:.1f} KB gzip-compressed; "
              f"requests: {' '.join(f'{path} {status}' for path, status in driver.server.requests)}")
        driver.server.requests.clear()
        driver.refresh()
        wait_until(lambda: frames() > 30 and driver.server.requests, 60)
