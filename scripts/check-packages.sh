#!/usr/bin/env bash
# Checks what scripts/package.sh made in build/dist, on this machine, as root
# (it installs and removes the .deb): lintian has no error, `apt-get install`
# works, the installed programs run, the menu entry and the metainfo validate,
# the menu entry's command starts the window, and remove and purge leave no
# file behind. Then the Windows zip's exe prints the version under Wine, when
# there is a zip (BUSDESK_REQUIRE_ZIP=1 makes a missing one an error).
set -euo pipefail
cd "$(dirname "$0")/.."

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
if [[ -e /usr/bin/busdesk-cli ]]; then /usr/bin/busdesk-cli --help >/dev/null; fi
for p in busdesk busdesk-sim; do
    [[ -f /usr/share/man/man1/$p.1.gz ]] || fail "no man page for $p"
done

echo "== menu entry and metainfo"
desktop=/usr/share/applications/$app_id.desktop
desktop-file-validate "$desktop"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
    png=/usr/share/icons/hicolor/$size/apps/$icon.png
    [[ -f "$png" ]] || fail "no icon $png"
    file "$png" | grep -q "${size/x/ x }," || fail "$png is not $size: $(file -b "$png")"
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
zip=$dist/busdesk-${version}-win64.zip
if [[ ! -f "$zip" ]]; then
    echo "!! NO WINDOWS ZIP to check ($zip): busdesk.exe is not built by this tree yet" >&2
    [[ "${BUSDESK_REQUIRE_ZIP:-0}" == 1 ]] && exit 1
    exit 0
fi
unpacked=$dist/zip-check
rm -rf "$unpacked"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
exe=$unpacked/busdesk-${version}-win64/busdesk.exe
[[ -f "$exe" ]] || fail "the zip holds no busdesk-${version}-win64/busdesk.exe"
[[ -f "$(dirname "$exe")/README.txt" ]] || fail "the zip holds no README.txt"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$dist/wineprefix
trap 'wineserver -k 2>/dev/null || true' EXIT
timeout 600 wineboot -i
out=$(timeout 120 wine "$exe" --version | tr -d '\r')
[[ "$out" == "busdesk $version" ]] || fail "busdesk.exe --version under Wine printed '$out'"
echo "-- busdesk.exe --version under Wine: $out"
