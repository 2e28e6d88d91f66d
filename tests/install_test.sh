#!/usr/bin/env bash
# The game as a player installs it: installed into a prefix and started from another folder (and
# again after the prefix is moved), the errors that say where images were looked for, and the
# Debian package's contents. Usage, from the project root: install_test.sh <build> <orvo-game> <case>
set -uo pipefail
build=$1 game=$2 case=$3
work=$(realpath "$(mktemp -d)") pid= xvfb= failures=0
trap '[ -n "$pid" ] && kill -KILL "$pid"; [ -n "$xvfb" ] && kill "$xvfb"; rm -rf "$work"' EXIT
fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }
installed=(bin/orvo-game share/orvo-game/res/gfx/{bluedot,car,carshade,grid,hud,reddot,tyre}.png
    share/applications/orvo-game.desktop share/icons/hicolor/128x128/apps/orvo-game.png)

# A virtual screen of its own, on the display number that Xvfb picks and reports.
start_display() {
    Xvfb -displayfd 3 -screen 0 2800x1000x24 -nolisten tcp 3>"$work/display" 2>/dev/null & xvfb=$!
    for _ in $(seq 300); do [ -s "$work/display" ] && export DISPLAY=":$(cat "$work/display")" && return; sleep 0.1; done
    fail "Xvfb reported no display"; exit 1
}

# Starts game $1 in folder $2 on the X display; wait_end waits up to $1 tenths of a second for
# it to end (then kills it: status 137) and sets status.
start_game() { (cd "$2" && SDL_VIDEODRIVER=x11 exec "$1" >"$work/out" 2>"$work/err") & pid=$!; }
wait_end() {
    for _ in $(seq "$1"); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null; wait "$pid"; status=$? pid=
}

# Game $1, started from /, shows the scene in its window (not a blank frame) and Escape ends it.
play_from_root() {
    local id= colours=0
    start_game "$1" /
    for _ in $(seq 300); do
        id=$(timeout 5 xdotool search --onlyvisible --pid "$pid" --name '^Orvo game$' 2>/dev/null | head -n 1)
        [ -n "$id" ] && timeout 10 import -window "$id" "$work/shot.png" 2>/dev/null &&
            colours=$(identify -format %k "$work/shot.png") && [ "$colours" -gt 100 ] && break
        sleep 0.1
    done
    [ "$colours" -gt 100 ] || fail "$1: no window showing the scene ($colours colours) $(cat "$work/err")"
    timeout 15 xdotool windowfocus --sync "$id" key Escape
    wait_end 300
    [ "$status" = 0 ] || fail "$1 ended with status $status after Escape: $(cat "$work/err")"
}

case_installed() {
    cmake --install "$build" --prefix "$work/a" >/dev/null || fail "cmake --install failed"
    for f in "${installed[@]}"; do [ -s "$work/a/$f" ] || fail "$f not installed"; done
    local entry=$work/a/share/applications/orvo-game.desktop
    desktop-file-validate "$entry" || fail "desktop entry rejected"
    [ "$(grep -cx -e 'Name=Orvo game' -e 'Exec=orvo-game' -e 'Icon=orvo-game' -e 'Categories=Game;' "$entry")" = 4 ] ||
        fail "desktop entry does not start orvo-game from the Game menu with its icon"
    [ "$(identify -format '%w %h %[opaque]' "$work/a/${installed[-1]}")" = "128 128 false" ] || fail "icon not transparent 128 px"
    start_display
    play_from_root "$work/a/bin/orvo-game"
    mv "$work/a" "$work/moved" && play_from_root "$work/moved/bin/orvo-game"
}

case_missing_images() {
    start_display && mkdir "$work/empty" && start_game "$game" "$work/empty" && wait_end 600
    [ "$status" = 134 ] || fail "status $status, not 134 (SIGABRT)"
    local data; data=$(realpath -m "$(dirname "$game")/../share/orvo-game/res/gfx")
    grep -qF "$work/empty/res/gfx" "$work/err" && grep -qF "$data" "$work/err" ||
        fail "the error does not name both $work/empty/res/gfx and $data: $(cat "$work/err")"
}

case_huge_texture() {
    # ImageMagick's own policy stops at 16K pixels wide; a policy file of the test's lets it go on.
    mkdir -p "$work/big/res" && cp -r res/gfx "$work/big/res/" &&
        echo '<policymap><policy domain="resource" name="width" value="64KP"/></policymap>' >"$work/policy.xml" &&
        MAGICK_CONFIGURE_PATH=$work convert -size 20000x64 xc:red "$work/big/res/gfx/hud.png" || fail "no 20000 px image"
    start_display && start_game "$game" "$work/big" && wait_end 600
    [ "$status" = 134 ] || fail "status $status, not 134 (SIGABRT)"
    # The path and SDL's reason come on a line before the assertion's.
    awk '/texture != nullptr/ { ok = named; exit } /res\/gfx\/hud\.png.*: [[:alpha:]]/ { named = 1 } END { exit !ok }' "$work/err" ||
        fail "no path and reason before the assertion: $(cat "$work/err")"
}

case_package() {
    (cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null) || fail "cpack failed"
    local deb listing
    deb=$(ls "$work"/pkg/orvo-game_*.deb) && listing=$(dpkg-deb -c "$deb") || { fail "no package"; return; }
    for f in "${installed[@]}"; do grep -q " \./usr/$f\$" <<<"$listing" || fail "/usr/$f not in the package"; done
    dpkg-deb -f "$deb" Depends | grep -q libsdl2-image || fail "no dependency on SDL2_image"
}

"case_$case"
[ "$failures" -eq 0 ] && echo "install_test: $case passed"
exit $((failures > 0))
