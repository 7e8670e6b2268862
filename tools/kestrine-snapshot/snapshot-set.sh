#!/usr/bin/env bash
# Writes the standard set of card snapshots: both accents, both axis modes,
# the corner cases of the scale, two DPI scales and a frame in mid-animation.
# Run inside a Wine session: scripts/wine-session.sh --own-x this-script EXE DIR
set -euo pipefail
exe=$1
out=$2
mkdir -p "$out"
snap() {
    local name=$1
    shift
    wine "$exe" --out "$(wine winepath -w "$out/$name.png")" "$@"
}
day="0:0;3600:1200;7200:800;10800:2500;14400:3100;18000:2700;21600:4200"
title="\u672C\u65E5\u306E\u640D\u76CA"    # 本日の損益
trades="\u53D6\u5F15 12 \u56DE"           # 取引 12 回
desk=404850

snap positive-time --series "$day" --title "$title" --subtitle "2024-05-17 09:00 - 15:00" \
    --value "+4,200" --note "$trades" --backdrop $desk
snap positive-time-alpha --series "$day" --title "$title" --subtitle "2024-05-17 09:00 - 15:00" \
    --value "+4,200" --note "$trades"
snap positive-time-dpi2 --series "$day" --title "$title" --subtitle "2024-05-17 09:00 - 15:00" \
    --value "+4,200" --note "$trades" --dpi-scale 2 --backdrop $desk
snap negative-numeric --series "0:0;1:-150;2:-80;3:250;4:-390;5:-610;6:-580;7:-720" --numeric \
    --negative --title "Loss by trade" --subtitle "8 trades" --value "-720" --note "worst day" \
    --backdrop $desk
snap negative-only-dpi2 --series "1:-5;2:-12;3:-9;4:-30;5:-27" --numeric --negative \
    --title "Drawdown" --value "-30" --dpi-scale 2 --backdrop $desk
snap one-point --series "5:42" --numeric --title "One trade" --value "+42" --backdrop $desk
snap flat --series "0:100;60:100;120:100;180:100" --title "Flat" --value "100" --backdrop $desk
snap skipped-point --series "0:0;1:3;2:nan;3:5;4:2" --numeric --title "A gap in the data" \
    --value "+2" --backdrop $desk
snap no-texts --series "$day" --backdrop $desk
snap mid-animation --series "$day" --animate --seconds 1.5 --progress 0.45 --elapsed 0.9 \
    --fade 0.6 --title "$title" --value "+4,200" --note "$trades" --backdrop $desk
