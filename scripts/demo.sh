#!/usr/bin/env bash
# make demo: shows the sample trading day (examples/data/trading-day.txt) with
# kestrine-show.exe under Wine. With a display the card appears on it and the
# demo ends when it is clicked away; without one the card is shown on a
# private Xvfb and a screenshot of the finished card is saved.
#
#   scripts/demo.sh [--screenshot FILE.png [--crop]]
#
# --screenshot  take the screenshot even when a display is there (default
#               build/demo.png when there is none); --crop keeps only the card
#               and a margin of the screen around it (the README's picture).
# make demo builds kestrine-show.exe first; this script expects it built.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
show=build/win64/kestrine-show.exe
data=examples/data/trading-day.txt
shot=""
crop=0
inside=0
while [ $# -gt 0 ]; do
    case "$1" in
        --screenshot) shot=$2; shift 2 ;;
        --crop) crop=1; shift ;;
        --inside-session) inside=1; shift ;;
        *) echo "usage: $0 [--screenshot FILE.png [--crop]]" >&2; exit 2 ;;
    esac
done
[ -x "$show" ] || { echo "demo: $show is missing; run make demo" >&2; exit 1; }
ANIMATION_SECONDS=2.5
CROP_MARGIN=24

# The card texts sit in the sample's header comments ("# title: ...").
field() { sed -n "s/^# $1: //p" "$data" | head -n 1; }
card=(--series-file "$data" --title "$(field title)" --subtitle "$(field subtitle)"
      --value "$(field value)" --note "$(field note)" --duration "$ANIMATION_SECONDS")

# Wine turns the command line into UTF-16 from the locale's character set:
# the Japanese texts need a UTF-8 locale whatever the caller's is.
export LC_ALL=C.UTF-8

card_on_screen() { xwininfo -root -tree 2>/dev/null | grep -q '"Kestrine"'; }

# Inside the private session: show, wait for the window and for the
# animation to come to rest, capture the screen, then close the card.
capture() {
    # Xvfb starts with the pointer at the middle of the screen, over the plot
    # of a centred card, where the card would show the readout of a pointer
    # nobody moved. The pointer is parked in the top-left corner first, as a
    # user's would be elsewhere. The parking client stays connected until the
    # card is up: Xvfb resets when its last client leaves, and a reset puts
    # the pointer back in the middle.
    xdotool mousemove 0 0 sleep 30 &
    local parker=$!
    wine "$show" "${card[@]}" &
    local shower=$!
    local waited=0
    until card_on_screen; do
        sleep 0.1
        waited=$((waited + 1))
        if [ "$waited" -gt 300 ] || ! kill -0 "$shower" 2>/dev/null; then
            echo "demo: the card did not appear" >&2
            return 1
        fi
    done
    kill "$parker" 2>/dev/null || true
    wait "$parker" 2>/dev/null || true
    sleep "$ANIMATION_SECONDS"
    # The card is at rest when two captures a moment apart are the same.
    local previous
    previous=$(mktemp /tmp/kestrine-demo.XXXXXX.png)
    local current=${previous%.png}-b.png
    import -window root "$previous"
    for _ in $(seq 20); do
        sleep 0.3
        import -window root "$current"
        if [ "$(compare -metric AE "$previous" "$current" null: 2>&1 || true)" = 0 ]; then break; fi
        mv "$current" "$previous"
    done
    mkdir -p "$(dirname "$shot")"
    if [ "$crop" = 1 ]; then
        local x y w h
        read -r x y w h < <(xwininfo -name Kestrine | awk '
            /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
            /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}')
        convert "$current" -crop "$((w + 2 * CROP_MARGIN))x$((h + 2 * CROP_MARGIN))+$((x - CROP_MARGIN))+$((y - CROP_MARGIN))" +repage "$shot"
        rm -f "$current"
    else
        mv "$current" "$shot"
    fi
    rm -f "$previous"
    wine "$show" --close >/dev/null
    wait "$shower"
}

if [ "$inside" = 1 ]; then
    capture
    exit
fi

if [ -z "$shot" ] && [ -n "${DISPLAY:-}" ]; then
    echo "make demo: the card is on your display; drag it around, click it to close it."
    scripts/wine-session.sh wine "$show" "${card[@]}"
    exit
fi

shot=${shot:-build/demo.png}
case "$shot" in /*) ;; *) shot="$root/$shot" ;; esac
extra=()
[ "$crop" = 1 ] && extra=(--crop)
scripts/wine-session.sh --own-x "$0" --inside-session --screenshot "$shot" "${extra[@]}"
echo "$shot"
