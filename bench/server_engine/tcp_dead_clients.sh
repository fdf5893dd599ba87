#!/usr/bin/env bash
# What switched-off workstations cost a TCP mailing. A network namespace of its own holds
# 1,500 made-up workstations on 10.78.0.0/16: connects to the 1,000 on 10.78.1-4.x are
# dropped (they wait for the full 5 s time-out, as a switched-off machine does), the 500 on
# 10.78.5-6.x accept. Printed, one line each:
#   - the server engine's TCP pass to 1,000 clients, 500 silent and 500 accepting;
#   - a plain program that starts those 1,000 connects at once (the floor for the pass);
#   - tellwick_cli -m tcp to the 1,000 silent addresses;
#   - the resting server with a 65,024-client database: wake-ups per second of each thread.
# Needs root, ip and iptables; all traffic stays inside the namespace and on loopback.
# Usage: bench/server_engine/tcp_dead_clients.sh [build/bin]
set -euo pipefail
bin=$(realpath "${1:-"$(dirname "$0")/../../build/bin"}")
port=47127
ns=twbench$$
host=twbh$$
work=$(mktemp -d)
cleanup() {
    [ -n "${sink:-}" ] && kill "$sink" 2>/dev/null || true
    [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
    ip link del "$host" 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns"
ip link add "$host" type veth peer name eth0 netns "$ns"
ip addr add 10.78.0.1/16 dev "$host"
ip link set "$host" up
ip -n "$ns" link set lo up
ip -n "$ns" link set eth0 up
{
    echo "addr add 10.78.0.2/16 dev eth0"
    for c in 1 2 3 4; do for d in $(seq 1 250); do echo "addr add 10.78.$c.$d/32 dev eth0"; done; done
    for c in 5 6; do for d in $(seq 1 250); do echo "addr add 10.78.$c.$d/32 dev eth0"; done; done
} >"$work/addresses"
ip -n "$ns" -batch "$work/addresses"
for c in 1 2 3 4; do
    ip netns exec "$ns" iptables -A INPUT -p tcp -d "10.78.$c.0/24" --dport "$port" -j DROP
done
# The accepting workstations: take every connection and drop it once its bytes are in.
ip netns exec "$ns" python3 -c '
import socket, select, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("0.0.0.0", int(sys.argv[1]))); s.listen(1024)
while True:
    c, _ = s.accept(); c.close()
' "$port" &
sink=$!

list() {  # the odometer ranges of the silent and the accepting halves
    case $1 in
        silent500) echo "10.78.1.1-10.78.1.250 10.78.2.1-10.78.2.250" ;;
        silent1000) echo "10.78.1.1-10.78.1.250 10.78.2.1-10.78.2.250 10.78.3.1-10.78.3.250 10.78.4.1-10.78.4.250" ;;
        up500) echo "10.78.5.1-10.78.5.250 10.78.6.1-10.78.6.250" ;;
    esac
}
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<root config="3.1">'
    # Silent and accepting clients in turns of 250, as they would be spread over an office.
    s=($(list silent500)) u=($(list up500))
    for i in 0 1; do
        echo "  <list name=\"Off $i\">${s[$i]}</list>"
        echo "  <list name=\"On $i\">${u[$i]}</list>"
    done
    echo '</root>'
} >"$work/clients.xml"
# Give the sink a moment to listen: wait until a connect to an accepting address succeeds.
for _ in $(seq 1 100); do
    python3 -c 'import socket,sys; socket.create_connection(("10.78.5.1", int(sys.argv[1])), 0.2)' \
        "$port" 2>/dev/null && break
done

QT_QPA_PLATFORM=offscreen "$bin/bench_server_engine" --tcp-pass "$work/clients.xml" "$port"

python3 - "$port" <<'PY'
import asyncio, sys, time
port = int(sys.argv[1])
hosts = [f"10.78.{c}.{d}" for c in (1, 5, 2, 6) for d in range(1, 251)]
async def one(h):
    try:
        _, w = await asyncio.wait_for(asyncio.open_connection(h, port), 5)
        w.close(); return True
    except Exception:
        return False
async def main():
    t0 = time.monotonic()
    ok = await asyncio.gather(*(one(h) for h in hosts))
    print(f"plain program, 1000 connects at once: {sum(ok)} connected, "
          f"{(time.monotonic() - t0) * 1000:.0f} ms")
asyncio.run(main())
PY

addresses=$(list silent1000 | tr ' ' ',')
TIMEFORMAT='%R'
cli_s=$({ time "$bin/tellwick_cli" -a "$addresses" -t benchmark -m tcp -p "$port" >/dev/null; } 2>&1)
echo "tellwick_cli -m tcp to 1000 silent addresses: $(awk '{ printf "%.0f", $1 * 1000 }' <<<"$cli_s") ms"

# The resting server: a 65,024-client database, no mailing; count each thread's context
# switches over 10 s once the window is up.
mkdir -p "$work/server"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<root config="3.1">\n  <list name="Net">127.0.0.1-127.1.1.254</list>\n</root>\n' \
    >"$work/server/clients.xml"
printf '[Network]\nPortListen = 47991\n' >"$work/server/srv_config.ini"
export XDG_RUNTIME_DIR="$work/run" && mkdir -m 700 -p "$XDG_RUNTIME_DIR"
(cd "$work/server" && TELLWICK_NONINTERACTIVE=1 TELLWICK_EVENTLOG="$work/events" \
    TELLWICK_REGISTRY="$work/registry" QT_QPA_PLATFORM=offscreen exec "$bin/tellwick_server") &
server=$!
sleep 5  # start-up: loading the database and building the window
switches() {
    for t in /proc/"$server"/task/*; do
        awk -v t="${t##*/}" '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print t, n }' "$t/status"
    done
}
before=$(switches)
sleep 10
after=$(switches)
echo "resting server, 65024 clients, wake-ups per second over 10 s, by thread:"
join <(sort <<<"$before") <(sort <<<"$after") |
    awk '{ printf "  thread %s: %.1f/s\n", $1, ($3 - $2) / 10 }'
