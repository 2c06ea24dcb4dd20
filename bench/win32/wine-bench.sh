#!/usr/bin/env bash
# busdesk.exe under Wine against a bare Win32 window built with the same flags
# (bench/win32/bare_window.cpp), on a private Xvfb:
#  - exec -> window mapped: from the start of `wine PROGRAM` to the map of its
#    top-level window on the X display (bench/win32/map_watch.c), median of N;
#    the programs take turns, the order swapped every run, so a busy moment
#    on the machine falls on both alike; the prefix is the bench's own and
#    holds no links to test lines (a port list walks them); shown are
#    the median, the fastest start (the program's own cost when nothing else
#    runs on the machine) and the median of the ratios of the two starts of
#    each run, which a machine busy for minutes cannot skew; where the build
#    has bench/win32/bare_window_v6.exe (the bare window with busdesk.exe's
#    manifest and common controls), its median too, and busdesk's against it:
#    the floor themed controls set; the same for bare_window_controls (that
#    window with the child windows of busdesk.exe's first view): the floor
#    that many real controls set;
#  - idle: CPU time of the process tree that works while the window sits
#    there (the program and the prefix's wineserver), summed over all their
#    threads from /proc/PID/task/*/schedstat, over a fixed time.
# Each BUILD is a mingw build with win32/busdesk.exe and bench/win32/bare_window.exe;
# give two (say main's and this branch's) to see them side by side.
#   bench/win32/wine-bench.sh [--runs N] [--idle SECONDS] BUILD...
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=11
idle=30
builds=()
while (($#)); do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --idle) idle=$2; shift 2 ;;
        -*) echo "usage: $0 [--runs N] [--idle SECONDS] BUILD..." >&2; exit 2 ;;
        *) builds+=("$1"); shift ;;
    esac
