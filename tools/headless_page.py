"""A static site served on 127.0.0.1 and opened in Debian's headless chromium through selenium, for
the browser build's tests (tests/web_test.py), its figures (bench/web_frames.py) and its screenshot
(tools/screenshot-web). Everything started is ended when the given contextlib.ExitStack closes."""
import contextlib, functools, http.server, os, signal, tempfile, threading, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves quietly, noting each request's path and status in its server's `requests`."""
    def log_message(self, *_):
        pass

    def log_request(self, code="-", size="-"):
        self.server.requests.append((self.path, int(code)))


def wait_until(condition, seconds=90):
    """Polls `condition` until it holds or the time is up; its last value."""
    deadline = time.monotonic() + seconds
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return value


def end_group(leader):
    """Kills what is left of the process group that `leader` started (the leader may be gone)."""
    with contextlib.suppress(ProcessLookupError):
        os.killpg(leader, signal.SIGKILL)


def open_page(stack, folder, *flags):
    """Opens folder's index.html in a page of 1280 x 760 pixels, where the canvas shows the game at
    its own size, 1280 x 720; the browser's log is kept (driver.get_log("browser")), and the server
    is driver.server (its `requests` so far, shutdown() to take the site off the network)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=folder))
    server.requests = []
    threading.Thread(target=server.serve_forever, daemon=True).start()
    stack.callback(server.shutdown)
    profile = stack.enter_context(tempfile.TemporaryDirectory())
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--disable-quic", f"--user-data-dir={profile}") + flags:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # In a session of their own, the driver and the browser it starts are ended together, whatever is left.
    service = Service("/usr/bin/chromedriver", popen_kw={"start_new_session": True})
    stack.callback(lambda: service.process and end_group(service.process.pid))
    driver = webdriver.Chrome(service=service, options=options)
    stack.callback(driver.quit)
    driver.server = server
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 760, "deviceScaleFactor": 1, "mobile": False})
    driver.get(f"http://127.0.0.1:{server.server_address[1]}/index.html")
    return driver
