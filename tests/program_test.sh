#!/usr/bin/env bash
# The real program as a user sees it: its window and what it shows, the ways it ends, driving, a
# stopped process catching up, failed start-ups. Usage, from the project root: program_test.sh
# <orvo-game> <case> (a case_<case> below). Each case starts its own X server (start_x WxH) and
# maybe a window manager (start_wm); whatever it starts is ended on every way out.
set -uo pipefail

game=$(realpath "$1") case=$2
root=$PWD work=$(mktemp -d) failures=0 pid= started=()
trap 'for each in "${started[@]}"; do kill -KILL "$each" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT HUP
fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

# Polls command "${@:2}" every 0.1 s until it succeeds or $1 seconds have passed.
wait_until() { local deadline=$((SECONDS + $1)); shift; until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.1; done; }

# Runs "$@" in the background, killed with SIGKILL should this script die before its cleanup.
spawn() { setpriv --pdeathsig KILL -- "$@" & started+=($!); }

# Starts an X server with a screen of $1 (WxH) on a free display it picks itself; sets DISPLAY. Without
# -noreset it resets when its last client (a game, an xdotool poll) leaves, refusing connections then.
start_x() {
    spawn Xvfb -displayfd 3 -noreset -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log"
    wait_until 30 grep -q '[0-9]' "$work/display" || { fail "no X server: $(cat "$work/xvfb.log")"; return 1; }
    export DISPLAY=":$(tr -dc 0-9 <"$work/display")"
}

# Starts openbox and waits until it runs its start-up command. It sets _NET_SUPPORTING_WM_CHECK
# earlier, before it has read its theme and fonts, which on its first start on a new system takes
# a while (fontconfig's cache is rebuilt); a window mapped meanwhile stays unmanaged and unmapped.
start_wm() {
    spawn openbox --sm-disable --startup "touch $work/wm-ready" >/dev/null 2>&1
    wait_until 30 test -e "$work/wm-ready" || { fail "no window manager"; return 1; }
}

# A window manager that never shows a window: it takes the redirect and ignores every request.
# Debian's Python, where python3-xlib is, whatever python3 comes first on PATH.
start_unmapping_wm() {
    spawn /usr/bin/python3 -c 'import sys; from Xlib import X, display
d = display.Display(); d.screen().root.change_attributes(event_mask=X.SubstructureRedirectMask); d.sync()
open(sys.argv[1], "w").close()
while True: d.next_event()' "$work/wm-ready"
    wait_until 30 test -e "$work/wm-ready" || { fail "no window manager"; return 1; }
}

