#!/usr/bin/env bash
# Deployment as an administrator does it: builds the three Debian packages from this build
# tree, checks their contents and metadata, installs them on this machine with apt-get,
# uses the installed programs (the client started from its autostart entry on a private X
# display, the message sent by the installed command-line sender), removes them again and
# checks that nothing is left.
#
# Arguments: the build tree, the cpack program. Needs root, dpkg and apt; skipped (exit 77)
# without them, or when a Tellwick package is already installed here (it would be removed).
#
# Safe beside other tests: the event log, the lock directory, the display and the port are
# private to this run; the packages and the registry folder they own are machine-wide, so
# two runs of this test take turns.
set -euo pipefail

BUILD_DIR=$1
CPACK=$2
SKIP=77
PACKAGES=(tellwick-server tellwick-client tellwick-cli)
EVENT_KEY="SYSTEM/CurrentControlSet/services/eventlog/Application"
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/man_check.sh"

skip() {
    echo "SKIP: $*"
    exit $SKIP
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# wait_for SECONDS COMMAND...: polls the command every 0.1 s until it succeeds.
wait_for() {
    local limit=$(($1 * 10))
    shift
    for ((i = 0; i < limit; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

[[ $(id -u) -eq 0 ]] || skip "installing packages needs root"
for tool in dpkg dpkg-deb dpkg-query apt-get flock readelf Xvfb xdotool setpriv ss lintian; do
    command -v "$tool" >/dev/null || skip "$tool is not available"
done
[[ -x $CPACK ]] || skip "cpack is not available"

# Runs of this test in other build trees install the same packages: take turns. The lock is
# an flock on dpkg's directory, which leaves no file behind and does not touch dpkg's own
# (fcntl) locks.
exec 9</var/lib/dpkg
flock -w 1500 9 || fail "another packaging test kept the machine for 25 minutes"

for p in "${PACKAGES[@]}"; do
    state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ -z $state || $state == not-installed ]] ||
        skip "$p is already on this machine ($state); the test would remove it"
done

export DEBIAN_FRONTEND=noninteractive
APT=(apt-get -y -q -o DPkg::Lock::Timeout=600)
WORK=$(mktemp -d /tmp/tellwick-packaging.XXXXXX)
# apt reads the local packages as its own unprivileged user.
chmod 0755 "$WORK"
# The packages register in their own folder, whatever the administrator's shell says: a
# decoy named by TELLWICK_REGISTRY must stay empty.
REGISTRY=/var/lib/tellwick/registry
export TELLWICK_REGISTRY=$WORK/decoy
mkdir -m 0755 "$TELLWICK_REGISTRY"
# A value of ours left by an earlier run that died would be taken for this run's.
for source in "Tellwick Server" "Tellwick Client"; do
    grep -qsxE '/usr/bin/tellwick_(server|client)' "$REGISTRY/$EVENT_KEY/$source/EventMessageFile" &&
        skip "$REGISTRY already registers the packaged programs"
done

installed=0
pids=()
cleanup() {
    local rc=$?
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    if ((installed)); then
        "${APT[@]}" purge "${PACKAGES[@]}" >/dev/null 2>&1 || true
    fi
    rm -rf "$WORK"
    exit $rc
}
trap cleanup EXIT

# ---- Build the packages ---------------------------------------------------------------------
echo "== cpack"
"$CPACK" --config "$BUILD_DIR/CPackConfig.cmake" -G DEB -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1 ||
    { cat "$WORK/cpack.log"; fail "cpack failed"; }
chmod -R a+rX "$WORK/pkg"
declare -A DEB
for p in "${PACKAGES[@]}"; do
    files=("$WORK"/pkg/"${p}"_*.deb)
    [[ -f ${files[0]} ]] || { ls -l "$WORK/pkg"; fail "no package $p was built"; }
    DEB[$p]=${files[0]}
done

# ---- Metadata and contents ------------------------------------------------------------------
# owner_of FILE: the package that holds a library file, trying the forms under which dpkg
# may have recorded it on a merged /usr.
owner_of() {
    local f=$1 real out c
    real=$(readlink -f "$f")
    for c in "$f" "$real" "${f#/usr}" "/usr$f" "${real#/usr}"; do
        if out=$(dpkg-query -S "$c" 2>/dev/null) && [[ -n $out ]]; then
            echo "${out%%:*}"
            return 0
        fi
    done
    return 1
}

# depends_on DEPENDS PACKAGE: whether the Depends field names the package, alone or as
# one of alternatives, with or without a version.
depends_on() {
    local item items
    IFS=',|' read -ra items <<<"$1"
    for item in "${items[@]}"; do
        item=${item%%(*}
        item=${item//[[:space:]]/}
        [[ $item == "$2" ]] && return 0
    done
    return 1
}

declare -A WANT_FILES=(
    [tellwick-server]="./usr/bin/tellwick_server ./usr/share/applications/tellwick-server.desktop ./usr/share/icons/hicolor/scalable/apps/tellwick-server.svg ./usr/share/icons/hicolor/48x48/apps/tellwick-server.png ./usr/share/metainfo/org.tellwick.Server.metainfo.xml ./usr/share/man/man1/tellwick_server.1.gz ./usr/share/doc/tellwick-server/copyright ./usr/share/doc/tellwick-server/changelog.gz ./var/lib/tellwick/registry/"
    [tellwick-client]="./usr/bin/tellwick_client ./etc/xdg/autostart/tellwick-client.desktop ./usr/share/man/man1/tellwick_client.1.gz ./usr/share/doc/tellwick-client/copyright ./usr/share/doc/tellwick-client/changelog.gz ./var/lib/tellwick/registry/"
    [tellwick-cli]="./usr/bin/tellwick_cli ./usr/share/man/man1/tellwick_cli.1.gz ./usr/share/doc/tellwick-cli/copyright ./usr/share/doc/tellwick-cli/changelog.gz"
)
declare -A PROGRAM=([tellwick-server]=tellwick_server [tellwick-client]=tellwick_client
    [tellwick-cli]=tellwick_cli)

all_files=()
for p in "${PACKAGES[@]}"; do
    deb=${DEB[$p]}
    echo "== $p: $(basename "$deb")"
    [[ $(dpkg-deb -f "$deb" Package) == "$p" ]] || fail "$p: wrong package name"
    [[ $(dpkg-deb -f "$deb" Version) == 1.53 ]] || fail "$p: version $(dpkg-deb -f "$deb" Version)"
    [[ $(dpkg-deb -f "$deb" Maintainer) == "Tellwick developers <developers@tellwick.example>" ]] ||
        fail "$p: maintainer"
    [[ $(dpkg-deb -f "$deb" Section) == net ]] || fail "$p: section"
    [[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] ||
        fail "$p: architecture"
    # A summary line and a long description below it.
    desc=$(dpkg-deb -f "$deb" Description)
    [[ $(head -1 <<<"$desc") == "office popup messenger - "* ]] || fail "$p: summary: $desc"
    (($(wc -l <<<"$desc") >= 2)) || fail "$p: no long description"

    contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
    for f in ${WANT_FILES[$p]}; do
        grep -qxF "$f" <<<"$contents" || fail "$p lacks $f"
    done
    # Nothing may land under /usr/local or /usr/etc, whatever prefix the tree was built for.
    if grep -E '^\./usr/(local|etc)/' <<<"$contents"; then fail "$p: files outside /usr, /etc"; fi
    while read -r f; do
        [[ $f == */ ]] || all_files+=("${f#.}")
    done <<<"$contents"

    # Every library the program needs is covered by the computed Depends field.
    depends=$(dpkg-deb -f "$deb" Depends)
    mkdir -p "$WORK/x/$p"
    dpkg-deb -x "$deb" "$WORK/x/$p"
    program=$WORK/x/$p/usr/bin/${PROGRAM[$p]}
    depends_on "$depends" libc6 || fail "$p: Depends has no libc6: $depends"
    while read -r soname; do
        lib=$(ldd "$program" | awk -v n="$soname" '$1 == n {print $3}')
        [[ -n $lib ]] || fail "$p: $soname not found"
        owner=$(owner_of "$lib") || fail "$p: no package holds $lib"
        depends_on "$depends" "${owner%%:*}" || fail "$p: Depends lacks $owner ($soname): $depends"
    done < <(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    echo "   Depends: $depends"

    # The programs carry the hardening of Debian's own builds.
    if command -v hardening-check >/dev/null; then
        report=$(hardening-check "$program" || true)
        if grep -E '(Position Independent|Stack protected|Fortify Source|Read-only relocations|Immediate binding).*: no' <<<"$report"; then
            fail "$p: hardening missing: $report"
        fi
    fi
    # Debian's own checker: no error, and the warnings are shown.
    lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
    [[ -z $lintian_out ]] || echo "$lintian_out"
    if grep -E '^E: ' <<<"$lintian_out"; then fail "$p: lintian reports errors"; fi
done

# The registration scripts belong to the server and the client, the cli registers nothing.
for p in tellwick-server tellwick-client; do
    # The listing is read whole before it is searched: with pipefail, "grep -q" leaving early
    # would make tar die of a broken pipe and the check fail at random.
    control=$(dpkg-deb --ctrl-tarfile "${DEB[$p]}" | tar -t)
    grep -qx './postinst' <<<"$control" || fail "$p: no postinst"
    grep -qx './prerm' <<<"$control" || fail "$p: no prerm"
done
# The autostart entry is a configuration file: an administrator's change survives upgrades,
# and only a purge removes it.
dpkg-deb --ctrl-tarfile "${DEB[tellwick-client]}" | tar -xO ./conffiles 2>/dev/null |
    grep -qx /etc/xdg/autostart/tellwick-client.desktop ||
    fail "the autostart entry is not a configuration file of tellwick-client"

# The run would overwrite and then delete files that belong to nobody: leave such a machine.
for f in "${all_files[@]}"; do
    [[ ! -e $f ]] || skip "$f already exists on this machine; the test would remove it"
done

# ---- Install --------------------------------------------------------------------------------
echo "== apt-get install"
installed=1
"${APT[@]}" install --no-install-recommends "${DEB[@]}" >"$WORK/apt.log" 2>&1 ||
    { cat "$WORK/apt.log"; fail "apt-get install failed"; }

for p in "${PACKAGES[@]}"; do
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$p") == installed ]] || fail "$p not installed"
done

# The sender is on an ordinary PATH.
cli=$(env -i PATH=/usr/local/bin:/usr/bin:/bin bash -c 'command -v tellwick_cli') ||
    fail "tellwick_cli is not on the PATH"
[[ $cli == /usr/bin/tellwick_cli ]] || fail "tellwick_cli found at $cli"
version=$(env -i PATH=/usr/bin:/bin tellwick_cli --version)
[[ $(head -1 <<<"$version") == "tellwick_cli (Tellwick CLI) 1.53" ]] ||
    fail "tellwick_cli --version: $version"

# man finds the installed page, and it carries the options and examples of the help.
if command -v man >/dev/null; then
    page=$(MANWIDTH=200 man -P cat tellwick_cli 2>/dev/null) || fail "man tellwick_cli failed"
    check_cli_page "$(tellwick_cli --help)" "$page" || fail "man tellwick_cli"
fi

# check_registration SOURCE PROGRAM: the value holds exactly the path, readable by everyone.
check_registration() {
    local key="$REGISTRY/$EVENT_KEY/$1" value
    value="$key/EventMessageFile"
    [[ -f $value ]] || fail "no registration for \"$1\""
    cmp -s "$value" <(printf '%s' "$2") ||
        fail "\"$1\" registered as '$(cat "$value")', expected '$2' without a line feed"
    [[ $(stat -c %a "$value") == 644 && $(stat -c %a "$key") == 755 ]] ||
        fail "registration of \"$1\" is not readable by every user"
}
check_registration "Tellwick Server" /usr/bin/tellwick_server
check_registration "Tellwick Client" /usr/bin/tellwick_client
[[ ! -e $REGISTRY/$EVENT_KEY/tellwick_cli ]] || fail "the cli registered itself"
[[ -z $(find "$TELLWICK_REGISTRY" -mindepth 1) ]] ||
    fail "the maintainer scripts wrote where TELLWICK_REGISTRY points"
# Leftover temporary files of the atomic write.
[[ -z $(find "$REGISTRY" -name '.*' -type f) ]] || fail "temporary files in the registry"

# A reinstallation (an upgrade to the same version) keeps the registration.
"${APT[@]}" install --reinstall "${DEB[tellwick-client]}" >"$WORK/apt.log" 2>&1 ||
    { cat "$WORK/apt.log"; fail "reinstalling the client failed"; }
check_registration "Tellwick Client" /usr/bin/tellwick_client

# ---- The client in a desktop session --------------------------------------------------------
entry=/etc/xdg/autostart/tellwick-client.desktop
[[ -f $entry ]] || fail "no autostart entry $entry"
echo "== autostart entry"
cat "$entry"
field() { sed -n "s/^$1=//p" "$entry" | head -1; }
[[ $(field Type) == Application ]] || fail "autostart entry: Type"
[[ $(field Hidden) != true ]] || fail "autostart entry is hidden"
[[ $(field X-GNOME-Autostart-enabled) != false ]] || fail "autostart entry is disabled"
# The command line without the desktop entry's field codes, split as the session does.
read -ra exec_line <<<"$(field Exec | sed -E 's/ %[a-zA-Z]//g')"
((${#exec_line[@]} > 0)) || fail "autostart entry has no Exec line"
resolved=$(env -i PATH=/usr/local/bin:/usr/bin:/bin bash -c "command -v '${exec_line[0]}'") ||
    fail "autostart command ${exec_line[0]} not found"
[[ $resolved == /usr/bin/tellwick_client ]] || fail "autostart starts $resolved"

# A free port for both UDP and TCP, far from the defaults another test may use.
port=
for ((i = 0; i < 200; i++)); do
    candidate=$((20000 + RANDOM % 12000))  # below the ephemeral range
    if [[ -z $(ss -Hanu "sport = :$candidate") && -z $(ss -Hant "sport = :$candidate") ]]; then
        port=$candidate
        break
    fi
done
[[ -n $port ]] || fail "no free port"

# The user's session: an ordinary user with a home directory holding the configuration,
# a private runtime directory and event log, on a private display.
user=nobody
group=$(id -gn "$user")
home=$WORK/home
mkdir -m 0755 "$home"
printf '[Network]\nNet.PortListen = %s\nNet.PortSender = %s\n' "$port" "$((port + 1))" \
    >"$home/cln_config.ini"
install -d -m 0700 -o "$user" -g "$group" "$WORK/runtime"
events=$WORK/events.jsonl
install -m 0644 -o "$user" -g "$group" /dev/null "$events"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" \
    >"$WORK/xvfb.log" 2>&1 &
pids+=($!)
wait_for 30 test -s "$WORK/display" || { cat "$WORK/xvfb.log"; fail "Xvfb did not start"; }
display=":$(head -1 "$WORK/display")"

echo "== client on display $display, port $port, as $user"
(cd "$home" && exec env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" \
    DISPLAY="$display" XDG_RUNTIME_DIR="$WORK/runtime" QT_QPA_PLATFORM=xcb \
    TELLWICK_EVENTLOG="$events" \
    TELLWICK_NONINTERACTIVE=1 \
    setpriv --reuid="$user" --regid="$group" --clear-groups -- "${exec_line[@]}") \
    >"$WORK/client.out" 2>"$WORK/client.err" &
client_pid=$!
pids+=($client_pid)

has_event() { grep -q "\"source\":\"Tellwick Client\",\"type\":4,\"id\":$1," "$events"; }
# Start-up is complete with event 100; an ordinary user can only get there when the
# registration was already in place.
wait_for 60 has_event 100 || {
    cat "$WORK/client.err"
    fail "the client did not start (event 100 missing)"
}
kill -0 "$client_pid" 2>/dev/null || fail "the client ended: $(cat "$WORK/client.err")"

env -i PATH=/usr/bin:/bin tellwick_cli -a 127.0.0.1 -p "$port" -m tcp -l en \
    -t "Deployed with the packages|second line" >"$WORK/cli.out" ||
    { cat "$WORK/cli.out"; fail "tellwick_cli could not send"; }

find_window() {
    wid=$(DISPLAY=$display xdotool search --onlyvisible --name '^Message$' 2>/dev/null | head -1)
    [[ -n $wid ]]
}
wait_for 30 find_window || { cat "$WORK/client.err"; fail "no message window appeared"; }
wait_for 10 has_event 101 || fail "no event 101 for the shown message"
grep -F '"id":101,' "$events" | grep -F '"Deployed with the packages\nsecond line"' >/dev/null ||
    fail "event 101 does not carry the text: $(cat "$events")"

# The user answers it: Return after a quiet second, again after another if it was missed
# (the window takes Enter only after a second in which no key was pressed in it).
DISPLAY=$display xdotool windowfocus --sync "$wid" || fail "cannot focus the message window"
confirm() {
    sleep 1.2
    DISPLAY=$display xdotool key Return >/dev/null 2>&1 || true
    wait_for 2 has_event 102
}
wait_for 1 confirm || fail "the message was not confirmed"
wait_for 10 bash -c "! DISPLAY=$display xdotool search --onlyvisible --name '^Message\$' >/dev/null" ||
    fail "the message window stayed open"

# The end of the session.
kill -TERM "$client_pid"
client_rc=0
wait "$client_pid" || client_rc=$?
[[ $client_rc -eq 0 ]] || fail "the client ended with $client_rc"
has_event 103 || fail "no event 103 at the end of the session"
# No message box on the way (each box also goes to standard error as "title: text").
if grep -E '^(Error!|Stop): ' "$WORK/client.err"; then fail "the client showed a box"; fi
check_registration "Tellwick Client" /usr/bin/tellwick_client

# ---- Remove ---------------------------------------------------------------------------------
# A registration that names another program file was not made by the package and stays.
foreign="$REGISTRY/$EVENT_KEY/Tellwick Server/EventMessageFile"
printf '%s' /opt/tellwick/tellwick_server >"$foreign"

echo "== apt-get purge"
"${APT[@]}" purge "${PACKAGES[@]}" >"$WORK/apt.log" 2>&1 ||
    { cat "$WORK/apt.log"; fail "apt-get purge failed"; }
installed=0

for p in "${PACKAGES[@]}"; do
    state=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ -z $state || $state == not-installed ]] || fail "$p is still $state"
done
for f in "${all_files[@]}"; do
    [[ ! -e $f ]] || fail "$f is left behind"
done
[[ $(cat "$foreign") == /opt/tellwick/tellwick_server ]] ||
    fail "a registration of another program file was removed"
# What is left of the registry must be the foreign value and the folders that hold it.
[[ ! -e "$REGISTRY/$EVENT_KEY/Tellwick Client" ]] ||
    fail "the client's registration key is left behind"
[[ $(find "$REGISTRY" -type f) == "$foreign" ]] || fail "values left in the registry"
# Leave the machine as it was: the foreign value was ours.
rm -f "$foreign"
dir=$(dirname "$foreign")
while [[ $dir == /var/lib/tellwick* ]] && rmdir "$dir" 2>/dev/null; do dir=$(dirname "$dir"); done

echo "== all checks passed"
