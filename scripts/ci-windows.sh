#!/usr/bin/env bash
# The Windows cross build: configures the "mingw" preset, builds the core
# library with the Win32 serial backend and the core test programs, and runs
# them under Wine when Wine is there. The Win32 backend is also run against a
# real line: a pty on the Linux side, seen by Wine as COM5:, whose other end
# echoes every byte. Exits non-zero on any failure. Arguments go to ctest
# (say -V -R test_link).
set -euo pipefail
cd "$(dirname "$0")/.."

# Install only what is missing.
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v python3 >/dev/null || missing+=(python3)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
[[ -f /usr/src/googletest/CMakeLists.txt ]] || missing+=(googletest)
command -v wine >/dev/null || missing+=(wine)
[[ $(dpkg-query -W -f='${Status}' wine64 2>/dev/null) == *"ok installed" ]] || missing+=(wine64)
command -v Xvfb >/dev/null || missing+=(xvfb)
[[ -d /usr/share/wine/fonts ]] || missing+=(fonts-wine)
[[ -f /usr/share/i18n/locales/ru_RU ]] || missing+=(locales)
if ((${#missing[@]})); then
    echo "== installing ${missing[*]}"
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

build=build/mingw
wine_bin=$(command -v wine || true)
if [[ -n "$wine_bin" ]]; then
    cmake --preset mingw -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_bin"
else
    cmake --preset mingw
fi

# The core library, the window, the bench's bare window, and every test
# program the cross build defines.
targets=(busdesk_core busdesk busdesk-cli bare_window bare_window_v6 bare_window_controls window_driver_test)
while read -r t; do targets+=("$t"); done < <(
    cmake --build "$build" --target help | sed -n 's/^\(test_[a-z0-9_]*\): .*/\1/p' | sort -u)
echo "== building ${targets[*]}"
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# One file that runs from a USB stick: nothing but system DLLs imported.
exe=$build/win32/busdesk.exe
echo "== busdesk.exe imports: $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z\n' 'a-z ')"
. scripts/system-dlls.sh
for dll in $(foreign_dlls "$exe"); do
    echo "busdesk.exe imports $dll, which is not a system DLL"
    exit 1
done
x86_64-w64-mingw32-strip -o "$build/busdesk-stripped.exe" "$exe"
echo "== busdesk.exe stripped: $(stat -c %s "$build/busdesk-stripped.exe") bytes"

if [[ -z "$wine_bin" ]]; then
    echo "== no wine: the Windows test programs were built, not run"
    exit 0
fi

export WINEDEBUG=-all
export WINEPREFIX=$PWD/$build/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts
rm -rf "$WINEPREFIX"
responder_pid=""
cleanup() {
    [[ -n "$responder_pid" ]] && kill "$responder_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

echo "== preparing a Wine prefix"
timeout 600 wineboot -i
wineserver -w

# The line: Wine opens COMn: through the link $WINEPREFIX/dosdevices/comn.
# com1.. are taken by the machine's /dev/ttyS*; COM5: is ours. The responder
# echoes every byte, except two requests of its own (tests/link/
# win32_port_test.cpp): A1 "GAP" is answered in two parts 150 ms apart, A1
# "LONG" with 700 bytes. It keeps its slave end open so that the master never
# sees a hang-up while the tests open and close the line.
ready=$build/com5.ready
rm -f "$ready"
python3 - "$WINEPREFIX/dosdevices/com5" "$ready" <<'PY' &
import os, pty, select, sys, time, tty
link, ready = sys.argv[1], sys.argv[2]
master, slave = pty.openpty()
tty.setraw(slave)
if os.path.lexists(link):
    os.unlink(link)
os.symlink(os.ttyname(slave), link)
open(ready, "w").close()
while True:
    r, _, _ = select.select([master], [], [], 1.0)
    if r:
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        if data == b"\xa1GAP":
            os.write(master, b"\x3e\x01\x0d")
            time.sleep(0.15)
            os.write(master, b"\x0a\x00\xff")
        elif data == b"\xa1LONG":
            os.write(master, bytes(i * 7 % 256 for i in range(700)))
        else:
            os.write(master, data)
PY
responder_pid=$!
for _ in $(seq 100); do [[ -f "$ready" ]] && break; sleep 0.1; done
[[ -f "$ready" ]] || { echo "the echo line did not come up"; exit 1; }
echo "COM5: is $(readlink "$WINEPREFIX/dosdevices/com5")"

echo "== running the test programs under Wine"
export BUSDESK_WIN32_LINE=COM5:
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"

kill "$responder_pid" 2>/dev/null || true
responder_pid=""

# busdesk-cli.exe on a network line: the Linux simulator serves the bus over
# telnet with the com-port control on loopback, Winsock under Wine connects.
echo "== busdesk-cli.exe against busdesk-sim --rfc2217"
cmake --preset default >/dev/null
cmake --build --preset default --target busdesk-sim
sim_out=$build/sim-net.out
rm -f "$sim_out"
build/default/sim/busdesk-sim --no-drift --rfc2217 0 >"$sim_out" </dev/null &
sim_pid=$!
responder_pid=$sim_pid  # stopped by the same cleanup
for _ in $(seq 100); do [[ $(wc -l <"$sim_out") -ge 2 ]] && break; sleep 0.1; done
url=$(sed -n 2p "$sim_out")
[[ "$url" == rfc2217://* ]] || { echo "busdesk-sim gave no address"; exit 1; }
cli=$build/cli/busdesk-cli.exe
check() {  # check WHAT EXPECTED ARGS...: the command succeeds and prints EXPECTED
    local what=$1 expected=$2 out
    shift 2
    out=$(timeout 120 wine "$cli" --port "COM1:=$url" "$@" 2>&1) || { echo "$what failed: $out"; exit 1; }
    [[ "$out" == *"$expected"* ]] || { echo "$what: no \"$expected\" in: $out"; exit 1; }
    echo "$what: ok"
}
check "survey" "найдены адреса: 1 5 7" survey
check "reader poll" "получено показаний: 1" show 1 --count 1
check "tag read" "метка 1A2B3C4D" read-tag 1 1A2B3C4D
check "address change" "готово" set-address 5 8
check "address taken" "найдены адреса: 1 8 7" survey
kill "$sim_pid" 2>/dev/null || true
responder_pid=""

# Names outside the ANSI code page, from the command line to the file: the
# arguments and every file call must keep them as given.
echo "== busdesk-cli.exe report with Cyrillic file names"
names=$PWD/$build/cyrillic-names
rm -rf "$names"
mkdir -p "$names/папка смены"
cat >"$names/папка смены/день.jsonl" <<'JSONL'
{"t":"2026-12-08T13:40:09.000+03:00","ev":"start","program":"busdesk 0.1.0"}
{"t":"2026-12-08T13:40:10.103+03:00","ev":"tx","addr":1,"code":"F0","meaning":"запрос данных считывателя","hex":"31 01 F0 C5"}
JSONL
cli_exe=$PWD/$cli
out=$(cd "$names" && timeout 120 wine "$cli_exe" report \
    --journal "папка смены\день.jsonl" -o "папка смены\отчёт смены.html" 2>&1) ||
    { echo "report failed: $out"; exit 1; }
listed=$(LC_ALL=C ls "$names/папка смены")
[[ "$listed" == $'день.jsonl\nотчёт смены.html' ]] ||
    { echo "report: the folder holds: $listed"; exit 1; }
grep -q "день.jsonl" "$names/папка смены/отчёт смены.html" ||
    { echo "report: the journal is not named in it"; exit 1; }
echo "report: ok"

# The window itself, driven through window messages against the simulated bus.
./scripts/win32-window-test.sh