# Starts the game in directory $1 with environment changes ${@:2}, up to a "--" after which come the
# game's options; sets pid. X only, never a silent fallback.
start_game() {
    local dir=$1 env=() options=()
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do env+=("$1") && shift; done
    [ $# -gt 0 ] && shift && options=("$@")
    (cd "$dir" && exec env -u SDL_RENDER_DRIVER SDL_VIDEODRIVER=x11 "${env[@]}" setpriv --pdeathsig KILL -- "$game" \
        "${options[@]}" >"$work/stdout" 2>"$work/stderr") &
    pid=$! started+=($!)
}

# True once the game's window shows something other than black; sets id. SDL replaces its first
# window while it creates the renderer, so only a window that draws is the one that stays.
window_drawn() {
    id=$(timeout 5 xdotool search --onlyvisible --pid "$pid" --name '^Orvo game$' 2>/dev/null | head -n 1)
    [ -n "$id" ] && [ "$(timeout 5 convert "x:$id" -format '%[fx:round(255*mean)]' info: 2>/dev/null)" -gt 0 ] 2>/dev/null
}
game_gone() { ! kill -0 "$pid" 2>/dev/null; }

# Starts the game in directory $1 (the project root by default) with environment changes ${@:2} and
# waits for its window to draw.
open_game() {
    start_game "${1:-$root}" "${@:2}"
    wait_until 60 eval 'window_drawn || game_gone' && ! game_gone && return 0
    fail "no window appeared on $DISPLAY: $(cat "$work/stderr" "$work/stdout" "$work/xvfb.log")" && return 1
}

# Waits up to $1 seconds for the game to end and sets status (137: still running, so killed).
wait_for_exit() { wait_until "$1" game_gone || kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; status=$?; }

# A screenshot of the window has taken over 15 s beside busy loops on a loaded 2-core machine.
bounded() { timeout 60 "$@" || fail "failed or stuck: $*"; }

# Ends the game with key $1 pressed in its window: status 0 within 10 s, and (unless $2 is "said")
# nothing on stdout.
quit_with() {
    bounded xdotool windowfocus --sync "$id" key "$1"
    wait_for_exit 10
    [ "$status" = 0 ] || fail "$1 ended the game with status $status, not 0 (137: still running, killed)"
    [ "${2:-}" = said ] || [ ! -s "$work/stdout" ] || fail "printed to stdout: $(head -c 200 "$work/stdout")"
}

# Mean colour of region $2 (WxH+X+Y) of image $1 as "r g b", and the distance of two such colours.
region_mean() { convert "$1" -crop "$2" +repage -alpha off -format '%[fx:int(255*mean.r)] %[fx:int(255*mean.g)] %[fx:int(255*mean.b)]' info:; }
distance() { awk -v a="$1" -v b="$2" 'BEGIN { split(a, x); split(b, y); print int(sqrt((x[1]-y[1])^2 + (x[2]-y[2])^2 + (x[3]-y[3])^2)) }'; }

# True when the car is in view in screenshot $1, nine tenths of the pixels of its paint (the
# commonest opaque colour of its image) within 150 pixels of the centre; sets seen.
car_near_centre() {
    local paint all near
    paint=$(convert "$root/res/gfx/car.png" -format %c histogram:info:- | sort -rn |
        sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\),255).*/rgb(\1,\2,\3)/p' | head -n 1)
    convert "$1" -alpha off -fuzz 8% -fill 'rgb(1,255,2)' -opaque "$paint" -fuzz 0 -fill black +opaque 'rgb(1,255,2)' \
        "$work/paint.png"
    all=$(convert "$work/paint.png" -format '%[fx:round(mean.g*w*h)]' info:)
    near=$(convert "$work/paint.png" -gravity center -crop 300x300+0+0 -format '%[fx:round(mean.g*w*h)]' info:)
    seen="$near of $all car pixels near the centre"
    [ "$all" -ge 60 ] && [ $((near * 10)) -ge $((all * 9)) ]
}
expect_car_near_centre() { car_near_centre "$1" || fail "$2: $seen"; }

# The game window's "x y width height" on the screen.
window_geometry() {
    timeout 5 xwininfo -id "$id" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width/ { w = $NF } /Height/ { h = $NF } END { print x, y, w, h }'
}
geometry_is() { [ "$(window_geometry)" = "$1" ]; }

case_window() {
    start_x 2800x1000 && open_game || return
    local info want
    [ "$(timeout 5 xdotool search --name '^Orvo game$' | wc -l)" -eq 1 ] || fail "not one window titled Orvo game"
    info=$(timeout 5 xwininfo -id "$id")
    for want in 'Absolute upper-left X: *1376' 'Absolute upper-left Y: *140' 'Width: *1280' 'Height: *720'; do
        grep -q "$want\$" <<<"$info" || fail "window geometry: no '$want' in $info"
    done
    quit_with Escape
}

case_screen() {
    start_x 2800x1000 && open_game || return
    bounded import -window "$id" "$work/shot.png"
    quit_with Escape
    expect_car_near_centre "$work/shot.png" parked
    # Around the car the ground looks like the tile image, and is not black.
    local ground tile
    ground=$(region_mean "$work/shot.png" 300x200+150+420)
    tile=$(region_mean "$root/res/gfx/grid.png" 100%x100%+0+0)
    [ "$(distance "$ground" "$tile")" -lt 25 ] && [ "$(distance "$ground" "0 0 0")" -gt 40 ] ||
        fail "ground ($ground) black or unlike the tile image ($tile)"
    # The overlay is drawn last: its top-left corner mark stands out bright from the ground below it.
    local mark below
    mark=$(region_mean "$work/shot.png" 50x4+30+23) below=$(region_mean "$work/shot.png" 50x4+30+45)
    [ "$(distance "$mark" "$below")" -gt 60 ] && [ "${mark%% *}" -gt 150 ] || fail "overlay mark ($mark) not over the ground ($below)"
}

case_quit_keys() { start_x 2800x1000 && for key in Escape F12; do open_game && quit_with "$key"; done; }

