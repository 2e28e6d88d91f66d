"""The browser build's page in headless chromium through selenium, as a player sees it. From the project
root: web_test.py SITE CASE [PNG]; the case touch writes the page with its buttons held to PNG when
given one. It serves SITE itself, and ends the browser and its driver on every way out."""
import contextlib, functools, math, os, shutil, signal, subprocess, sys, tempfile, time
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
from headless_page import open_page, wait_until  # noqa: E402  (shared with the figures and the screenshot)

site, case = sys.argv[1], sys.argv[2]
work, failures = tempfile.mkdtemp(), []
signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def check(ok, what):
    if not ok:
        failures.append(what)
        print(f"FAIL [{case}]: {what}", file=sys.stderr)


def game(driver, call):
    return driver.execute_script(f"return window.Module && Module.calledRun ? Module._orvo_{call}() : null")


def status(driver):
    return driver.execute_script("const s = document.getElementById('status'); return s.hidden ? '' : s.textContent")


def magick(*args, text=True):
    return subprocess.run(["convert", *args], capture_output=True, text=text, check=True).stdout


def picture(driver, name, phone=False):
    """The canvas's PNG, and where on it the car's paint is (its image's commonest opaque colour), from the centre.
    A phone's canvas is scaled back to 1280 x 720, and the paint is not looked for among the touch buttons."""
    driver.find_element("id", "canvas").screenshot(f"{work}/{name}.png")
    if phone:
        magick(f"{work}/{name}.png", "-resize", "1280x720!", f"{work}/{name}.png")
    opaque = [line for line in magick("res/gfx/car.png", "-format", "%c", "histogram:info:-").splitlines() if ",255)" in line]
    paint = "rgb(%s)" % ",".join(max(opaque, key=lambda line: int(line.split(":")[0])).split("(")[1].split(",")[:3])
    buttons = ["-fill", "black", "-draw", "rectangle 0,528 1279,719"] if phone else []
    mask = magick(f"{work}/{name}.png", *buttons, "-alpha", "off", "-fuzz", "8%", "-fill", "white", "-opaque", paint, "-fuzz", "0",
                  "-fill", "black", "+opaque", "white", "-depth", "8", "gray:-", text=False)
    return f"{work}/{name}.png", [(i % 1280 - 640, i // 1280 - 360) for i, value in enumerate(mask) if value]


def car_axis(paint, what):
    """Checks that the car is at the centre; the angle of its long axis, in degrees."""
    near = [(x, y) for x, y in paint if abs(x) <= 150 and abs(y) <= 150]
    check(len(paint) >= 60 and len(near) * 10 >= len(paint) * 9, f"{what}: {len(near)} of {len(paint)} car pixels near the centre")
    mx, my = (sum(p[i] for p in near) / max(len(near), 1) for i in (0, 1))
    moment = lambda f: sum(f(x - mx, y - my) for x, y in near)
    return math.degrees(0.5 * math.atan2(2 * moment(lambda x, y: x * y), moment(lambda x, y: x * x - y * y)))


def colour(png, region):
    return [int(v) for v in magick(png, "-crop", region, "+repage", "-alpha", "off", "-format",
                                   "%[fx:int(255*mean.r)] %[fx:int(255*mean.g)] %[fx:int(255*mean.b)]", "info:").split()]


def hold(driver, *keys, steps=0):
    start = game(driver, "physics_steps")
    functools.reduce(lambda chain, key: chain.key_down(key), keys, ActionChains(driver)).perform()
    wait_until(lambda: game(driver, "physics_steps") >= start + steps)


def started(driver):
    check(wait_until(lambda: (game(driver, "frames") or 0) > 20), f"no game frames: {status(driver)!r}")


def display_frames(driver, count):
    driver.execute_async_script("let [n, done] = arguments; (function tick() { --n > 0 ? requestAnimationFrame(tick) : done(); })()", count)


def sound(driver):
    return driver.execute_script("const c = window.Module && Module.SDL2 && Module.SDL2.audioContext; return c ? c.state : 'none'")


def case_page(driver):
    started(driver)
    check(sound(driver) == "suspended", f"the sound before any key is {sound(driver)!r}, not 'suspended'")
    parked, paint = picture(driver, "parked")
    axis = car_axis(paint, "parked")
    ground, tile = colour(parked, "300x200+150+420"), colour("res/gfx/grid.png", "100%x100%+0+0")
    check(math.dist(ground, tile) < 25 and math.dist(ground, (0, 0, 0)) > 40, f"ground {ground} black or unlike the tiles {tile}")
    mark, below = colour(parked, "50x4+30+23"), colour(parked, "50x4+30+45")
    check(math.dist(mark, below) > 60 and mark[0] > 150, f"overlay mark {mark} not over the ground {below}")
    hold(driver, Keys.ARROW_UP, steps=333)
    check(wait_until(lambda: sound(driver) == "running"), f"the sound after the first key is {sound(driver)!r}, not 'running'")
    driven, paint = picture(driver, "driven")
    rmse = subprocess.run(["compare", "-metric", "RMSE", "-extract", "1100x200+90+40", parked, driven, "null:"], capture_output=True, text=True).stderr
    check(float(rmse.split("(")[1].split(")")[0]) > 0.03, f"Up: the ground did not move (RMSE {rmse})")
    hold(driver, Keys.ARROW_UP, Keys.ARROW_RIGHT, steps=666)
    turn = abs(car_axis(picture(driver, "turned")[1], "after Up and Right") - axis) % 180
    check(min(turn, 180 - turn) > 15, f"Up and Right: the car turned {min(turn, 180 - turn):.1f} degrees")
    ActionChains(driver).key_up(Keys.ARROW_RIGHT).key_up(Keys.ARROW_UP).send_keys(Keys.ESCAPE).perform()
    check(wait_until(lambda: "ended" in status(driver)), f"no ended message after Escape: {status(driver)!r}")
    frames = game(driver, "frames")
    display_frames(driver, 30)
    check(game(driver, "frames") == frames, f"frames went on after the end: {frames}, then {game(driver, 'frames')}")
    # The page's link to the licences: the game's own, and the notices of the font, SDL and stb.
    notices = driver.execute_script("return fetch(document.querySelector('a[href=\"licenses.txt\"]').href).then(r => r.text())")
    check(all(name in notices for name in ("Orvo game authors", "Bitstream", "Sam Lantinga", "Sean Barrett")), "no licences linked")
    errors = [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    check(not errors, f"console errors: {errors}")


def case_hidden(driver):
    started(driver)
    driver.execute_script("window.seen = []; document.addEventListener('visibilitychange', () => seen.push("
                          "[document.visibilityState, performance.now(), Module._orvo_frames(), Module._orvo_physics_steps()]))")
    hold(driver, Keys.ARROW_UP, steps=100)
    check(game(driver, "keys_held") == 1, "Up is not held")
    page = driver.current_window_handle
    driver.switch_to.new_window("tab")
    time.sleep(30)  # what is tested: the page hidden behind another tab for this long
    driver.close()
    driver.switch_to.window(page)
    seen = wait_until(lambda: driver.execute_script("return seen.length >= 2 && seen"))
    display_frames(driver, 30)
    now, steps = driver.execute_script("return [performance.now(), Module._orvo_physics_steps()]")
    check([state for state, *_ in seen] == ["hidden", "visible"], f"visibility changes: {seen}")
    (_, _, hidden_frames, hidden_steps), (_, shown_at, shown_frames, _) = seen[:2]
    check(shown_frames - hidden_frames <= 1, f"{shown_frames - hidden_frames} frames ran while hidden")
    # Allowed: the steps of the last moments before the page was hidden; of the whole hidden time, 10,000.
    check(0 < steps - hidden_steps <= (now - shown_at) / 3 + 1000,
          f"{steps - hidden_steps} steps in the {now - shown_at:.0f} ms since the page was shown: a burst, or none")
    check(game(driver, "keys_held") == 0, "Up still held after the page lost the focus")


def case_instruments(driver):
    """The key line's Instruments button shows the instruments over the parked car's still picture, then hides them."""
    started(driver)
    canvas = driver.find_element("id", "canvas")
    shot = lambda name: canvas.screenshot(f"{work}/{name}.png") and f"{work}/{name}.png"
    off = shot("off")
    differ = lambda: float(subprocess.run(["compare", "-metric", "AE", "-fuzz", "2%", off, shot("now"), "null:"],
                                          capture_output=True, text=True).stderr.split()[0])
    driver.find_element("id", "instruments").click()
    check(wait_until(lambda: differ() > 50000, 60), f"the button did not show the instruments: {differ()} pixels changed")
    check(driver.switch_to.active_element == canvas, "the keys left the game")
    driver.find_element("id", "instruments").click()
    check(wait_until(lambda: differ() == 0, 60), f"the button again did not hide them: {differ()} pixels differ")


def touch(driver, kind, *fingers):  # `fingers`: those on the glass after the event, as (id, x, y) in CSS pixels
    driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": kind, "touchPoints": [{"id": i, "x": x, "y": y} for i, x, y in fingers]})


def case_touch(driver):
    """A phone held sideways, 844 x 390 CSS pixels, then upright: the buttons come with the first touch,
    one thumb drives while the other steers, and swipes, pinches and double taps neither scroll nor zoom."""
    phone = {"width": 844, "height": 390, "deviceScaleFactor": 2, "mobile": True}
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", phone)
    driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 5})
    driver.refresh()
    started(driver)
    view = "const r = canvas.getBoundingClientRect(); return [r.left, r.top, r.width, r.height, scrollX, scrollY, visualViewport.scale, getComputedStyle(turn).display]"
    left, top, width, height, *_ = driver.execute_script(view)
    inside = min(left, top) > -0.5 and left + width < 844.5 and top + height < 390.5
    check(inside and (abs(height - 390) < 1 or abs(width - 844) < 1), f"the picture at {left}, {top}, {width} x {height}")
    shown_buttons = driver.execute_script("return ['instruments', 'replay-save'].map((id) => document.getElementById(id).getBoundingClientRect().width)")
    check(min(shown_buttons) > 0, f"the page's buttons are not shown on a phone: {shown_buttons}")
    # What floats over the picture stays within its top 56 pixels, which the instruments leave clear.
    floating = driver.execute_script("return ['keys', 'replay-mode'].map((id) => document.getElementById(id).getBoundingClientRect().bottom)")
    check(max(floating) - top < 56 * height / 720, f"the buttons or the replay label reach below y 56 of the picture: {floating}")
    at = lambda finger, x, y: (finger, left + x * width / 1280, top + y * height / 720)  # a point of the picture
    rmse = lambda a, b, region: float(subprocess.run(["compare", "-metric", "RMSE", "-extract", region, a, b, "null:"],
                                                     capture_output=True, text=True).stderr.split("(")[1].split(")")[0])
    drive, right, button = (0, 1168, 608), (1, 272, 608), "130x130+1103+543"
    parked, paint = picture(driver, "parked", phone=True)
    axis = car_axis(paint, "parked")
    touch(driver, "touchStart", at(2, 640, 360)), touch(driver, "touchEnd"), display_frames(driver, 10)
    shown = picture(driver, "shown", phone=True)[0]
    check(rmse(parked, shown, button) > 0.05, "no button appeared with the first touch")
    touch(driver, "touchStart", at(*drive)), hold(driver, steps=333)
    check(rmse(parked, picture(driver, "driven", phone=True)[0], "1100x200+90+40") > 0.03, "drive held: the ground did not move")
    touch(driver, "touchStart", at(*drive), at(*right)), hold(driver, steps=100)
    lit = picture(driver, "lit", phone=True)[0]
    check(sum(colour(lit, button)) > sum(colour(shown, button)) + 60, "the held drive button is not lit")
    _ = len(sys.argv) > 3 and driver.save_screenshot(sys.argv[3])
    # A picture takes seconds of game time here: the car keeps its heading once the fingers are off.
    touch(driver, "touchEnd"), display_frames(driver, 10)
    turn = abs(car_axis(picture(driver, "turned", phone=True)[1], "after drive and steer right") - axis) % 180
    check(min(turn, 180 - turn) > 5, f"drive and steer right: the car turned {min(turn, 180 - turn):.1f} degrees")
    # A swipe, a pinch and a double tap in the bar beside the picture, where the game's touch handling does not reach.
    pinch = [("touchMove", [(0, 30 - 5 * i, 170 - 30 * i), (1, 40 + 5 * i, 220 + 30 * i)]) for i in range(1, 6)]
    for kind, fingers in [("touchStart", [(0, 30, 300)]), ("touchMove", [(0, 40, 40)]), ("touchEnd", []),
                          ("touchStart", [(0, 30, 170), (1, 40, 220)]), *pinch, ("touchEnd", []),
                          *[("touchStart", [(0, 35, 120)]), ("touchEnd", [])] * 3]:
        touch(driver, kind, *fingers)
    display_frames(driver, 30)
    check(driver.execute_script(view)[4:] == [0, 0, 1, "none"], f"scrolled or zoomed, or the hint shown: {driver.execute_script(view)}")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {**phone, "width": 390, "height": 844})
    display_frames(driver, 5)
    check(abs(driver.execute_script(view)[2] - 390) < 1 and driver.execute_script(view)[7] != "none", "upright: not fitted, or no hint")


with contextlib.ExitStack() as stack:
    stack.callback(shutil.rmtree, work, True)
    # Pages that cannot run the game say why: the browser's flags, the files left out of the site, the words.
    said = {"missing_data": ((), "*.data", "orvo-game.data"), "no_webgl": (("--disable-webgl", "--disable-3d-apis"), "", "no WebGL")}
    if case in said:
        flags, left_out, words = said[case]
        shutil.copytree(site, f"{work}/site", ignore=shutil.ignore_patterns(left_out))
        driver = open_page(stack, f"{work}/site", *flags)
        check(wait_until(lambda: words in status(driver)), f"{words!r} not said: {status(driver)!r}")
    else:
        {"page": case_page, "hidden": case_hidden, "touch": case_touch, "instruments": case_instruments}[case](open_page(stack, site))
sys.exit(1 if failures else 0)