done
((${#builds[@]})) || builds=(build/mingw)
for b in "${builds[@]}"; do
    for f in win32/busdesk.exe bench/win32/bare_window.exe; do
        [[ -f $b/$f ]] || { echo "no $b/$f (cmake --build $b --target busdesk bare_window)" >&2; exit 1; }
    done
done

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The bench's own prefix (WINE_BENCH_PREFIX to move it), never the window
# test's, which leaves links to its test lines behind.
export WINEPREFIX=${WINE_BENCH_PREFIX:-/tmp/wine-bench-$(id -u)}
work=$(mktemp -d)
pids=()
cleanup() {
    # The Wine programs first, then the server, then the X server.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cc -O2 -o "$work/map_watch" bench/win32/map_watch.c -lX11

if [[ ! -d $WINEPREFIX/drive_c ]]; then
    echo "== preparing a Wine prefix in $WINEPREFIX"
    timeout 600 wineboot -i
    wineserver -w
fi
# Wine's own fonts, as the window tests use; no window manager to wait for.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wineserver -w
# No links to test lines (the window test leaves them behind); Wine makes
# its own for the machine's serial devices again, the same for both programs.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -iname 'com*' -type l -delete

display=:$((200 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
sleep 1
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
# One server for the whole run, so no start pays for launching it.
wineserver -p

# The prefix's server: its working directory is named after the prefix's
# device and inode (under /tmp/.wine-UID or, on Debian, /tmp/wine-XXXXXX).
server_dir=server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")
server_pid() {
    local p
    for p in $(pgrep wineserver); do
        [[ $(readlink "/proc/$p/cwd" 2>/dev/null) == */"$server_dir" ]] && { echo "$p"; return; }
    done
}

# Nanoseconds on CPU of every thread of the given processes.
cpu_ns() {
    local total=0 p f v
    for p in "$@"; do
        for f in /proc/"$p"/task/*/schedstat; do
            read -r v _ <"$f" 2>/dev/null || continue
            total=$((total + v))
        done
    done
    echo "$total"
}

stop() {
    kill "$1" 2>/dev/null || true
    for _ in $(seq 100); do [[ -d /proc/$1 ]] || break; sleep 0.05; done
    sleep 0.5
}

# A window that stays for the whole run keeps the desktop process up, as
# on Windows, where it always runs: no start pays for launching it. It also
# warms the page cache.
read -r _ keeper < <("$work/map_watch" wine "${builds[0]}/bench/win32/bare_window.exe")
pids+=("$keeper")
srv=$(server_pid)
[[ -n $srv ]] || { echo "no wineserver for $WINEPREFIX" >&2; exit 1; }

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# The machine's CPU time, the part stolen by the host (a virtual machine
# whose host is busy) and the part waiting for the disk: starts measured
# while either is more than a few percent vary by a factor of two and more,
# busdesk's with its larger share of server round trips more than the bare
# window's, so the ratio too.
cpu_ticks() { awk '/^cpu / {print $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9, $6, $9}' /proc/stat; }
read -r t0 w0 s0 < <(cpu_ticks)
declare -A start pair last
for ((r = 1; r <= runs; r++)); do
    for b in "${builds[@]}"; do
        # Each run starts with the next program.
        progs=(bare_window busdesk)
        [[ -f $b/bench/win32/bare_window_v6.exe ]] && progs+=(bare_window_v6)
        [[ -f $b/bench/win32/bare_window_controls.exe ]] && progs+=(bare_window_controls)
        order=()
        for ((k = 0; k < ${#progs[@]}; k++)); do order+=("${progs[(r + k + 1) % ${#progs[@]}]}"); done
        for prog in "${order[@]}"; do
            exe=$b/bench/win32/$prog.exe
            [[ $prog == busdesk ]] && exe=$b/win32/busdesk.exe
            read -r ms pid < <("$work/map_watch" wine "$exe")
            start[$b/$prog]+="$ms "
            last[$prog]=$ms
            stop "$pid"
        done
        pair[$b]+="$(awk -v x="${last[busdesk]}" -v y="${last[bare_window]}" 'BEGIN {print x / y}') "
    done
done

read -r t1 w1 s1 < <(cpu_ticks)
declare -A cpu
for b in "${builds[@]}"; do
    for prog in bare_window busdesk; do
        exe=$b/bench/win32/bare_window.exe
        [[ $prog == busdesk ]] && exe=$b/win32/busdesk.exe
        read -r _ pid < <("$work/map_watch" wine "$exe")
        sleep 3  # settled
        a=$(cpu_ns "$pid" "$srv")
        sleep "$idle"
        z=$(cpu_ns "$pid" "$srv")
        cpu[$b/$prog]=$(awk -v d=$((z - a)) -v s="$idle" 'BEGIN {printf "%.4f", d / 1e9 / s * 100}')
        stop "$pid"
    done
done

echo
echo "== under Wine $(wine --version), $runs starts each, idle over $idle s"
awk -v t=$((t1 - t0)) -v w=$((w1 - w0)) -v s=$((s1 - s0)) \
    'BEGIN {printf "   while starting: %.1f %% of CPU time stolen by the host, %.1f %% waiting for the disk\n", 100 * s / t, 100 * w / t}'
printf '%-26s %9s %9s %6s %9s %9s %6s %6s %10s %10s %6s\n' build "bare ms" "busdesk" ratio \
    "bare min" "bd min" ratio paired "bare CPU%" "bd CPU%" ratio
for b in "${builds[@]}"; do
    sb=$(tr ' ' '\n' <<<"${start[$b/bare_window]}" | grep . | median)
    sd=$(tr ' ' '\n' <<<"${start[$b/busdesk]}" | grep . | median)
    mb=$(tr ' ' '\n' <<<"${start[$b/bare_window]}" | grep . | sort -n | head -1)
    md=$(tr ' ' '\n' <<<"${start[$b/busdesk]}" | grep . | sort -n | head -1)
    pr=$(tr ' ' '\n' <<<"${pair[$b]}" | grep . | median)
    cb=${cpu[$b/bare_window]}
    cd_=${cpu[$b/busdesk]}
    printf '%-26s %9.1f %9.1f %6.2f %9.1f %9.1f %6.2f %6.2f %10.4f %10.4f %6.2f\n' "$b" "$sb" "$sd" \
        "$(awk -v x="$sd" -v y="$sb" 'BEGIN {print x / y}')" "$mb" "$md" \
        "$(awk -v x="$md" -v y="$mb" 'BEGIN {print x / y}')" "$pr" "$cb" "$cd_" \
        "$(awk -v x="$cd_" -v y="$cb" 'BEGIN {print (y > 0) ? x / y : 0}')"
    echo "   starts (ms): bare ${start[$b/bare_window]}| busdesk ${start[$b/busdesk]}"
    if [[ -n ${start[$b/bare_window_v6]:-} ]]; then
        sv=$(tr ' ' '\n' <<<"${start[$b/bare_window_v6]}" | grep . | median)
        printf '   bare with the manifest and common controls: median %.1f ms, %.2f x bare; busdesk %.2f x it\n' \
            "$sv" "$(awk -v x="$sv" -v y="$sb" 'BEGIN {print x / y}')" \
            "$(awk -v x="$sd" -v y="$sv" 'BEGIN {print x / y}')"
        echo "   starts (ms): bare with the manifest ${start[$b/bare_window_v6]}"
    fi
    if [[ -n ${start[$b/bare_window_controls]:-} ]]; then
        sc=$(tr ' ' '\n' <<<"${start[$b/bare_window_controls]}" | grep . | median)
        printf '   bare with busdesk.exe'"'"'s first-view controls: median %.1f ms, %.2f x bare; busdesk %.2f x it\n' \
            "$sc" "$(awk -v x="$sc" -v y="$sb" 'BEGIN {print x / y}')" \
            "$(awk -v x="$sd" -v y="$sc" 'BEGIN {print x / y}')"
        echo "   starts (ms): bare with the controls ${start[$b/bare_window_controls]}"
    fi
done
