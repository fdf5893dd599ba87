#!/usr/bin/env bash
# Takes a screenshot of the server's main window with a small clients database, on a private
# Xvfb display, so that anyone can look at the window without a desktop.
#   scripts/screenshot-server.sh [output.png]     (default: build/server-screenshot.png)
# Environment: TELLWICK_BIN_DIR (default build/bin), SCREENSHOT_LANGUAGE (EN or RU, default EN).
# Needs Xvfb, xdotool and ImageMagick (scripts/setup-deps.sh installs them).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/server-screenshot.png}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
bin="${TELLWICK_BIN_DIR:-$root/build/bin}/tellwick_server"
language="${SCREENSHOT_LANGUAGE:-EN}"
[[ -x "$bin" ]] || { echo "no server program at $bin (build it first)" >&2; exit 1; }
mkdir -p "$(dirname "$out")"

work="$(mktemp -d /tmp/tellwick-shot.XXXXXX)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/registry"
chmod 700 "$work/run"

width=800 height=600
# A listener port that nothing else uses: the server must be able to open it.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

printf '\xEF\xBB\xBF[Common]\r\nLanguage = %s\r\nUseEventLogger = 0\r\nWarningMask = 1\r\nScreenRes = %s*%s\r\nWindowPosX = 20\r\nWindowPosY = 20\r\nWindowWidth = 640\r\nWindowHeight = 470\r\nSplitterHoriz = 200\r\nSplitterVertc = 330\r\n\r\n[Network]\r\nProtoUseTCP = 1\r\nPortListen = %s\r\n\r\n[Paths]\r\nClients = .\\clients.xml\r\nTemplates = .\\templates.ini\r\n' \
    "$language" "$width" "$height" "$port" > "$work/srv_config.ini"
cat > "$work/clients.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<root config="3.1">
    <group name="Head office">
        <key name="Reception">10.20.0.10</key>
        <key name="Accounting">10.20.0.11</key>
        <list name="Sales floor">10.20.1.21,10.20.1.22,10.20.1.23</list>
    </group>
    <group name="Warehouse">
        <key name="Dispatch">dispatch-pc</key>
        <key name="Loading bay">10.20.2.40</key>
    </group>
    <key name="Server room">10.20.0.2</key>
</root>
XML
printf '\xEF\xBB\xBF\r\n[Lunch]\r\n1 = Lunch is served in the canteen.\r\n\r\n[Fire drill]\r\n1 = Fire drill at 15:00.|Please leave by the east stairs.\r\n' \
    > "$work/templates.ini"

# Runs inside the private display: start the server, wait for its window, shoot, stop it.
cat > "$work/inner.sh" <<'INNER'
set -euo pipefail
cd "$work"
XDG_RUNTIME_DIR="$work/run" TELLWICK_REGISTRY="$work/registry" \
    TELLWICK_EVENTLOG="$work/events.jsonl" TELLWICK_NONINTERACTIVE=1 \
    QT_QPA_PLATFORM=xcb "$bin" &
pid=$!
wid=""
for _ in $(seq 1 200); do
    wid=$(xdotool search --onlyvisible --name '^Tellwick Server' 2>/dev/null | head -1 || true)
    [[ -n "$wid" ]] && break
    kill -0 "$pid" 2>/dev/null || { echo "the server ended early" >&2; exit 1; }
    sleep 0.1
done
[[ -n "$wid" ]] || { echo "no server window appeared" >&2; kill -TERM "$pid"; exit 1; }
xdotool windowfocus --sync "$wid" >/dev/null 2>&1 || true
# Open the whole tree: a click on the root's caption makes it current (its box stays as it
# is), "*" expands everything below it.
xdotool mousemove --window "$wid" 440 18 click 1 key asterisk mousemove --window "$wid" 600 380
# Let the window paint before the shot.
sleep 1
import -window root "$out"
kill -TERM "$pid"
wait "$pid"
INNER
export work bin out

xvfb-run -a -s "-screen 0 ${width}x${height}x24 -nolisten tcp" bash "$work/inner.sh"
echo "screenshot: $out"