# Closing the window is the window manager's doing: openbox closes the focused window on Alt+F4.
case_window_close() { start_x 2800x1000 && start_wm && open_game && quit_with alt+F4; }

# SIGTERM ends the running game by the signal (143), once its loop has torn it down.
case_sigterm() {
    start_x 2800x1000 && open_game && kill -TERM "$pid" && wait_for_exit 10 || return
    [ "$status" = 143 ] || fail "SIGTERM ended the game with status $status, not 143 (137: still running, killed)"
}

# Under a window manager that never shows the window, the game waits inside SDL for it to be
# shown: SIGTERM ends it there, and without one it stops on its own after 30 s, saying why.
has_window() { [ -n "$(timeout 5 xdotool search --pid "$pid" --name '^Orvo game$' 2>/dev/null)" ]; }
case_unshown_window() {
    start_x 2800x1000 && start_unmapping_wm && start_game "$root" || return
    wait_until 60 has_window || fail "no window created"
    kill -TERM "$pid" && wait_for_exit 10
    [ "$status" = 143 ] || fail "SIGTERM while the window is not shown: status $status, not 143 (137: still running)"
    start_game "$root" && wait_for_exit 120
    [ "$status" = 134 ] && grep -q '^SDL_CreateWindow error: the window was not shown within 30 seconds' "$work/stdout" ||
        fail "window never shown: status $status (not 134, SIGABRT), stdout '$(cat "$work/stdout")'"
}

# Neither res/gfx in the working directory nor an installed data folder: both places are named.
case_missing_images() {
    start_x 2800x1000 || return
    mkdir "$work/empty" && start_game "$work/empty" && wait_for_exit 30
    [ "$status" = 134 ] || fail "without res/gfx the game ended with status $status, not 134 (SIGABRT)"
    local data
    data=$(realpath -m "$(dirname "$game")/../share/orvo-game/res/gfx")
    grep -q 'res/gfx/hud.png' "$work/stderr" && grep -qF "$work/empty/res/gfx" "$work/stderr" &&
        grep -qF "$data" "$work/stderr" || fail "no message naming hud.png, $work/empty/res/gfx and $data: $(cat "$work/stderr")"
}

# An image larger than the renderer's largest texture: its path and SDL's reason come before the
# assertion. ImageMagick's own policy stops at 16K pixels wide; a policy file of the test's lifts it.
case_huge_texture() {
    mkdir -p "$work/big/res" && cp -r "$root/res/gfx" "$work/big/res/" &&
        echo '<policymap><policy domain="resource" name="width" value="64KP"/></policymap>' >"$work/policy.xml" &&
        MAGICK_CONFIGURE_PATH=$work convert -size 20000x64 xc:red "$work/big/res/gfx/hud.png" || fail "no 20000 px image"
    start_x 2800x1000 && start_game "$work/big" && wait_for_exit 30
    [ "$status" = 134 ] || fail "status $status, not 134 (SIGABRT)"
    awk '/texture != nullptr/ { ok = named; exit } /res\/gfx\/hud\.png.*: [[:alpha:]]/ { named = 1 } END { exit !ok }' \
        "$work/stderr" || fail "no path and reason before the assertion: $(cat "$work/stderr")"
}

installed=(games/orvo-game share/orvo-game/res/gfx/{bluedot,car,carshade,grid,hud,reddot,tyre}.png
    share/doc/orvo-game/{copyright,changelog.gz} share/man/man6/orvo-game.6.gz
    share/metainfo/org.example.orvo_game.metainfo.xml share/applications/orvo-game.desktop
    share/icons/hicolor/128x128/apps/orvo-game.png)

