#!/usr/bin/env bash
# CI check of the Debian package, as root on a machine that may be changed: builds the package,
# validates its desktop entry, AppStream data and the package itself, installs it with apt, runs
# the installed program against the installed simulator under Xvfb, runs the nightly
# collection's service as its unit runs it, reinstalls and removes it, and checks that the user's
# files stay. Installs the checkers it needs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
export DEBIAN_FRONTEND=noninteractive
[ "$(id -u)" -eq 0 ] || { echo "package-check.sh installs a package: run it as root" >&2; exit 1; }

step() { echo "== $*"; }
fail() { echo "package check FAILED: $*" >&2; exit 1; }

missing=()
for p in desktop-file-utils appstream lintian xdotool xvfb xauth python3 systemd; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] || apt-get install -y --no-install-recommends "${missing[@]}"

step "build the package"
deb=$("$top/tools/package.sh" | tail -n 1)
echo "$deb: $(du -k "$deb" | cut -f1) KB"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

work=$(mktemp -d)
xvfb_pid=""
sim_pid=""
fleet_pid=""
app_pid=""
cleanup() {
    for pid in $app_pid $sim_pid $fleet_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

step "validate the desktop entry, the AppStream data and the package"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/ru.kv9000.ServiceTool.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/ru.kv9000.ServiceTool.metainfo.xml"
lintian --fail-on error --display-info "$deb"

step "install with apt"
if dpkg-query -W kv9000 >/dev/null 2>&1; then apt-get purge -y kv9000; fi
apt-get install -y "$deb"
version=$(sed -n 's/^project(kv9000 VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
installed=$(/usr/bin/kv9000 --version)
echo "kv9000 --version: $installed"
[[ "$installed" == *"$version"* ]] || fail "the installed program says '$installed', not $version"
/usr/bin/kv9000 --check-calc || fail "the installed Calc module does not load"

step "run the installed program against the installed simulator"
# A user of its own: the settings, archives and logs go to these folders, nowhere else.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
export XDG_STATE_HOME="$work/home/state" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/kv9000" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
/usr/bin/kv9000-sim --log "$work/sim.log" >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty=$(head -n 1 "$work/sim.out")
[ -e "$pty" ] || fail "the simulator gave no pseudo-terminal"
settings="$XDG_CONFIG_HOME/kv9000/kv9000.INI"
printf '[General]\r\nCOM port=7\r\n[Ports]\r\nCOM7=%s\r\n' "$pty" >"$settings"

for n in $(seq 91 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
done
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done

cd "$work"
/usr/bin/kv9000 >"$work/kv9000.out" 2>&1 &
app_pid=$!
# Found: the controller was asked for its identification (3), then its address (5), serial
# number (7) and comment (9) as the window reads its identity.
for _ in $(seq 300); do
    grep -q '"dir":"rx".*"command":9,' "$work/sim.log" 2>/dev/null && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
for code in 3 5 7 9; do
    grep -q "\"dir\":\"rx\".*\"command\":$code," "$work/sim.log" ||
        fail "the program did not ask the controller for command $code"
done
echo "the controller was found through the [Ports] entry in $settings"

# Closed as the user closes it (the window manager's close request), so that it saves.
wid=$(timeout 30 xdotool search --sync --onlyvisible --class kv9000 | head -n 1)
[ -n "$wid" ] || fail "no window of the program appeared"
python3 - "$wid" <<'PY'
# Sends WM_DELETE_WINDOW to the window: what a window manager does when its close button is
# pressed. No tool in the archive sends it without a window manager running.
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]

class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

display = x.XOpenDisplay(None)
window = int(sys.argv[1])
event = ClientMessage(type=33, window=window, format=32, display=display,
                      message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0))
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x.XFlush(display)
x.XCloseDisplay(display)
PY
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "the window did not close"
wait "$app_pid" || fail "the program ended with $?"
app_pid=""
grep -q '^Left=' "$settings" || fail "the settings were not written to $settings"
grep -q "^COM7=$pty" "$settings" || fail "the [Ports] entry was lost from $settings"
for f in /usr/bin/kv9000.INI /usr/bin/kv9000-sim.INI; do
    [ ! -e "$f" ] || fail "$f was written beside the executable"
done
echo "settings written to $settings, nothing beside /usr/bin/kv9000"
cp "$settings" "$work/settings.before"
mkdir -p "$XDG_DATA_HOME/kv9000/12345"
echo kept >"$XDG_DATA_HOME/kv9000/12345/kept.kvarc"

step "the nightly collection: its units are valid, and its command collects a simulated fleet"
units=/usr/lib/systemd/user
for unit in kv9000-collect.service kv9000-collect.timer kv9000-listen.service; do
    [ -f "$units/$unit" ] || fail "$units/$unit is not installed"
done
systemd-analyze verify --man=no "$units/kv9000-collect.service" "$units/kv9000-collect.timer" \
    "$units/kv9000-listen.service" || fail "systemd does not accept the collection's units"
systemctl --user is-enabled kv9000-collect.timer >/dev/null 2>&1 &&
    fail "the collection's timer is enabled by the package"
systemctl --user is-enabled kv9000-listen.service >/dev/null 2>&1 &&
    fail "the listener for modems is enabled by the package"
# The service's command as the user's service manager runs it (%E: the user's configuration
# folder), against two simulated controllers on TCP ports.
command=$(sed -n 's/^ExecStart=//p' "$units/kv9000-collect.service")
command=${command//%E/$XDG_CONFIG_HOME}
for base in $(seq 17100 97 17600); do
    /usr/bin/kv9000-sim --tcp "127.0.0.1:$base" --fleet 2 >"$work/fleet.out" 2>/dev/null &
    fleet_pid=$!
    for _ in $(seq 50); do [ -s "$work/fleet.out" ] && break; sleep 0.1; done
    [ "$(wc -l <"$work/fleet.out")" -ge 2 ] && break
    kill "$fleet_pid" 2>/dev/null || true
    fleet_pid=""
done
[ -n "$fleet_pid" ] || fail "the simulated fleet did not start"
{ printf 'port\taddress\tname\n'; sed 's/$/\t1\tкотельная/' "$work/fleet.out"; } \
    >"$XDG_CONFIG_HOME/kv9000/fleet.tsv"
$command >"$work/collect.out" || fail "the collection's command ended with $?: $(cat "$work/collect.out")"
kill "$fleet_pid"
[ "$(grep -c $'\twhole\t8448\t' "$work/collect.out")" = 2 ] ||
    fail "the collection did not keep both controllers: $(cat "$work/collect.out")"
echo "the units are valid and not enabled; the service's command collected $(ls "$XDG_DATA_HOME"/kv9000/archives | wc -l) controllers"

step "the listener for modems: its service's command holds a simulated modem's call for a read"
# Settings of their own (no collection on the call, so that the read below has the call).
export XDG_CONFIG_HOME="$work/listen-config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/kv9000"
printf 'port\taddress\tname\ndialin:KV0001\t1\tкотельная\n' >"$XDG_CONFIG_HOME/kv9000/fleet.tsv"
printf '[Dial-in]\r\nCollect after=-1\r\n' >"$XDG_CONFIG_HOME/kv9000/kv9000.INI"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
listen=$(sed -n 's/^ExecStart=//p' "$units/kv9000-listen.service")
for port in $(seq 17700 89 18200); do
    ${listen//'${LISTEN}'/127.0.0.1:$port} 2>"$work/listen.out" &
    listen_pid=$!
    for _ in $(seq 50); do grep -q принимаются "$work/listen.out" && break; sleep 0.1; done
    grep -q принимаются "$work/listen.out" && break
    kill "$listen_pid" 2>/dev/null || true
    listen_pid=""
done
[ -n "$listen_pid" ] || fail "the listener did not start: $(cat "$work/listen.out")"
/usr/bin/kv9000-sim --dialin "127.0.0.1:$port" --registration KV0001 >/dev/null 2>&1 &
modem_pid=$!
for _ in $(seq 50); do grep -q "на связи" "$work/listen.out" && break; sleep 0.1; done
kept=$(/usr/bin/kv9000 --read dialin:KV0001) || fail "the read through the listener failed"
kill "$modem_pid" "$listen_pid"
echo "the listener held the modem's call; the read kept $kept"
export XDG_CONFIG_HOME="$work/home/config"

step "reinstall and remove: the user's files stay"
apt-get install -y --reinstall "$deb"
cmp "$settings" "$work/settings.before" || fail "reinstalling changed the settings"
apt-get purge -y kv9000
[ ! -e /usr/bin/kv9000 ] || fail "/usr/bin/kv9000 is still there after removal"
cmp "$settings" "$work/settings.before" || fail "removing the package changed the settings"
[ -e "$XDG_DATA_HOME/kv9000/12345/kept.kvarc" ] || fail "removing the package lost an archive"
echo "package check passed"
