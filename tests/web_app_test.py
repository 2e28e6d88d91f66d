"""The site as an app in headless chromium: installable, played offline after one visit, updated to a new build,
packed in a zip. From the project root: web_app_test.py SITE CASE ZIP; it serves the site itself."""
import contextlib, json, os, shutil, signal, subprocess, sys, tempfile, zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
from headless_page import open_page, wait_until  # noqa: E402

site, case, zip_path = sys.argv[1:4]
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
plays = lambda driver: wait_until(lambda: driver.execute_script(  # frames drawn, and nothing in the status box
    "return window.Module && Module.calledRun && Module._orvo_frames() > 20 && document.getElementById('status').hidden"))
kept = lambda driver: wait_until(lambda: driver.execute_async_script(  # the caches, once the worker is settled
    "const done = arguments[0]; navigator.serviceWorker.getRegistration().then((r) => r && r.active && !r.waiting"
    " && r.active.state === 'activated' ? caches.keys() : null).then(done, () => done(null))"), 60)
check = lambda ok, what: ok or sys.exit(f"FAIL [{case}]: {what}")


with contextlib.ExitStack() as stack:
    work = stack.enter_context(tempfile.TemporaryDirectory())
    files = sorted(os.path.relpath(os.path.join(d, f), site) for d, _, names in os.walk(site) for f in names)
    if case == "install":
        driver = open_page(stack, site)
        check(plays(driver) and driver.execute_cdp_cmd("Page.getInstallabilityErrors", {})["installabilityErrors"] == [], "not installable")
        icons = driver.execute_async_script("Promise.all(arguments[0].map((icon) => fetch(icon.src).then((r) => r.blob()).then("
                                            "createImageBitmap).then((b) => `${b.width}x${b.height} ${icon.purpose}`))).then(arguments[1])",
                                            json.loads(driver.execute_cdp_cmd("Page.getAppManifest", {})["data"])["icons"])
        check(sorted(icons) == ["192x192 any", "192x192 maskable", "512x512 any"], f"icons {icons}")
        # A phone's browser without full screen: no button, and a hint to add the page to the home screen.
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": "delete Element.prototype.requestFullscreen;"
                               "Object.defineProperty(Document.prototype, 'fullscreenEnabled', {get: () => undefined})"})
        driver.refresh()
        seen = plays(driver) and driver.execute_script("return [fullscreen.hidden, document.getElementById('home-hint').textContent]")
        check(seen and seen[0] and "home screen" in seen[1], f"without full screen: {seen}")
    elif case == "offline":
        driver = open_page(stack, site)
        check(plays(driver) and kept(driver), "the game does not run, or its worker is not active")
        root = driver.current_url.rsplit("/", 1)[0]
        driver.get(f"{root}/licenses.txt")  # opened once, online: kept too
        driver.execute_cdp_cmd("Network.clearBrowserCache", {})  # only the worker's copies are left
        driver.server.shutdown(), driver.server.server_close()  # and the network is gone
        for address in ("index.html", "", "index.html#r=AAAA"):
            driver.get(f"{root}/{address}")
            check(plays(driver), f"offline, /{address} does not play")
        driver.get(f"{root}/licenses.txt")
        check("MIT" in driver.page_source, "offline, the licences opened before do not open")
    elif case == "update":
        shutil.copytree(site, f"{work}/site")
        driver = open_page(stack, f"{work}/site")
        build = lambda: driver.execute_script("return document.body.dataset.build || 'first'")
        old = plays(driver) and kept(driver)
        with open(f"{work}/site/index.html", "r+") as page:  # a new build: one file changed, the worker made anew
            text = page.read().replace("<body>", '<body data-build="second">')
            page.seek(0), page.write(text)
        subprocess.run(["cmake", f"-DSITE={work}/site", "-DTEMPLATE=web/sw.js", "-P", "web/make-worker.cmake"], check=True)
        driver.server.requests.clear()
        driver.refresh()  # the visit in which the browser finds the new build runs the one it opened with
        check(plays(driver) and build() == "first", f"the visit that found the new build runs the {build()}")
        check(wait_until(lambda: driver.execute_async_script(
            "navigator.serviceWorker.getRegistration().then((r) => arguments[0](Boolean(r.waiting)))")), "no new build installed")
        driver.refresh()
        check(plays(driver) and build() == "second", f"the next visit runs the {build()} build")
        check(wait_until(lambda: (names := kept(driver)) and len(names) == 1 and names != old), f"caches {old}, then {kept(driver)}")
        fetched = sorted(path for path, _ in driver.server.requests if path != "/sw.js")
        check(fetched == ["/index.html"], f"the update fetched {fetched}, not the changed file alone")
    elif case == "zip":
        with zipfile.ZipFile(zip_path) as packed:
            check(sorted(packed.namelist()) == files, f"the zip holds {packed.namelist()}")
            packed.extractall(f"{work}/unzipped")
        check(plays(open_page(stack, f"{work}/unzipped")), "the unzipped site does not play")