# Installed into a prefix, the game draws its scene started from /, and again once the prefix moved.
case_installed() {
    cmake --install "$(dirname "$game")" --prefix "$work/a" >/dev/null || fail "cmake --install failed"
    for f in "${installed[@]}"; do [ -s "$work/a/$f" ] || fail "$f not installed"; done
    local entry=$work/a/share/applications/orvo-game.desktop
    desktop-file-validate "$entry" || fail "desktop entry rejected"
    [ "$(grep -cxF -e 'Name=Orvo game' -e "Exec=$work/a/games/orvo-game" -e 'Icon=orvo-game' -e 'Categories=Game;' "$entry")" = 4 ] ||
        fail "the desktop entry does not start $work/a/games/orvo-game from the Game menu with its icon"
    [ "$(identify -format '%w %h %[opaque]' "$work/a/${installed[-1]}")" = "128 128 false" ] || fail "icon not transparent 128 px"
    [ "$(MANPATH=$work/a/share/man man -w orvo-game 2>&1)" = "$work/a/share/man/man6/orvo-game.6.gz" ] ||
        fail "man orvo-game does not find the installed manual page"
    start_x 2800x1000 || return
    for prefix in a moved; do
        [ "$prefix" = a ] || mv "$work/a" "$work/moved"
        game=$work/$prefix/games/orvo-game
        open_game / && bounded import -window "$id" "$work/shot.png" && quit_with Escape || continue
        expect_car_near_centre "$work/shot.png" "installed in $prefix"
    done
}

# The package as Debian's own checks see it: lintian with no error or warning (nor, for a hardened
# build, any hardening tag), the hardening of the packaged program, and the metainfo. Debian 12's
# hardening-check cannot see control-flow protection, so that one is not asked of it.
case_package() {
    (cd "$(dirname "$game")" && cpack -G DEB -B "$work/pkg" >/dev/null) || fail "cpack failed"
    local deb listing tags hardened=
    deb=$(ls "$work"/pkg/orvo-game_*.deb) && listing=$(dpkg-deb -c "$deb") || { fail "no package"; return; }
    for f in "${installed[@]}"; do grep -q " \./usr/$f\$" <<<"$listing" || fail "/usr/$f not in the package"; done
    dpkg-deb -f "$deb" Depends | grep -q libsdl2-image || fail "no dependency on SDL2_image"
    grep -qx 'ORVO_HARDENING:BOOL=ON' "$(dirname "$game")/CMakeCache.txt" && hardened=hardening-
    tags=$(lintian --fail-on none --display-info "$deb" 2>&1 | grep -E "^[EW]: |${hardened:-^[EW]: }")
    [ -z "$tags" ] || fail "lintian: $tags"
    dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x failed"
    [ -z "$hardened" ] || hardening-check --nocfprotection "$work/root/usr/games/orvo-game" >"$work/hardening" ||
        fail "$(cat "$work/hardening")"
    appstreamcli validate --no-net "$work/root/usr/share/metainfo/"*.xml >"$work/appstream" || fail "$(cat "$work/appstream")"
    grep -qx 'Exec=/usr/games/orvo-game' "$work/root/usr/share/applications/orvo-game.desktop" ||
        fail "the packaged desktop entry does not start /usr/games/orvo-game"
}

# A video system that cannot start, or a renderer that cannot be made: SDL's reason on stdout
# (flushed before the start-up assertion aborts), then SIGABRT.
case_failed_start() {
    for driver in nosuchdriver:SDL_Init dummy:SDL_CreateRenderer; do
        start_game "$root" "SDL_VIDEODRIVER=${driver%:*}" && wait_for_exit 30
        [ "$status" = 134 ] && grep -q "^${driver#*:} error: ." "$work/stdout" ||
            fail "with ${driver%:*}: status $status (not 134, SIGABRT), stdout '$(cat "$work/stdout")'"
    done
}

# Holding key $1 for a second moves the ground past the camera, which keeps the car in the middle.
drive_with() { start_x 2800x1000 && open_game && drive_held "$1"; }
# The same in the game already open; it ends the game.
drive_held() {
    bounded import -window "$id" "$work/before.png"
    bounded xdotool windowfocus --sync "$id" keydown "$1" sleep 1 keyup "$1"
    # The car rolls on after the key is let go, so the ground keeps moving until a late frame of a
    # loaded machine shows it; a key that never reached the game leaves it still for good.
    wait_until 60 ground_moved || fail "$1: the ground did not move (RMSE $change)"
    quit_with Escape
    expect_car_near_centre "$work/now.png" "after driving with $1"
}
# True when the ground of screenshot $1 (a new one by default) differs from before.png; sets change.
ground_moved() {
    [ -n "${1:-}" ] || timeout 30 import -window "$id" "$work/now.png" 2>/dev/null || return 1
    change=$(compare -metric RMSE -extract 1100x200+90+40 "$work/before.png" "${1:-$work/now.png}" null: 2>&1 |
        sed 's/.*(\(.*\))/\1/')
    awk -v c="$change" 'BEGIN { exit !(c > 0.03) }'
}
case_driving() { drive_with Up; }
case_driving_wasd() { drive_with w; }

