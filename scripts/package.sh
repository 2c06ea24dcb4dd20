#!/usr/bin/env bash
# Builds both packages into build/dist: busdesk_<version>_amd64.deb from the
# default build and busdesk-<version>-win64.zip from the Windows cross build
# (mingw-w64). Installs what is missing first. The zip needs the Win32 window
# (busdesk.exe); while this tree has none, the script says so and makes only
# the .deb, unless BUSDESK_REQUIRE_ZIP=1 makes that an error.
set -euo pipefail
cd "$(dirname "$0")/.."
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
mv "$dist/deb/busdesk_${version}_amd64.deb" "$dist/"

echo "== Windows zip"
cmake --preset mingw
if cmake --build build/mingw --target help | grep -q '^busdesk: '; then
    cmake --build build/mingw -j "$(nproc)" --target busdesk
    cpack --config build/mingw/CPackConfig.cmake -B "$dist/zip"
    mv "$dist/zip/busdesk-${version}-win64.zip" "$dist/"
else
    echo "!! NO WINDOWS ZIP: the mingw build of this tree has no busdesk target (busdesk.exe," >&2
    echo "!! the Win32 window) yet, so there is nothing to put in busdesk-${version}-win64.zip." >&2
    [[ "${BUSDESK_REQUIRE_ZIP:-0}" == 1 ]] && exit 1
fi

rm -rf "$dist/deb" "$dist/zip"
echo "== made:"
ls -l "$dist"
