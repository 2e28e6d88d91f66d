#!/usr/bin/env bash
# The real program seen from outside, as a user runs it: its window, what the window shows, the
# ways it ends, driving with the arrow keys, and surviving a stopped process.
# Usage, from the project root: program_test.sh <orvo-game> [case...]   (all cases by default)
set -uo pipefail

game=$(realpath "$1") cases=("${@:2}")
[ $# -gt 1 ] || cases=(window screen quit_keys sigterm missing_images driving stopped)
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 2800x1000x24" bash "$0" "$game" "${cases[@]}"

root=$PWD work=$(mktemp -d) pid= failures=0
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL [$case]: $*" >&2; failures=$((failures + 1)); }

# Every X client call is bounded in time, so that a stuck step fails instead of blocking.
bounded() { timeout 15 "$@" || fail "failed or stuck: $*"; }

# Starts the game in directory $1 and sets pid.
start_game() { (cd "$1" && exec "$game" >"$work/stdout" 2>"$work/stderr") & pid=$!; }

# Starts the game and sets id to its window once the game draws into it, waiting up to 30 s: the
# window opens before the images load, and only the running loop answers keys and signals.
open_game() {
    start_game "$root"
    for _ in $(seq 300); do
        id=$(timeout 5 xdotool search --all --onlyvisible --pid "$pid" --name '^Orvo game$' 2>/dev/null | head -n 1)
        [ -n "$id" ] && [ "$(timeout 5 convert "x:$id" -format '%[fx:round(255*mean)]' info: 2>/dev/null)" -gt 0 ] 2>/dev/null &&
            sleep 0.2 && return 0
        sleep 0.1
    done
    fail "no window appeared"; return 1
}

# Waits up to $1 seconds for the game to end and sets status; a game still running then is
# killed, and its status is 137.
wait_for_exit() {
    (sleep "$1" && kill -KILL "$pid") >/dev/null 2>&1 &
    local watchdog=$!
    wait "$pid" 2>/dev/null; status=$?
    kill "$watchdog" 2>/dev/null; pid=
}

# Presses key $1 in the game's window: the game must end with status 0 within a second, having
# printed nothing to stdout.
quit_with() {
    bounded xdotool windowfocus --sync "$id" key "$1"
    wait_for_exit 1
    [ "$status" = 0 ] || fail "$1 ended the game with status $status, not 0 within a second (137: killed)"
    [ ! -s "$work/stdout" ] || fail "printed to stdout: $(head -c 200 "$work/stdout")"
}

# Mean colour of region $2 (WxH+X+Y) of image $1 as "r g b", and the distance of two such colours.
region_mean() {
    convert "$1" -crop "$2" +repage -alpha off \
        -format '%[fx:round(255*mean.r)] %[fx:round(255*mean.g)] %[fx:round(255*mean.b)]' info:
}
distance() { awk -v a="$1" -v b="$2" 'BEGIN { split(a, x); split(b, y); print int(sqrt((x[1]-y[1])^2 + (x[2]-y[2])^2 + (x[3]-y[3])^2)) }'; }

# Pixels in region $2 of image $1 of the car's paint, the commonest opaque colour of its image.
paint_count() {
    local paint
    paint=$(convert "$root/res/gfx/car.png" -format %c histogram:info:- | sort -rn |
        sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\),255).*/rgb(\1,\2,\3)/p' | head -n 1)
    convert "$1" -crop "$2" +repage -alpha off -fuzz 8% -fill 'rgb(1,255,2)' -opaque "$paint" \
        -fuzz 0 -fill black +opaque 'rgb(1,255,2)' -format '%[fx:round(mean.g*w*h)]' info:
}

# The car is in view in screenshot $1, nine tenths of its paint within 150 pixels of the centre.
expect_car_near_centre() {
    local all near
    all=$(paint_count "$1" 1280x720+0+0) near=$(paint_count "$1" 300x300+490+210)
    [ "$all" -ge 60 ] && [ $((near * 10)) -ge $((all * 9)) ] || fail "$2: $near of $all car pixels near the centre"
}