# On a common screen the fixed place (1376, 140) would leave most of the window off screen.
case_common_screen() {
    start_x 1920x1080 && open_game || return
    local x y w h
    read -r x y w h <<<"$(window_geometry)"
    [ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + w)) -le 1920 ] && [ $((y + h)) -le 1080 ] ||
        fail "the window at ($x, $y), $w x $h, is not wholly on the 1920 x 1080 screen"
    quit_with Escape
}

# F11 fills the screen with the same picture scaled, the car still in its middle; Alt+Enter brings
# the window back as it was. Full screen needs a window manager that does it.
car_centred_full_screen() { timeout 60 import -window "$id" "$work/full.png" 2>/dev/null && car_near_centre "$work/full.png"; }
case_full_screen() {
    start_x 2800x1000 && start_wm && open_game || return
    local window seen="no screenshot of the whole screen"
    window=$(window_geometry)
    bounded xdotool windowfocus --sync "$id" key F11
    wait_until 30 geometry_is "0 0 2800 1000" || fail "F11: the window is at $(window_geometry), not on the whole screen"
    wait_until 30 car_centred_full_screen || fail "full screen: $seen"
    bounded xdotool windowfocus --sync "$id" key alt+Return
    wait_until 30 geometry_is "$window" || fail "Alt+Enter: the window is at $(window_geometry), not back at $window"
    quit_with Escape
}

# Pixels of screenshot $1 darker than the ground ever is (grey 50), where the overlay is clear.
dark_pixels() { convert "$1" -alpha off -crop 1040x560+120+80 +repage -colorspace gray -threshold 19.6% -negate -format '%[fx:round(mean*w*h)]' info:; }
trail_seen() { timeout 60 import -window "$id" "$work/turn.png" 2>/dev/null && [ "$(dark_pixels "$work/turn.png")" -gt $((straight + 2000)) ]; }

# A straight drive leaves no mark: only the car's tyres and shadow are darker than the ground. A
# hard turn at speed then leaves a trail: thousands of such pixels more.
case_skid_marks() {
    start_x 2800x1000 && open_game || return
    local straight
    bounded xdotool windowfocus --sync "$id" keydown Up sleep 1.2
    bounded import -window "$id" "$work/straight.png"
    straight=$(dark_pixels "$work/straight.png")
    [ "$straight" -lt 1500 ] || fail "driving straight, $straight pixels darker than the ground"
    bounded xdotool keydown Right
    wait_until 60 trail_seen || fail "no trail after the turn: $(dark_pixels "$work/turn.png") dark pixels, $straight before"
    bounded xdotool keyup Right keyup Up
    quit_with Escape
}

# Starts the game from the project root with no display to reach, SDL_VIDEODRIVER=$1 if given, and
# environment changes ${@:2}.
start_headless() {
    (unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER && exec env ${1:+SDL_VIDEODRIVER=$1} "${@:2}" \
        setpriv --pdeathsig KILL -- "$game" >"$work/stdout" 2>"$work/stderr") &
    pid=$! started+=($!)
}

# True once the started process is the game (the shell before it has traps of this script's).
runs_the_game() { [ "$(readlink "/proc/$pid/exe")" = "$game" ]; }

# With no display at all the game says so and stops, rather than run unseen; SDL's offscreen driver
# asked for by name still runs it, as its sound shows: SDL's disk driver writes it in real time,
# once the window, the renderer and the sound have started. SIGTERM ends it with 143 at whatever
# moment it comes: as soon as the game runs (the loader, the start-up), or once it plays.
case_no_display() {
    start_headless && wait_for_exit 30
    [ "$status" = 134 ] && grep -q '^SDL_Init error: no display was found' "$work/stdout" ||
        fail "no display: status $status (not 134), stdout '$(cat "$work/stdout")'"
    local sound=(SDL_AUDIODRIVER=disk "SDL_DISKAUDIOFILE=$work/sound.raw")
    start_headless offscreen "${sound[@]}" && wait_until 30 runs_the_game && kill -TERM "$pid" && wait_for_exit 30
    [ "$status" = 143 ] || fail "offscreen, SIGTERM at once: status $status, not 143"
    rm -f "$work/sound.raw"
    start_headless offscreen "${sound[@]}"
    wait_until 60 sound_grows_to 38400 || fail "offscreen: no sound within 60 s: $(cat "$work/stdout" "$work/stderr")"
    kill -TERM "$pid" && wait_for_exit 30
    [ "$status" = 143 ] && [ ! -s "$work/stdout" ] ||
        fail "offscreen, SIGTERM once playing: status $status, not 143: $(cat "$work/stdout" "$work/stderr")"
}

