#!/usr/bin/env bash
# Event records reach a real journal under the program's whole name: a private journald runs
# in a mount namespace of its own (its /run and journal folder are private tmpfs), the helper
# writes one record of each program, and journalctl must find them by identifier, with their
# fields. Needs root, unshare and systemd-journald; skipped (77) without them.
# Usage: journal_test.sh path/to/tellwick_platform_helper
set -euo pipefail
helper=$1
journald=/lib/systemd/systemd-journald
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || [ ! -x "$journald" ] ||
    ! command -v journalctl >/dev/null; then
    echo "skipped: needs root, unshare, systemd-journald and journalctl"
    exit 77
fi
exec unshare -m --propagation private bash -s "$helper" "$journald" <<'INNER'
set -euo pipefail
helper=$1 journald=$2
mount -t tmpfs tmpfs /run
mkdir -p /run/systemd/journal /run/log/journal
[ -d /var/log/journal ] && mount -t tmpfs tmpfs /var/log/journal
# Started with no argument at all: any argument would name a journal namespace.
"$journald" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 1 200); do [ -S /run/systemd/journal/socket ] && break; sleep 0.05; done
[ -S /run/systemd/journal/socket ] || { echo "FAIL: journald did not start"; exit 1; }

env -u TELLWICK_EVENTLOG TELLWICK_HELPER_MODE=event-client \
    "$helper" "OPERATOR-PC" "420541335" "Fire drill at 11"
env -u TELLWICK_EVENTLOG TELLWICK_HELPER_MODE=event-server \
    "$helper" "420541335" "Anna (10.0.0.5)" "Confirmed in 10:45:01"

fail=0
find() {  # identifier, field=value ... : every field must be in one record of it
    local id=$1; shift
    local out
    for _ in $(seq 1 100); do
        out=$(journalctl --no-pager -q -t "$id" -o export 2>/dev/null | tr -d "\000" || true)
        [ -n "$out" ] && break
        sleep 0.05
    done
    for want in "$@"; do
        if ! grep -qxF "$want" <<<"$out"; then
            echo "FAIL: journalctl -t \"$id\" has no $want"
            echo "$out" | head -40
            fail=1
        fi
    done
}
find "Tellwick Client" "SYSLOG_IDENTIFIER=Tellwick Client" "PRIORITY=6" \
    "TELLWICK_EVENT_ID=101" "MESSAGE_ID=59dd3fe0d89e4c5d9b6f1e64753269e6" \
    "TELLWICK_SERVER=OPERATOR-PC" "TELLWICK_ROOT_ID=420541335" "TELLWICK_TEXT=Fire drill at 11"
find "Tellwick Server" "SYSLOG_IDENTIFIER=Tellwick Server" "TELLWICK_EVENT_ID=104" \
    "MESSAGE_ID=e8d04e0dd4fd40a98fa3c64403f64b98" "TELLWICK_CLIENT=Anna (10.0.0.5)" \
    "TELLWICK_STATUS=Confirmed in 10:45:01"
# The message itself, as the manual's query prints it.
journalctl --no-pager -q -t "Tellwick Server" -o cat | grep -q "Late report from: Anna (10.0.0.5)" ||
    { echo "FAIL: the message text is not in the journal"; fail=1; }
[ $fail -eq 0 ] && echo "1 passed, 0 failed"
exit $fail
INNER
