#!/usr/bin/env bash
# Checks what scripts/package.sh made in build/dist, on this machine, as root
# (it installs and removes the .deb): lintian has no error, `apt-get install`
# works, the installed programs run, the menu entry and the metainfo validate,
# the menu entry's command starts the window, and remove and purge leave no
# file behind. Then the Windows zip: what it holds, that its programs import
# only system DLLs, and that they run under Wine from the unpacked folder
# (busdesk-cli.exe surveys the built-in simulated bus). --no-zip skips the zip,
# for a .deb made with `package.sh --no-zip`.
set -euo pipefail
cd "$(dirname "$0")/.."
check_zip=1
for arg in "$@"; do
    case "$arg" in
        --no-zip) check_zip=0 ;;
        *) echo "usage: $0 [--no-zip]" >&2; exit 2 ;;
    esac
done

dist=$PWD/build/dist
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/default/CMakeCache.txt)
deb=$dist/busdesk_${version}_amd64.deb
app_id=org.busdesk.busdesk
fail() { echo "!! $*" >&2; exit 1; }
[[ -f "$deb" ]] || fail "no $deb: run scripts/package.sh first"
[[ $(id -u) -eq 0 ]] || fail "run as root: the check installs and removes the package"
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@"; }

echo "== lintian"
lintian --fail-on error --display-info "$deb"

# What is on the machine outside the package manager's own state and caches.
snapshot() {
    find /usr /etc /opt /var/lib -xdev \
        \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/lib/ucf \) -prune -o -print |
        sort
}

if dpkg-query -W busdesk >/dev/null 2>&1; then
    echo "== purging a busdesk installed before"
    apt_get purge busdesk
fi
snapshot >"$dist/files-before"
# What the install will pull in besides, to take it away again at the end.
(cd "$dist" && apt-get install -s "./$(basename "$deb")") |
    sed -n 's/^Inst \([^ ]*\) .*/\1/p' | grep -vx busdesk >"$dist/pulled-in" || true

echo "== apt-get install $deb"
(cd "$dist" && apt_get install "./$(basename "$deb")")

echo "== the installed programs"
out=$(/usr/bin/busdesk --version)
[[ "$out" == "busdesk $version" ]] || fail "busdesk --version printed '$out'"
/usr/bin/busdesk-sim --help >/dev/null
out=$(/usr/bin/busdesk-sim --version)
[[ "$out" == "busdesk-sim $version" ]] || fail "busdesk-sim --version printed '$out'"
/usr/bin/busdesk-cli --help >/dev/null
out=$(/usr/bin/busdesk-cli --version)
[[ "$out" == "busdesk-cli $version" ]] || fail "busdesk-cli --version printed '$out'"
for p in busdesk busdesk-sim busdesk-cli; do
    [[ -f /usr/share/man/man1/$p.1.gz ]] || fail "no man page for $p"
    [[ -f /usr/share/bash-completion/completions/$p ]] || fail "no bash completion for $p"
    [[ -f /usr/share/zsh/vendor-completions/_$p ]] || fail "no zsh completion for $p"
