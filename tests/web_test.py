"""The browser build's page in headless chromium, driven through selenium, as a player sees it.
Usage, from the project root: web_test.py SITE CASE (page, hidden, missing_data or no_webgl). It
serves SITE itself; the browser and its driver are ended on every way out."""
import contextlib, functools, http.server, math, os, shutil, signal, subprocess, sys, tempfile, threading, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

site, case = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
failures = []
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def check(ok, what):
    if not ok:
        failures.append(what)
        print(f"FAIL [{case}]: {what}", file=sys.stderr)


def wait_until(condition, seconds=90):
    deadline = time.monotonic() + seconds
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return value


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *_):
        pass


def kill_group(pid):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(pid, signal.SIGKILL)


def open_page(stack, folder, *flags):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(QuietHandler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    stack.callback(server.shutdown)
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                 "--window-size=1280,800", "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--no-first-run", "--disable-quic", f"--user-data-dir={work}/profile") + flags:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # Its own session, so that the driver and the browser it starts end together, whatever happens.
    service = ChromeService("/usr/bin/chromedriver", popen_kw={"start_new_session": True})
    stack.callback(lambda: service.process and kill_group(service.process.pid))
    driver = webdriver.Chrome(service=service, options=options)
    stack.callback(driver.quit)
    # A page of 1280 x 760 pixels: the canvas then shows the game at its own size, 1280 x 720.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {"width": 1280, "height": 760, "deviceScaleFactor": 1, "mobile": False})
    driver.get(f"http://127.0.0.1:{server.server_address[1]}/index.html")
    return driver


def game(driver, call):
    return driver.execute_script(f"return window.Module && Module.calledRun ? Module._orvo_{call}() : null")


def status(driver):
    return driver.execute_script("const s = document.getElementById('status'); return s.hidden ? '' : s.textContent")


def shot(driver, name):
    driver.find_element("id", "canvas").screenshot(f"{work}/{name}.png")
    return f"{work}/{name}.png"


def magick(*args):
    return subprocess.run(["convert", *args], capture_output=True, text=True, check=True).stdout


