#!/usr/bin/env bash
# The Win32 window under Wine: runs tests/win32/window_driver_test.exe, which
# drives the real busdesk.exe through window messages, against busdesk-sim on
# a pty that Wine sees as COM6:. COM7: answers every request with a reply code
# nobody knows; COM8: leads nowhere. Called by scripts/ci-windows.sh with the
# Wine prefix ready; runs on its own too (it then makes a prefix).
#   scripts/win32-window-test.sh [SCREENSHOT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/mingw
native=build/default
shots=${1:-}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
work=$PWD/$build/window-test
mkdir -p "$work"

cmake --build "$build" --target busdesk window_driver_test
[[ -x $native/sim/busdesk-sim ]] || {
    [[ -f $native/CMakeCache.txt ]] || cmake --preset default
    cmake --build "$native" --target busdesk-sim
}

pids=()
cleanup() {
    # Wine first: it must not lose its X server while it still runs.
    timeout 20 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

if [[ ! -d $WINEPREFIX/drive_c ]]; then
    echo "== preparing a Wine prefix"
    timeout 600 wineboot -i
    wineserver -w
fi
# Wine's own fonts (Tahoma among them), else captions fall back to a wider
# font; no window manager, so the X driver must not wait for one on close.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null

# A Russian user locale, built here so the machine's locales stay as they are.
if [[ ! -d $work/locale/ru_RU.UTF-8 ]]; then
    mkdir -p "$work/locale"
    localedef -i ru_RU -f UTF-8 "$work/locale/ru_RU.UTF-8"
fi
export LOCPATH=$work/locale LANG=ru_RU.UTF-8

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
sleep 1
# A Wine session started before (the other Windows tests, or an earlier run)
# has its desktop on no display or a dead one: start afresh on this one.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

# The bus: busdesk-sim logs every request it takes; its stdin stays open.
rm -f "$work/sim.log" "$work/sim.path"
mkfifo "$work/sim.in" 2>/dev/null || true
sleep infinity >"$work/sim.in" &
pids+=($!)
"$native/sim/busdesk-sim" --verbose <"$work/sim.in" >"$work/sim.path" 2>"$work/sim.log" &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/sim.path ]] && break; sleep 0.1; done
sim_pty=$(head -n1 "$work/sim.path")
[[ -n $sim_pty ]] || { echo "busdesk-sim did not start"; exit 1; }
ln -sfn "$sim_pty" "$WINEPREFIX/dosdevices/com6"

# Answers each request with reply code 0x77, which no decoder knows.
ready=$work/com7.ready
rm -f "$ready"
python3 - "$WINEPREFIX/dosdevices/com7" "$ready" <<'PY' &
import os, pty, select, sys, tty
link, ready = sys.argv[1], sys.argv[2]
master, slave = pty.openpty()
tty.setraw(slave)
if os.path.lexists(link):
    os.unlink(link)
os.symlink(os.ttyname(slave), link)
open(ready, "w").close()
def crc8(data):
    crc = 0
    for b in data:
        for _ in range(8):
            mix = (crc ^ b) & 1
            crc >>= 1
            if mix:
                crc ^= 0x8C
            b >>= 1
    return crc
while True:
    r, _, _ = select.select([master], [], [], 1.0)
    if r:
        try:
            data = os.read(master, 4096)
        except OSError:
            continue
        if data[:1] == b"\x31" and len(data) >= 2:
            reply = bytes([0x3E, data[1], 0x77, 0, 0])
            os.write(master, reply + bytes([crc8(reply)]))
PY
pids+=($!)
for _ in $(seq 50); do [[ -f $ready ]] && break; sleep 0.1; done
ln -sfn /nonexistent-busdesk-line "$WINEPREFIX/dosdevices/com8"

echo "== window tests under Wine (COM6: $sim_pty)"
start=$(date +%s)
winlog=$(winepath -w "$work/sim.log")
driver=("$build/tests/win32/window_driver_test.exe" "$(winepath -w "$build/win32/busdesk.exe")"
        COM6: "$winlog" COM7: COM8:)
set +e
if [[ -n $shots ]]; then
    # Screenshots at the moments the driver lingers on, to look at by eye.
    mkdir -p "$shots"
    export BUSDESK_LINGER_MS=2500
    timeout 240 wine "${driver[@]}" | tr -d '\r' | while IFS= read -r line; do
        echo "$line"
        if [[ $line == "linger "* ]]; then
            sleep 1
            import -window root "$shots/${line#linger }.png"
        fi
    done
    rc=${PIPESTATUS[0]}
else
    timeout 240 wine "${driver[@]}"
    rc=$?
fi
set -e
# The layout again at 144 DPI: every control scaled, nothing left behind.
if ((rc == 0)); then
    desktop='HKCU\Control Panel\Desktop'
    wine reg add "$desktop" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
    wineserver -w
    echo "== layout at 144 DPI"
    set +e
    timeout 60 wine "$build/tests/win32/window_driver_test.exe" \
        "$(winepath -w "$build/win32/busdesk.exe")" --layout 144
    rc=$?
    set -e
    wine reg add "$desktop" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null
    wineserver -w
fi
# "Отчёт…" on the demo bus with a journal, in a folder of its own.
if ((rc == 0)); then
    echo "== the report from the window"
    rm -rf "$work/report" && mkdir -p "$work/report"
    set +e
    timeout 120 wine "$build/tests/win32/window_driver_test.exe" \
        "$(winepath -w "$build/win32/busdesk.exe")" --report "$(winepath -w "$work/report")"
    rc=$?
    set -e
fi
echo "== window tests took $(( $(date +%s) - start )) s, exit $rc"
exit $rc