done
# The completion as an interactive bash loads it: on demand, by the command's name.
out=$(bash -c 'source /usr/share/bash-completion/bash_completion
    _completion_loader busdesk-cli
    COMP_WORDS=(busdesk-cli se); COMP_CWORD=1; COMP_LINE="busdesk-cli se"; COMP_POINT=${#COMP_LINE}
    _busdesk_cli busdesk-cli se busdesk-cli; echo "${COMPREPLY[*]}"')
[[ "$out" == *set-address* ]] || fail "the installed bash completion of busdesk-cli offers '$out'"

echo "== menu entry and metainfo"
desktop=/usr/share/applications/$app_id.desktop
desktop-file-validate "$desktop"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
    png=/usr/share/icons/hicolor/$size/apps/$icon.png
    [[ -f "$png" ]] || fail "no icon $png"
    # No pipe into grep -q: under pipefail a writer cut short by grep fails the test.
    what=$(file -b "$png")
    [[ "$what" == *"${size/x/ x },"* ]] || fail "$png is not $size: $what"
done
[[ -f /usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no scalable icon"

# The menu's command, as the menu would run it, on the simulated bus; it must
# still be running after a few seconds.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
set +e
QT_QPA_PLATFORM=offscreen timeout 5 $exec_line --demo
rc=$?
set -e
[[ $rc -eq 124 ]] || fail "'$exec_line --demo' from the menu entry ended with $rc"

# Caches that other packages' triggers rebuild whenever a menu entry or an
# icon comes or goes; they belong to those packages, not to busdesk.
regenerated='^(/usr/share/applications/mimeinfo\.cache|/usr/share/icons/hicolor/icon-theme\.cache)$'
same_files_as_before() {
    snapshot >"$dist/files-after-$1"
    if ! diff <(grep -Ev "$regenerated" "$dist/files-before") \
              <(grep -Ev "$regenerated" "$dist/files-after-$1") >"$dist/files-diff-$1"; then
        cat "$dist/files-diff-$1" >&2
        fail "the files on the machine differ after apt-get $1"
    fi
}
gone() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Status}' busdesk 2>/dev/null || true)
    [[ -z "$status" || "$status" == not-installed ]] || fail "busdesk is '$status' after apt-get $1"
}
# Whatever the install pulled in goes too, so that the file lists compare.
purge_pulled_in() {
    [[ -s "$dist/pulled-in" ]] || return 0
    echo "-- purging what the install pulled in: $(tr '\n' ' ' <"$dist/pulled-in")"
    xargs -r apt-get -o DPkg::Lock::Timeout=300 -y -qq purge <"$dist/pulled-in"
}

echo "== apt-get remove"
apt_get remove busdesk
gone remove
purge_pulled_in
same_files_as_before remove

echo "== apt-get purge, from the installed state"
(cd "$dist" && apt_get install "./$(basename "$deb")")
apt_get purge busdesk
gone purge
purge_pulled_in
same_files_as_before purge
echo "-- remove and purge left nothing behind"

echo "== Windows zip"
((check_zip)) || { echo "-- skipped (--no-zip)"; exit 0; }
zip=$dist/busdesk-${version}-win64.zip
[[ -f "$zip" ]] || fail "NO WINDOWS ZIP: no $zip (scripts/package.sh makes it)"
unpacked=$dist/zip-check
rm -rf "$unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
folder=$unpacked/busdesk-${version}-win64
held=$(cd "$unpacked" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
expected="busdesk-${version}-win64/LICENSE.txt busdesk-${version}-win64/README.txt \
busdesk-${version}-win64/busdesk-cli.exe busdesk-${version}-win64/busdesk.exe "
[[ "$held" == "$expected" ]] || fail "the zip holds: $held; expected: $expected"
# Read with Notepad: CR LF line ends, and the read-me tells how to run a plan.
for txt in README.txt LICENSE.txt; do
    lines=$(wc -l <"$folder/$txt")
    crlf=$(grep -c $'\r$' "$folder/$txt" || true)
    [[ "$lines" -gt 0 && "$crlf" == "$lines" ]] || fail "$txt: $crlf of $lines lines end in CR LF"
done
readme=$(tr -d '\r' <"$folder/README.txt")
[[ "$readme" == *"busdesk-cli.exe"*" run "* ]] || fail "README.txt does not say how to run a plan"
grep -q 'MIT' "$folder/LICENSE.txt" || fail "LICENSE.txt is not the MIT licence"

# Runs from a USB stick: nothing but system DLLs imported.
. scripts/system-dlls.sh
for exe in busdesk.exe busdesk-cli.exe; do
    for dll in $(foreign_dlls "$folder/$exe"); do
        fail "$exe imports $dll, which is not a system DLL"
    done
done

# What ships is a release build: stripped (no symbol table, no debug
# sections), and the window optimised: win32/main.cpp leaves a mark in it
# only when the compiler optimised.
for exe in busdesk.exe busdesk-cli.exe; do
    debug=$(x86_64-w64-mingw32-objdump -h "$folder/$exe" | awk '$2 ~ /^\.debug/ {print $2}' | tr '\n' ' ')
    [[ -z "$debug" ]] || fail "$exe is not stripped: it carries $debug"
    symbols=$(x86_64-w64-mingw32-objdump -t "$folder/$exe" | grep -c '^\[' || true)
    [[ "$symbols" -eq 0 ]] || fail "$exe is not stripped: $symbols symbols"
done
grep -qa 'busdesk: optimised build' "$folder/busdesk.exe" || fail "busdesk.exe was built without optimisation"
echo "-- busdesk.exe and busdesk-cli.exe: stripped; busdesk.exe optimised"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$dist/wineprefix
trap 'wineserver -k 2>/dev/null || true' EXIT
timeout 600 wineboot -i
cd "$folder"
for exe in busdesk busdesk-cli; do
    out=$(timeout 120 wine "$exe.exe" --version | tr -d '\r')
    [[ "$out" == "$exe $version" ]] || fail "$exe.exe --version under Wine printed '$out'"
    echo "-- $exe.exe --version under Wine: $out"
done
# A survey of the built-in simulated bus, as the read-me tells: the readers
# at 1, 5 and 7, and the Russian result line arrives as UTF-8.
rc=0
out=$(timeout 120 wine busdesk-cli.exe --demo survey 2>&1) || rc=$?
out=${out//$'\r'/}
echo "$out" | sed 's/^/   /'
[[ $rc -eq 0 ]] || fail "busdesk-cli.exe --demo survey under Wine ended with $rc"
[[ "$out" == *1*5*7* ]] || fail "busdesk-cli.exe --demo survey did not find 1, 5 and 7"
iconv -f UTF-8 -t UTF-8 <<<"$out" >/dev/null || fail "busdesk-cli.exe printed bytes that are not UTF-8"
[[ "$out" == *"готово"* ]] || fail "busdesk-cli.exe printed no Russian result line"
echo "-- busdesk-cli.exe --demo survey under Wine: exit 0"
# The same in a console, which Wine gives a program started from a terminal:
# the Russian must read as Russian there too, not in the console's code page.
shown=$(timeout 120 script -qec "wine busdesk-cli.exe --demo survey" /dev/null </dev/null 2>&1 |
    sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d '\r')
[[ "$shown" == *"готово: найдены адреса: 1 5 7"* ]] ||
    fail "busdesk-cli.exe in a console shows: $shown (main must hold a busdesk::cli::Utf8Console)"
echo "-- busdesk-cli.exe in a console: Russian reads as Russian"
