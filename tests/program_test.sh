#!/usr/bin/env bash
# The real program seen from outside, as a user runs it: its window, what the window shows, the
# ways it ends, driving with the arrow keys, and surviving a stopped process.
#
# Usage: program_test.sh <orvo-game> [case...]   from the project root; all cases by default.
# Cases: window screen quit_keys sigterm missing_images driving stopped
# Needs an X display; without one it runs itself under its own Xvfb.
set -uo pipefail

game=$(realpath "$1")
shift
cases=("$@")
[ ${#cases[@]} -eq 0 ] && cases=(window screen quit_keys sigterm missing_images driving stopped)

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 2800x1000x24" bash "$0" "$game" "${cases[@]}"
fi

root=$PWD
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL [$case]: $*" >&2
    failures=$((failures + 1))
}

# Runs one X client command, logged with the time so that a stuck step shows in the output.
x_run() {
    echo "$(date +%T.%N | cut -c1-12) [$case] $*" >&2
    timeout 15 "$@" || fail "failed or stuck: $*"
}

# Starts the game in directory $1 (the project root by default) and sets pid.
start_game() {
    (cd "${1:-$root}" && exec "$game" >"$work/stdout" 2>"$work/stderr") &
    pid=$!
    echo "$(date +%T.%N | cut -c1-12) [$case] started the game, pid $pid" >&2
}

# Prints the id of the game's window once the game draws into it, waiting up to 30 s: the window
# opens before the images load, and only the running loop answers keys and signals.
game_window() {
    local id
    for _ in $(seq 300); do
        id=$(xdotool search --all --onlyvisible --pid "$pid" --name '^Orvo game$' 2>/dev/null | head -n 1)
        if [ -n "$id" ] && [ "$(timeout 5 convert "x:$id" -format '%[fx:round(255*mean)]' info: 2>/dev/null)" -gt 0 ] 2>/dev/null; then
            sleep 0.2
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits up to $1 seconds for the game to end; then its exit status is in $status.
wait_for_exit() {
    local deadline=$(($(date +%s%N) + ${1%.*}000000000))
    while kill -0 "$pid" 2>/dev/null && [ "$(date +%s%N)" -lt "$deadline" ]; do
        sleep 0.02
    done
    if kill -0 "$pid" 2>/dev/null; then
        status=still-running
        kill -KILL "$pid"
        wait "$pid" 2>/dev/null
    else
        wait "$pid" 2>/dev/null
        status=$?
    fi
    pid=
}

# Presses key $2 in window $1 and expects the game to end with status 0 within a second.
press_to_quit() {
    x_run xdotool windowfocus --sync "$1"
    x_run xdotool key "$2"
    wait_for_exit 1
    [ "$status" = 0 ] || fail "$2 ended the game with status $status, not 0 within a second"
}

screenshot() {
    x_run import -window "$1" "$2"
}

# Mean colour of the region WxH+X+Y of image $1 as "r g b", 0 to 255.
region_mean() {
    convert "$1" -crop "$2" +repage -alpha off \
        -format '%[fx:round(255*mean.r)] %[fx:round(255*mean.g)] %[fx:round(255*mean.b)]' info:
}

# Euclidean distance of two "r g b" colours, rounded down.
colour_distance() {
    awk -v a="$1" -v b="$2" 'BEGIN { split(a, x); split(b, y);
        print int(sqrt((x[1]-y[1])^2 + (x[2]-y[2])^2 + (x[3]-y[3])^2)) }'
}

# The car's main paint: the commonest opaque colour of the car image, as "rgb(r,g,b)".
car_paint() {
    convert "$root/res/gfx/car.png" -format %c histogram:info:- | sort -rn |
        sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\),255).*/rgb(\1,\2,\3)/p' | head -n 1
}

# Number of pixels of the car's paint in region WxH+X+Y of image $1.
paint_count() {
    convert "$1" -crop "$2" +repage -alpha off -fuzz 8% -fill 'rgb(1,255,2)' -opaque "$(car_paint)" \
        -fuzz 0 -fill black +opaque 'rgb(1,255,2)' -format '%[fx:round(mean.g*w*h)]' info:
}

# Checks that the car's paint in screenshot $1 lies within 150 pixels of the view's centre.
expect_car_near_centre() {
    local all near
    all=$(paint_count "$1" 1280x720+0+0)
    near=$(paint_count "$1" 300x300+490+210)
    [ "$all" -ge 60 ] || fail "$2: only $all pixels of the car's paint in view"
    [ $((near * 10)) -ge $((all * 9)) ] || fail "$2: $near of $all car pixels near the centre"
}

# Mean grey level (0 to 255) of image $1 over the white pixels of mask $2.
masked_gray() {
    local sum area
    sum=$(convert "$1" -colorspace gray "$2" -compose multiply -composite -format '%[fx:mean]' info:)
    area=$(convert "$2" -colorspace gray -format '%[fx:mean]' info:)
    awk -v s="$sum" -v a="$area" 'BEGIN { print (a > 0) ? int(255 * s / a) : 0 }'
}

