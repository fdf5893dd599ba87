#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job: a resident client started on this
# machine (on the current display, or on a private Xvfb display with a screenshot saved when
# there is none) and a message sent to it with tellwick_cli, confirmed with OK.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tellwick_client tellwick_cli

BIN="$(pwd)/build/bin"
RUN=$(mktemp -d)
mkdir -m 700 "$RUN/xdg"
PORT=${TELLWICK_PORT:-47127}
printf '[Common]\r\nLog.UseEventLogger = 0\r\n\r\n[Network]\r\nNet.PortListen = %s\r\n' "$PORT" \
    > "$RUN/cln_config.ini"

XPID=""
CPID=""
cleanup() {
    if [ -n "$CPID" ]; then kill -TERM "$CPID" 2>/dev/null || true; wait "$CPID" 2>/dev/null || true; fi
    if [ -n "$XPID" ]; then kill "$XPID" 2>/dev/null || true; fi
    rm -rf "$RUN"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$RUN/display" 2>/dev/null &
    XPID=$!
    until [ -s "$RUN/display" ]; do sleep 0.1; done
    export DISPLAY=":$(cat "$RUN/display")"
fi

(cd "$RUN" && XDG_RUNTIME_DIR="$RUN/xdg" QT_QPA_PLATFORM=xcb exec "$BIN/tellwick_client" --debug) &
CPID=$!
for _ in $(seq 100); do
    grep -q "NameFQDN" "$RUN/debug_client.log" 2>/dev/null && break
    sleep 0.1
done

"$BIN/tellwick_cli" -a 127.0.0.1 -p "$PORT" -l en \
    -t "Hello from tellwick_cli|The client shows this in its own window"
WID=$(timeout 20 xdotool search --sync --onlyvisible --name '^Message$' | head -1)
echo "The message window is on screen (window id $WID)."
if [ -n "$XPID" ]; then
    import -window root tellwick-client.png
    echo "Screenshot: $(pwd)/tellwick-client.png"
fi
sleep 1.2   # Enter is ignored during the first second, so nobody confirms a message unread
xdotool windowfocus --sync "$WID" key Return
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Message$' >/dev/null 2>&1 || break
    sleep 0.1
done
echo "OK pressed; the client's debug log:"
tr -d '\r' < "$RUN/debug_client.log" | tail -12
