# Shared by scripts/play, scripts/test and scripts/package: installs, through apt, whichever of
# the named Debian packages is missing (with sudo when not root), and nothing when all are there.
# Source it, then call: orvo_install_packages pkg...

orvo_install_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Missing packages: ${missing[*]}; install them as root (sudo is not available)." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}" >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What it takes to build and run the game; dpkg-dev gives the release build Debian's hardening
# flags (dpkg-buildflags).
ORVO_BUILD_PACKAGES=(cmake make g++ pkg-config libsdl2-dev libsdl2-image-dev dpkg-dev)
# What making the Debian package needs beside: dpkg-shlibdeps and dpkg-deb, and `file`, with which
# CPack picks out the programs whose libraries dpkg-shlibdeps turns into dependencies.
ORVO_PACKAGE_PACKAGES=(dpkg-dev file)
# What checks the package as Debian would: lintian, hardening-check (in devscripts), appstreamcli
# (in appstream) for the metainfo, and man-db, which finds the installed manual page.
ORVO_PACKAGE_CHECK_PACKAGES=(lintian devscripts appstream man-db)
# What the test suite needs beside: GoogleTest, a virtual X server and a window manager (and
# Python's X library for a window manager of the tests' own), the tools that press keys, find
# windows and take screenshots of the real program, those that check the installed game's desktop
# entry and package (and Debian's checks of the package), the formatter, git (which lists the files
# to check), sox (which measures the recorded sound), setpriv and awk, which a bare Debian has today
# but need not keep, and the font and the TrueType reader from which the image generator (built
# with the tests) bakes the text's glyphs.
ORVO_TEST_PACKAGES=(libgtest-dev xvfb xauth xdotool x11-utils imagemagick openbox python3-xlib desktop-file-utils
    "${ORVO_PACKAGE_PACKAGES[@]}" "${ORVO_PACKAGE_CHECK_PACKAGES[@]}" clang-format git util-linux mawk sox
    libstb-dev fonts-dejavu-core)
# What fuzzing the replay reader needs (scripts/fuzz): clang with libFuzzer and the sanitizers' runtimes.
ORVO_FUZZ_PACKAGES=(clang libclang-rt-14-dev libfuzzer-14-dev)
# What the browser build needs (scripts/web): the WebAssembly compiler, dpkg-source to unpack the
# SDL source packages it builds for the web, python3 to serve the site, and optipng, which
# recompresses the site's images without loss.
ORVO_WEB_PACKAGES=(cmake make pkg-config libsdl2-dev libsdl2-image-dev emscripten nodejs dpkg-dev python3 optipng)
# What the browser tests need beside: the headless browser and the automation library that drives it;
# Firefox, on a virtual X server, and npm, which installs the library that drives both browsers
# for the replays' tests (tests/browser/package.json).
ORVO_WEB_TEST_PACKAGES=(chromium chromium-driver python3-selenium imagemagick libgtest-dev firefox-esr xvfb nodejs)
# A node from elsewhere than Debian (a nodejs package that bundles its own npm) cannot have Debian's
# npm installed beside it: Debian's npm is asked for only where there is no npm at all.
command -v npm >/dev/null 2>&1 || ORVO_WEB_TEST_PACKAGES+=(npm)
# The CMake options of a build for the web (run from the project root, after scripts/web has made
# build/web-deps): SDL's packages named one by one, because emscripten's own system folder, which
# CMake searches first, has an SDL2 package of its own that is not this one.
ORVO_WEB_CMAKE_OPTIONS=(-DSDL2_DIR="$PWD/build/web-deps/lib/cmake/SDL2"
    -DSDL2_image_DIR="$PWD/build/web-deps/lib/cmake/SDL2_image")