# Mean grey level (0 to 255) of image $1 over the white pixels of mask $2.
masked_gray() {
    local sum area
    sum=$(convert "$1" -colorspace gray "$2" -compose multiply -composite -format '%[fx:mean]' info:)
    area=$(convert "$2" -colorspace gray -format '%[fx:mean]' info:)
    awk -v s="$sum" -v a="$area" 'BEGIN { print (a > 0) ? int(255 * s / a) : 0 }'
}

case_window() {
    open_game || return
    local named info want
    named=$(timeout 5 xdotool search --name '^Orvo game$' | wc -l)
    [ "$named" -eq 1 ] || fail "$named windows titled \"Orvo game\""
    info=$(timeout 5 xwininfo -id "$id")
    for want in 'Absolute upper-left X: *1376' 'Absolute upper-left Y: *140' 'Width: *1280' 'Height: *720'; do
        grep -q "$want\$" <<<"$info" || fail "window geometry: no '$want' in $info"
    done
    quit_with Escape
}

case_screen() {
    open_game || return
    bounded import -window "$id" "$work/shot.png"
    quit_with Escape
    expect_car_near_centre "$work/shot.png" parked
    # Around the car the ground looks like the tile image, and is not black.
    local ground tile on beside
    ground=$(region_mean "$work/shot.png" 300x200+150+420)
    tile=$(region_mean "$root/res/gfx/grid.png" 100%x100%+0+0)
    [ "$(distance "$ground" "$tile")" -lt 25 ] && [ "$(distance "$ground" "0 0 0")" -gt 40 ] ||
        fail "ground ($ground) black or unlike the tile image ($tile)"
    # The overlay's bright marks show over the ground, and only where they are.
    convert "$root/res/gfx/hud.png" -fx 'a > 0.5 && (r + g + b) / 3 > 0.8' -alpha off -sample 1280x720! "$work/marks.png"
    convert "$work/marks.png" -roll +24+24 "$work/beside.png"
    on=$(masked_gray "$work/shot.png" "$work/marks.png")
    beside=$(masked_gray "$work/shot.png" "$work/beside.png")
    [ "$on" -gt 160 ] && [ "$((on - beside))" -gt 60 ] || fail "overlay not on top: grey $on on its marks, $beside beside"
}

case_quit_keys() { for key in Escape F12; do open_game && quit_with "$key"; done; }

case_sigterm() {
    open_game || return
    kill -TERM "$pid" && wait_for_exit 1
    [ "$status" = 0 ] || fail "SIGTERM ended the game with status $status, not 0"
}

case_missing_images() {
    mkdir -p "$work/empty"
    start_game "$work/empty"
    wait_for_exit 10
    [ "$status" = 134 ] || fail "without res/gfx the game ended with status $status, not 134 (SIGABRT)"
    grep -q 'res/gfx/hud.png' "$work/stderr" && grep -q Assertion "$work/stderr" && ! grep -qi segmentation "$work/stderr" ||
        fail "no assertion naming res/gfx/hud.png: $(cat "$work/stderr")"
}

case_driving() {
    open_game || return
    bounded import -window "$id" "$work/before.png"
    bounded xdotool windowfocus --sync "$id" keydown Up sleep 1 keyup Up
    bounded import -window "$id" "$work/after.png"
    quit_with Escape
    # The ground moved past the camera while the camera kept the car in the middle.
    local change
    change=$(compare -metric RMSE -extract 1100x200+90+40 "$work/before.png" "$work/after.png" null: 2>&1 |
        sed 's/.*(\(.*\))/\1/')
    awk -v c="$change" 'BEGIN { exit !(c > 0.03) }' || fail "the ground did not move (RMSE $change)"
    expect_car_near_centre "$work/after.png" "after driving"
}

case_stopped() {
    open_game || return
    kill -STOP "$pid" && sleep 1 && kill -CONT "$pid" && sleep 0.5
    kill -0 "$pid" 2>/dev/null || { fail "the game did not survive being stopped"; return; }
    quit_with Escape
}

for case in "${cases[@]}"; do "case_$case"; done
[ "$failures" -eq 0 ] && echo "program_test: ${cases[*]} passed"
exit $((failures > 0))