# Stopped for a second, the game owes some 330 physics steps when it goes on: it catches up and
# still answers keys.
case_stopped() {
    start_x 2800x1000 && open_game || return
    kill -STOP "$pid" && sleep 1 && kill -CONT "$pid"
    quit_with Escape
}

# The sound as SDL's disk driver writes it, in real time, to a raw file of 32-bit float stereo at
# 48 kHz: 384,000 bytes a second. Holds for $1 tenths of a second of it; adds the file's size then to at.
sound_bytes() { stat -c %s "$work/sound.raw" 2>/dev/null || echo 0; }
sound_grows_to() { [ "$(sound_bytes)" -ge "$1" ]; }
hold_for() { wait_until 60 sound_grows_to $(($(sound_bytes) + $1 * 38400)) || fail "no sound"; at+=("$(sound_bytes)"); }
# "rms rough-frequency rms-from-1-to-3-kHz peak" of the left channel between byte offsets $1 and $2.
sound_stats() {
    local trim=(trim "$(($1 / 8))s" "$((($2 - $1) / 8))s" remix 1)
    sox -V1 -t f32 -r 48000 -c 2 "$work/sound.raw" -n "${trim[@]}" sinc 1000-3000 stat 2>&1 | awk '/^RMS +amp/ { print $3 }' >"$work/band"
    sox -V1 -t f32 -r 48000 -c 2 "$work/sound.raw" -n "${trim[@]}" stat 2>&1 | awk -v b="$(cat "$work/band")" \
        '/^RMS +amp/ { r = $3 } /^Rough/ { f = $3 } /^Maximum amp/ { m = $3 } END { printf "%s %s %s %s ", r, f, b, m }'
}

# Parked, the engine idles quietly; held Up, it is louder and higher; a hard turn at speed adds the
# squeal's band; after M, silence to the end of the file.
case_sound() {
    start_x 2800x1000 && open_game "$root" SDL_AUDIODRIVER=disk "SDL_DISKAUDIOFILE=$work/sound.raw" || return
    local at=() stats
    hold_for 5 && hold_for 15
    bounded xdotool windowfocus --sync "$id" keydown Up && hold_for 15 && hold_for 15
    bounded xdotool windowfocus --sync "$id" keydown Right && hold_for 5 && hold_for 10
    bounded xdotool windowfocus --sync "$id" keyup Right keyup Up key m && hold_for 3 && hold_for 15
    quit_with Escape
    stats="$(sound_stats "${at[0]}" "${at[1]}")$(sound_stats "${at[2]}" "${at[3]}")$(sound_stats "${at[4]}" "${at[5]}")"
    stats+=$(sound_stats "${at[6]}" "$(sound_bytes)")
    echo "rms, rough Hz, 1-3 kHz rms, peak; parked, Up, turning, after M: $stats"
    awk '{ exit !($1 > 0.01 && $1 < 0.1 && $5 > 1.5 * $1 && $6 > 1.5 * $2 && $11 > 0.02 && $11 > 5 * $7 && $16 == 0) }' \
        <<<"$stats" || fail "not: parked quiet, Up louder and higher, a squeal turning, silence after M"
}

# I shows the instruments over the parked car's still picture, and I again takes them away: the
# picture changes, then is what it was. `shows OP N`: the pixels of a new screenshot that differ from
# off.png compare with N as OP says; sets seen.
shows() {
    seen=$(timeout 60 import -window "$id" "$work/now.png" 2>&1 && compare -metric AE -fuzz 2% "$work/now.png" "$work/off.png" null: 2>&1)
    [ "$seen" "$1" "$2" ] 2>/dev/null
}
# True once two screenshots in a row are the same: the picture has settled into off.png.
settled() { cp "$work/now.png" "$work/off.png" 2>/dev/null; shows -eq 0; }
case_instruments() {
    local seen
    start_x 2800x1000 && open_game || return
    wait_until 120 settled || fail "the parked car's picture does not keep still: $seen"
    bounded xdotool windowfocus --sync "$id" key i
    wait_until 120 shows -gt 50000 || fail "I: not the panels, but $seen pixels changed"
    bounded xdotool windowfocus --sync "$id" key i
    wait_until 120 shows -eq 0 || fail "I again: $seen pixels still differ"
    quit_with Escape
}