def car_pixels(png):
    """(x, y) of every pixel of the car's paint (the commonest opaque colour of its image)."""
    histogram = sorted(magick("res/gfx/car.png", "-format", "%c", "histogram:info:-").splitlines(), reverse=True,
                       key=lambda line: int(line.split(":")[0]))
    paint = next(line.split("(")[1].split(")")[0] for line in histogram if line.split(")")[0].endswith(",255"))
    paint = "rgb(" + ",".join(paint.split(",")[:3]) + ")"
    raw = subprocess.run(["convert", png, "-alpha", "off", "-fuzz", "8%", "-fill", "white", "-opaque", paint,
                          "-fuzz", "0", "-fill", "black", "+opaque", "white", "-depth", "8", "gray:-"],
                         capture_output=True, check=True).stdout
    return [(i % 1280, i // 1280) for i, value in enumerate(raw) if value]


def car_axis(png, what):
    """Checks that the car is at the centre, as on the desktop; returns the angle of its long axis."""
    pixels = car_pixels(png)
    near = [(x - 640, y - 360) for x, y in pixels if abs(x - 640) <= 150 and abs(y - 360) <= 150]
    check(len(pixels) >= 60 and len(near) * 10 >= len(pixels) * 9, f"{what}: {len(near)} of {len(pixels)} car pixels near the centre")
    n = max(len(near), 1)
    mx, my = sum(x for x, _ in near) / n, sum(y for _, y in near) / n
    moment = lambda f: sum(f(x - mx, y - my) for x, y in near)
    return math.degrees(0.5 * math.atan2(2 * moment(lambda x, y: x * y), moment(lambda x, y: x * x - y * y)))


def region(png, geometry):
    return [int(v) for v in magick(png, "-crop", geometry, "+repage", "-alpha", "off", "-format",
                                   "%[fx:int(255*mean.r)] %[fx:int(255*mean.g)] %[fx:int(255*mean.b)]", "info:").split()]


def distance(a, b):
    return sum((x - y) ** 2 for x, y in zip(a, b)) ** 0.5


def hold(driver, *keys):
    chain = ActionChains(driver)
    for key in keys:
        chain.key_down(key)
    chain.perform()


def run_steps(driver, count):
    start = game(driver, "physics_steps")
    return wait_until(lambda: game(driver, "physics_steps") >= start + count)


def display_frames(driver, count):
    driver.execute_async_script("let [n, done] = arguments; const tick = () => --n > 0 ? requestAnimationFrame(tick) : done();"
                                "requestAnimationFrame(tick)", count)


def started(driver):
    return wait_until(lambda: (game(driver, "frames") or 0) > 20) or check(False, f"no game frames: {status(driver)!r}")


def case_page(driver):
    started(driver)
    parked = shot(driver, "parked")
    axis = car_axis(parked, "parked")
    ground, tile = region(parked, "300x200+150+420"), region("res/gfx/grid.png", "100%x100%+0+0")
    check(distance(ground, tile) < 25 and distance(ground, (0, 0, 0)) > 40, f"ground {ground} black or unlike the tiles {tile}")
    mark, below = region(parked, "50x4+30+23"), region(parked, "50x4+30+45")
    check(distance(mark, below) > 60 and mark[0] > 150, f"overlay mark {mark} not over the ground {below}")
    hold(driver, Keys.ARROW_UP)
    run_steps(driver, 333)
    driven = shot(driver, "driven")
    rmse = subprocess.run(["compare", "-metric", "RMSE", "-extract", "1100x200+90+40", parked, driven, "null:"],
                          capture_output=True, text=True).stderr
    check(float(rmse.split("(")[1].split(")")[0]) > 0.03, f"Up: the ground did not move (RMSE {rmse})")
    car_axis(driven, "after Up")
    hold(driver, Keys.ARROW_UP, Keys.ARROW_RIGHT)
    run_steps(driver, 666)
    turn = abs(car_axis(shot(driver, "turned"), "after Up and Right") - axis) % 180
    turn = min(turn, 180 - turn)
    check(turn > 15, f"Up and Right: the car turned {turn:.1f} degrees")
    ActionChains(driver).key_up(Keys.ARROW_RIGHT).key_up(Keys.ARROW_UP).send_keys(Keys.ESCAPE).perform()
    check(wait_until(lambda: "ended" in status(driver)), f"no ended message after Escape: {status(driver)!r}")
    frames = game(driver, "frames")
    display_frames(driver, 30)
    check(game(driver, "frames") == frames, f"frames went on after the end: {frames}, then {game(driver, 'frames')}")
    errors = [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    check(not errors, f"console errors: {errors}")


def case_hidden(driver):
    started(driver)
    driver.execute_script("window.seen = []; document.addEventListener('visibilitychange', () => seen.push("
                          "[document.visibilityState, performance.now(), Module._orvo_frames(), Module._orvo_physics_steps()]))")
    hold(driver, Keys.ARROW_UP)
    run_steps(driver, 100)
    check(game(driver, "keys_held") == 1, "Up is not held")
    page = driver.current_window_handle
    driver.switch_to.new_window("tab")
    time.sleep(30)  # what is tested: the page hidden for this long behind another tab
    driver.close()
    driver.switch_to.window(page)
    seen = wait_until(lambda: driver.execute_script("return seen.length >= 2 && seen"))
    display_frames(driver, 30)
    now, steps = driver.execute_script("return [performance.now(), Module._orvo_physics_steps()]")
    check([state for state, *_ in seen] == ["hidden", "visible"], f"visibility changes: {seen}")
    (_, _, hidden_frames, hidden_steps), (_, shown_at, shown_frames, _) = seen[:2]
    check(shown_frames - hidden_frames <= 1, f"{shown_frames - hidden_frames} frames ran while hidden")
    check(0 < steps - hidden_steps <= (now - shown_at) / 3 + 50,
          f"{steps - hidden_steps} steps in the {now - shown_at:.0f} ms since the page was shown: a burst, or none")
    check(game(driver, "keys_held") == 0, "Up still held after the page lost the focus")


with contextlib.ExitStack() as stack:
    stack.callback(shutil.rmtree, work, True)
    stack.callback(shutil.copytree, work, "/tmp/webshots", dirs_exist_ok=True, ignore=shutil.ignore_patterns("profile"))
    if case == "missing_data":
        shutil.copytree(site, f"{work}/site")
        os.remove(f"{work}/site/orvo-game.data")
        driver = open_page(stack, f"{work}/site")
        check(wait_until(lambda: "orvo-game.data" in status(driver)), f"missing file not named: {status(driver)!r}")
    elif case == "no_webgl":
        driver = open_page(stack, site, "--disable-webgl", "--disable-3d-apis")
        check(wait_until(lambda: "no WebGL" in status(driver)), f"no WebGL not said: {status(driver)!r}")
    else:
        {"page": case_page, "hidden": case_hidden}[case](open_page(stack, site))
sys.exit(1 if failures else 0)
