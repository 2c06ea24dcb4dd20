#!/usr/bin/env bash
# Builds both packages into build/dist: busdesk_<version>_amd64.deb from the
# default build and busdesk-<version>-win64.zip from the Windows cross build
# (mingw-w64). Installs what is missing first. A package that was asked for
# and not made is an error; --no-zip makes the .deb alone.
set -euo pipefail
cd "$(dirname "$0")/.."
want_zip=1
for arg in "$@"; do
    case "$arg" in
        --no-zip) want_zip=0 ;;
        *) echo "usage: $0 [--no-zip]" >&2; exit 2 ;;
    esac
done
fail() { echo "!! $*" >&2; exit 1; }
./scripts/deps.sh
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "== installing g++-mingw-w64-x86-64-posix"
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        g++-mingw-w64-x86-64-posix
fi

# The dates in the changelog and the metainfo are those of the last commit, so
# that the same tree makes the same packages.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH

dist=$PWD/build/dist
rm -rf "$dist"
mkdir -p "$dist"

echo "== Debian package"
cmake --preset default
cmake --build --preset default -j "$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/default/CMakeCache.txt)
cpack --config build/default/CPackConfig.cmake -B "$dist/deb"
deb=busdesk_${version}_amd64.deb
[[ -f "$dist/deb/$deb" ]] || fail "cpack made no $deb"
mv "$dist/deb/$deb" "$dist/"

if ((want_zip)); then
    echo "== Windows zip"
    cmake --preset mingw
    grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' build/mingw/CMakeCache.txt ||
        fail "the Windows build is no release build (build/mingw/CMakeCache.txt)"
    # What goes into the zip is built by name: a missing target is an error
    # of the build, not a reason to skip the zip.
    cmake --build build/mingw -j "$(nproc)" --target busdesk busdesk-cli
    cpack --config build/mingw/CPackConfig.cmake -B "$dist/zip"
    zip=busdesk-${version}-win64.zip
    [[ -f "$dist/zip/$zip" ]] || fail "NO WINDOWS ZIP: cpack made no $zip"
    mv "$dist/zip/$zip" "$dist/"
fi

rm -rf "$dist/deb" "$dist/zip"
echo "== made:"
ls -l "$dist"