# An audio driver that cannot open here: one line on stderr says so, and the game plays on.
case_no_sound() {
    start_x 2800x1000 && open_game "$root" SDL_AUDIODRIVER=dsp && quit_with Escape
    [ "$(grep -c . "$work/stderr")" = 1 ] && grep -q '^No sound: .*dsp' "$work/stderr" ||
        fail "not one line saying why there is no sound: $(cat "$work/stderr")"
}

# Replays. The worked example of docs/replay-format.md: 1,200 steps from (10, -4), ending in this hash.
example=$root/tests/replay-corpus/worked-example.orvr example_hash=162648a44248ec9a

# Runs "$game ${@:2}", expecting status $1; keeps its output in $work/stdout and $work/stderr.
run_expecting() {
    timeout 60 "$game" "${@:2}" >"$work/stdout" 2>"$work/stderr"
    local got=$?
    [ "$got" = "$1" ] || fail "${*:2}: status $got, not $1: $(head -c 300 "$work/stdout" "$work/stderr")"
}

# True once the game has shown a picture other than $work/frame.png, which then becomes that picture.
frame_changed() {
    timeout 30 import -window "$id" "$work/next.png" 2>/dev/null &&
        [ "$(compare -metric AE "$work/frame.png" "$work/next.png" null: 2>&1)" -gt 0 ] 2>/dev/null &&
        mv "$work/next.png" "$work/frame.png"
}
# True once the game has shown two new pictures after the one on screen now: the frame that shows
# the second of them read the input sent before this began, and ran its steps after it.
after_two_frames() {
    bounded import -window "$id" "$work/frame.png"
    wait_until 60 frame_changed && wait_until 60 frame_changed
}