case_window() {
    start_game
    local id named
    id=$(game_window) || { fail "no window appeared"; return; }
    named=$(xdotool search --name '^Orvo game$' | wc -l)
    [ "$named" -eq 1 ] || fail "$named windows titled \"Orvo game\""
    local info
    info=$(xwininfo -id "$id")
    grep -q 'Absolute upper-left X: *1376$' <<<"$info" || fail "window not at x 1376"
    grep -q 'Absolute upper-left Y: *140$' <<<"$info" || fail "window not at y 140"
    grep -q 'Width: *1280$' <<<"$info" || fail "window not 1280 wide"
    grep -q 'Height: *720$' <<<"$info" || fail "window not 720 high"
    press_to_quit "$id" Escape
    [ ! -s "$work/stdout" ] || fail "printed to stdout: $(head -c 200 "$work/stdout")"
}

case_screen() {
    start_game
    local id
    id=$(game_window) || { fail "no window appeared"; return; }
    screenshot "$id" "$work/shot.png"
    press_to_quit "$id" Escape

    # The parked car fills the centre; the ground around it looks like the tile image.
    local centre ground tile
    centre=$(region_mean "$work/shot.png" 35x35+622+342)
    ground=$(region_mean "$work/shot.png" 300x200+150+420)
    tile=$(region_mean "$root/res/gfx/grid.png" 100%x100%+0+0)
    [ "$(colour_distance "$centre" "$ground")" -gt 30 ] || fail "centre ($centre) looks like the ground ($ground)"
    [ "$(colour_distance "$ground" "$tile")" -lt 25 ] || fail "ground ($ground) unlike the tile image ($tile)"
    [ "$(colour_distance "$ground" "0 0 0")" -gt 40 ] || fail "ground is black ($ground)"
    expect_car_near_centre "$work/shot.png" "parked"

    # The overlay's bright corner marks show over the ground, and only where they are.
    convert "$root/res/gfx/hud.png" -fx 'a > 0.5 && (r + g + b) / 3 > 0.8' -alpha off -sample 1280x720! "$work/marks.png"
    convert "$work/marks.png" -roll +24+24 "$work/beside.png"
    local on beside
    on=$(masked_gray "$work/shot.png" "$work/marks.png")
    beside=$(masked_gray "$work/shot.png" "$work/beside.png")
    [ "$on" -gt 160 ] && [ "$((on - beside))" -gt 60 ] ||
        fail "overlay marks not on top: grey $on on them, $beside beside them"
}

case_quit_keys() {
    local key id
    for key in Escape F12; do
        start_game
        id=$(game_window) || { fail "no window appeared"; return; }
        press_to_quit "$id" "$key"
    done
}

case_sigterm() {
    start_game
    game_window >/dev/null || { fail "no window appeared"; return; }
    kill -TERM "$pid"
    wait_for_exit 1
    [ "$status" = 0 ] || fail "SIGTERM ended the game with status $status, not 0"
}

case_missing_images() {
    mkdir -p "$work/empty"
    start_game "$work/empty"
    wait_for_exit 10
    [ "$status" = 134 ] || fail "without res/gfx the game ended with status $status, not 134 (SIGABRT)"
    grep -q 'res/gfx/hud.png' "$work/stderr" || fail "the missing file is not named: $(cat "$work/stderr")"
    grep -q 'Assertion' "$work/stderr" || fail "no assertion message: $(cat "$work/stderr")"
    ! grep -qi 'segmentation' "$work/stderr" || fail "segmentation fault"
}

case_driving() {
    start_game
    local id
    id=$(game_window) || { fail "no window appeared"; return; }
    screenshot "$id" "$work/before.png"
    x_run xdotool windowfocus --sync "$id"
    x_run xdotool keydown Up
    sleep 1
    x_run xdotool keyup Up
    screenshot "$id" "$work/after.png"
    press_to_quit "$id" Escape

    # The ground moved past the camera while the camera kept the car in the middle.
    local change band=1100x200+90+40
    convert "$work/before.png" -crop $band +repage "$work/before-band.png"
    convert "$work/after.png" -crop $band +repage "$work/after-band.png"
    change=$(compare -metric RMSE "$work/before-band.png" "$work/after-band.png" null: 2>&1 |
        sed 's/.*(\(.*\))/\1/')
    awk -v c="$change" 'BEGIN { exit !(c > 0.03) }' || fail "the ground did not move (RMSE $change)"
    expect_car_near_centre "$work/after.png" "after driving"
}

case_stopped() {
    start_game
    local id
    id=$(game_window) || { fail "no window appeared"; return; }
    kill -STOP "$pid"
    sleep 1
    kill -CONT "$pid"
    sleep 0.5
    kill -0 "$pid" 2>/dev/null || { fail "the game did not survive being stopped"; return; }
    press_to_quit "$id" Escape
}

for case in "${cases[@]}"; do
    "case_$case"
done
[ "$failures" -eq 0 ] && echo "program_test: ${cases[*]} passed"
exit $((failures > 0))
