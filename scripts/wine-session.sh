#!/usr/bin/env bash
# Runs one command inside a prepared Wine session: the project's own prefix
# under build/ (created once, with the font replacements a Japanese desktop
# would have, no crash dialog to wait on and no X input method), an X server,
# and one persistent wineserver for the whole run so that each program start
# costs milliseconds instead of seconds. Tears down exactly the processes it started, by pid.
#
#   scripts/wine-session.sh [--own-x] [--screen WxHxD] [--] command [args...]
#
# --own-x   start a private Xvfb even when DISPLAY is set (tests always do)
# Inside a session (KESTRINE_WINE_SESSION set) the command simply runs.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
own_x=0
screen=1920x1080x24
while [ $# -gt 0 ]; do
    case "$1" in
        --own-x) own_x=1; shift ;;
        --screen) screen=$2; shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--own-x] [--screen WxHxD] command [args...]" >&2; exit 2; }

if [ -n "${KESTRINE_WINE_SESSION:-}" ]; then
    exec "$@"
fi

# Every `wine` in the session is the project's, which starts each program
# with the loader of its own architecture (scripts/bin/wine).
export PATH="$root/scripts/bin:$PATH"
export WINEPREFIX="${KESTRINE_WINEPREFIX:-$root/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts: the project needs neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

xvfb_pid=""
server_pid=""
server_owned=0
session_id=""

teardown() {
    local rc=$?
    trap - EXIT INT TERM
    if [ "$server_owned" = 1 ] && kill -0 "$server_pid" 2>/dev/null; then
        # Ask our own server to end its clients (services, explorer, any card
        # host left behind), then make sure the server pid itself is gone.
        wineserver -k >/dev/null 2>&1 || true
        for _ in $(seq 50); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    # Anything of this session that outlived its server (a time-out may have
    # signalled the whole process group, server included) is found by the
    # session mark in its environment and ended by pid.
    local pid
    [ -n "$session_id" ] && for pid in $(grep -l -s -a -F "KESTRINE_WINE_SESSION=$session_id" /proc/[0-9]*/environ \
                 | cut -d/ -f3); do
        [ "$pid" = "$$" ] || kill -KILL "$pid" 2>/dev/null || true
    done
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    exit "$rc"
}
trap teardown EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ "$own_x" = 1 ] || [ -z "${DISPLAY:-}" ]; then
    # -displayfd lets the server pick a free display number and tell us which.
    fifo=$(mktemp -u /tmp/kestrine-xvfb.XXXXXX)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -maxclients 2048 \
        3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    display=""
    if ! read -r -t 20 display <"$fifo"; then display=""; fi
    rm -f "$fifo"
    [ -n "$display" ] || { echo "wine-session: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$display"
fi

mkdir -p "$(dirname "$WINEPREFIX")"
# The settings the project gives its prefix. The ready mark records their
# checksum, so a prefix made before a settings file changed gets them again.
settings=("$root/scripts/fonts.reg" "$root/scripts/debugger.reg" "$root/scripts/x11.reg")
settings_sum=$(cat "${settings[@]}" | sha256sum | cut -d' ' -f1)
# The Wine the prefix was made with, on the mark's second line. A prefix made
# by a 64-bit-only Wine fails every program ("could not load kernel32.dll,
# status c0000135") once wine32 is installed, and a fresh one works for both,
# so a prefix of another Wine (or one that recorded none) is made afresh.
wine_build() {
    local packages
    packages=$(dpkg-query -W -f='${db:Status-Abbrev}|${Package}:${Architecture}=${Version}\n' \
               wine wine32 wine64 2>/dev/null | sed -n 's/^ii *|//p' | LC_ALL=C sort | tr '\n' ' ' || true)
    echo "wine ${packages:-$(wine64 --version 2>/dev/null || wine --version 2>/dev/null)}"
}
wine_id=$(wine_build)
(
    # One preparation at a time, even when two sessions start together.
    flock 9
    ready="$WINEPREFIX/.kestrine-ready"
    if [ -f "$ready" ] && [ "$(sed -n 2p "$ready")" != "$wine_id" ]; then
        echo "wine-session: $WINEPREFIX was made by another Wine; making it afresh" >&2
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$ready" ] || [ "$(sed -n 1p "$ready")" != "$settings_sum" ]; then
        if [ ! -f "$ready" ]; then
            echo "wine-session: preparing Wine prefix $WINEPREFIX (once)" >&2
            wine wineboot -i >/dev/null 2>&1
        fi
        for file in "${settings[@]}"; do
            wine regedit /S "$(wine winepath -w "$file" 2>/dev/null)" >/dev/null 2>&1
        done
        wineserver -w
        printf '%s\n%s\n' "$settings_sum" "$wine_id" >"$ready"
    fi
) 9>"$WINEPREFIX.lock"

# Every process of the session carries this mark in its environment.
session_id="$$.$(date +%s%N)"
export KESTRINE_WINE_SESSION="$session_id"

# The persistent server for the session. If another session of this prefix
# already runs one, ours exits at once and we share theirs without owning it.
wineserver -f -p >/dev/null 2>&1 &
server_pid=$!
sleep 0.3
if kill -0 "$server_pid" 2>/dev/null; then server_owned=1; fi
# Start the prefix's background services now, with our output streams closed.
# Started lazily by the first program instead, they would inherit its stdout
# and hold it open for the rest of the session, and a reader such as CTest
# would wait for end-of-file forever.
wine wineboot </dev/null >/dev/null 2>&1 || true

# The command runs in the background so that a TERM or INT (a time-out, ^C)
# reaches the teardown at once instead of after the command; the explicit
# redirection keeps our standard input, which a background job would lose.
"$@" 0<&0 &
cmd_pid=$!
trap 'kill -TERM "$cmd_pid" 2>/dev/null; exit 143' TERM
trap 'kill -INT "$cmd_pid" 2>/dev/null; exit 130' INT
set +e
wait "$cmd_pid"
rc=$?
set -e
exit "$rc"