# A file saved in folder $1; and true once the game has said that it saved $1 files.
saved_file() { ls "$1"/*.orvr 2>/dev/null | head -n 1; }
saves_printed() { [ "$(grep -c '^Replay saved: ' "$work/stdout")" -ge "$1" ]; }
# Watches the band of the picture where notices appear, from how it looks now, for up to 60 s:
# its process (watcher) ends with 0 once a notice has changed over 2000 of its pixels. One process
# grabbing all along, as a loaded machine can take seconds to start a screenshot each time.
watch_notices() {
    spawn /usr/bin/python3 -c 'import sys, time
from Xlib import display, X
window = display.Display().create_resource_object("window", int(sys.argv[1]))
grab = lambda: window.get_image(0, 430, 1280, 120, X.ZPixmap, 0xffffffff).data[::4]
base, deadline = grab(), time.time() + 60
open(sys.argv[2], "w").close()
while time.time() < deadline:
    if sum(a != b for a, b in zip(base, grab())) > 2000: sys.exit(0)
    time.sleep(0.05)
sys.exit(1)' "$id" "$work/watching"
    watcher=$!
    wait_until 30 test -e "$work/watching" || fail "cannot watch the window"
}
notice_shown() { wait "$watcher"; }

# F5 saves where the README says (HOME, then XDG_DATA_HOME), a new file each time; the path is
# printed and shown, and the file verifies.
case_replay_save() {
    start_x 2800x1000 || return
    mkdir -p "$work/home" "$work/xdg"
    local env folder
    for env in "HOME=$work/home XDG_DATA_HOME=" "HOME=$work/home XDG_DATA_HOME=$work/xdg"; do
        folder=$work/home/.local/share/orvo-game/replays
        [ "${env##*=}" = "" ] || folder=$work/xdg/orvo-game/replays
        open_game "$root" $env || return
        watch_notices
        bounded xdotool windowfocus --sync "$id" key F5 key F5
        notice_shown || fail "$env: no notice on screen"
        wait_until 30 saves_printed 2 && [ "$(grep -c "^Replay saved: $folder/.*\.orvr\$" "$work/stdout")" = 2 ] ||
            fail "$env: not two saves: $(cat "$work/stdout")"
        quit_with Escape said
        [ "$(ls "$folder" | wc -l)" = 2 ] || fail "$env: not two files in $folder: $(ls -R "$work/home" "$work/xdg")"
        run_expecting 0 --verify "$(saved_file "$folder")"
    done
}

# A plain file where the folder should be: the reason on stderr and on screen, and the game plays on.
case_replay_unwritable() {
    start_x 2800x1000 || return
    mkdir -p "$work/data" && echo not a folder >"$work/data/orvo-game"
    open_game "$root" "XDG_DATA_HOME=$work/data" || return
    watch_notices
    bounded xdotool windowfocus --sync "$id" key F5
    notice_shown || fail "no notice on screen"
    wait_until 30 grep -q "^Replay not saved: $work/data/orvo-game: Not a directory" "$work/stderr" ||
        fail "no reason on stderr: $(cat "$work/stderr")"
    game_gone && fail "the game stopped"
    drive_held Up
}

# Played back, the car moves with no key pressed; at the end the verdict is printed and the keys
# drive on: the drive saved then holds the replay's changes and those of the keys, and verifies.
case_replay_play() {
    start_x 2800x1000 && open_game "$root" HOME="$work" XDG_DATA_HOME= -- --replay "$example" || return
    bounded import -window "$id" "$work/before.png"
    wait_until 60 ground_moved || fail "no movement without a key"
    wait_until 120 grep -qx "Replay verified: 1200 steps, every checkpoint matches; final state $example_hash" \
        "$work/stdout" || fail "no verdict: $(cat "$work/stdout" "$work/stderr")"
    # Saved once Up is down and once it is up again: the second drive holds both changes, as
    # steps run between the two presses of F5 and after the release. A change is kept by the step
    # that reads it, so F5 waits until frames after the release are seen.
    bounded xdotool windowfocus --sync "$id" keydown Up key F5
    wait_until 30 saves_printed 1 || fail "not saved"
    bounded xdotool windowfocus --sync "$id" keyup Up
    after_two_frames || fail "the picture stood still after Up was let go"
    bounded xdotool windowfocus --sync "$id" key F5
    wait_until 30 saves_printed 2 || fail "not saved twice"
    quit_with Escape said
    # The replay's three changes, then Up and its release (the devices' first change may be either).
    run_expecting 0 --verify "$(sed -n 's/^Replay saved: //p' "$work/stdout" | tail -n 1)"
    grep -q '^control changes: [56]$' "$work/stdout" || fail "not the keys' changes after the replay's: $(cat "$work/stdout")"
}

# --verify: 0 and the final state for a good file, 1 and the step for a changed control, 2 and the
# reason for a bad file; options it does not know, or without their file, in one line with 2.
case_replay_verify() {
    run_expecting 0 --verify "$example"
    grep -qx "state hash: $example_hash" "$work/stdout" && grep -qx 'position: 0x1.6c7f44p+6 0x1.e7e086p+1' "$work/stdout" ||
        fail "not the example's final state: $(cat "$work/stdout")"
    # The example with its change at step 1100 made down alone (byte 34), its checksum put right.
    run_expecting 1 --verify "${example%.orvr}-changed.orvr"
    grep -qx 'first differing checkpoint: step 1200' "$work/stdout" || fail "no first step: $(cat "$work/stdout")"
    head -c 40 "$example" >"$work/cut.orvr"
    run_expecting 2 --verify "$work/cut.orvr"
    grep -q 'cut.orvr: truncated' "$work/stderr" || fail "no reason: $(cat "$work/stderr")"
    local args
    for args in "--verify" "--verify $work/none.orvr" "--fast" "--replay"; do
        run_expecting 2 $args
        [ "$(wc -l <"$work/stderr")" = 1 ] && [ ! -s "$work/stdout" ] || fail "$args: not one line: $(cat "$work/stderr")"
    done
    run_expecting 0 --help
    grep -q -- '--ghost FILE' "$work/stdout" || fail "--help does not list --ghost"
}

declare -F "case_$case" >/dev/null || { echo "program_test.sh: no case '$case'" >&2; exit 2; }
"case_$case"
[ "$failures" -eq 0 ] && echo "program_test: $case passed"
exit $((failures > 0))
