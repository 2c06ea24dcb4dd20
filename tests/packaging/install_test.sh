#!/usr/bin/env bash
# install_test.sh BUILD_DIR STAGE VERSION: installs BUILD_DIR with prefix /usr
# into STAGE and checks the installed tree. Every failure is listed; the exit
# status is the number of them (capped).
set -uo pipefail
build=$1 stage=$2 version=$3
failures=0
bad() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 ||
    { cat "$stage.log"; echo "FAIL: cmake --install"; exit 1; }
root=$stage/usr

# Each program that was built runs from where it was installed, prints the
# project's version, and has its man page, which renders without warnings.
programs=()
for p in busdesk busdesk-sim busdesk-cli; do
    [[ -x $root/bin/$p ]] && programs+=("$p")
done
[[ ${#programs[@]} -ge 2 ]] || bad "installed programs: ${programs[*]:-none}"
for p in "${programs[@]}"; do
    out=$("$root/bin/$p" --version 2>&1) || bad "$p --version failed: $out"
    [[ "$out" == "$p $version" ]] || bad "$p --version printed '$out', not '$p $version'"
    man=$root/share/man/man1/$p.1.gz
    if [[ ! -f $man ]]; then
        bad "no man page $man"
    elif command -v groff >/dev/null; then
        warnings=$(gzip -dc "$man" | groff -man -Tutf8 -ww -z 2>&1)
        [[ -z "$warnings" ]] || bad "$p.1: $warnings"
        th=$(gzip -dc "$man" | sed -n 's/^\.TH \([^ ]*\).*/\1/p' | sed 's/\\-/-/g')
        [[ "$th" == "${p^^}" ]] || bad "$p.1 is the page of '$th'"
    fi
    # Every option the program's --help names is on its man page.
    if [[ -f $man ]]; then
        page=$(gzip -dc "$man" | sed 's/\\-/-/g; s/\\f[BIRP]//g')
        help=$("$root/bin/$p" --help 2>&1)
        for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
            [[ $page == *"$option"* ]] || bad "$p --help names $option; its man page does not"
        done
    fi
done

# The menu entry names an installed program and an installed icon; the
# metainfo launches that entry. Each icon is as large as its folder says.
desktops=("$root"/share/applications/*.desktop)
if [[ ${#desktops[@]} -ne 1 || ! -f ${desktops[0]} ]]; then
    bad "expected one menu entry, found: ${desktops[*]}"
else
    desktop=${desktops[0]}
    id=$(basename "$desktop" .desktop)
    exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [[ -x $root/bin/$exec_program ]] || bad "Exec=$exec_program is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    for size in 16 22 24 32 48 64 128 256; do
        png=$root/share/icons/hicolor/${size}x${size}/apps/$icon.png
        if [[ ! -f $png ]]; then
            bad "no icon $png"
            continue
        fi
        # Width and height are the big-endian words at offsets 16 and 20.
        read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
            awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
        [[ "$w $h" == "$size $size" ]] || bad "$png is ${w}x$h"
    done
    [[ -f $root/share/icons/hicolor/scalable/apps/$icon.svg ]] || bad "no scalable icon $icon.svg"
    grep -q '^Name\[ru\]=' "$desktop" && grep -q '^Comment\[ru\]=' "$desktop" ||
        bad "the menu entry has no Russian name or comment"
    metainfo=$root/share/metainfo/$id.metainfo.xml
    if [[ ! -f $metainfo ]]; then
        bad "no metainfo $metainfo"
    else
        grep -q "<id>$id</id>" "$metainfo" || bad "metainfo id is not $id"
        grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
            bad "metainfo does not launch $id.desktop"
        grep -q "<release version=\"$version\"" "$metainfo" || bad "metainfo has no release $version"
        if command -v appstreamcli >/dev/null; then
            appstreamcli validate --no-net "$metainfo" >/dev/null || bad "appstreamcli: $metainfo"
        fi
    fi
    if command -v desktop-file-validate >/dev/null; then
        out=$(desktop-file-validate "$desktop" 2>&1) || bad "desktop-file-validate: $out"
    fi
fi

for f in copyright changelog.gz; do
    [[ -f $root/share/doc/busdesk/$f ]] || bad "no share/doc/busdesk/$f"
done
first=$(gzip -dc "$root/share/doc/busdesk/changelog.gz" 2>/dev/null | sed -n 1p)
[[ "$first" == "busdesk ($version)"* ]] || bad "the changelog does not start with version $version"

echo "$failures failed"
exit $((failures > 100 ? 100 : failures))
