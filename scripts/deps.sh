#!/usr/bin/env bash
# Installs the Debian 12 packages BusDesk needs, only those that are missing.
#   scripts/deps.sh        build, run, test and package (compiler, CMake, GoogleTest, Qt 6,
#                          ser2net and pyserial for the network line tests,
#                          the icon renderer and dpkg-shlibdeps, fontTools for the
#                          report's fonts, and for the report's print tests an HTML
#                          checker, a headless browser and the PDF utilities)
#   scripts/deps.sh --ci   also the fuzzers (clang 14), the Windows cross compiler, Wine, the
#                          package checkers, and for the Win32 window tests Wine's fonts, Xvfb
#                          and the locale sources
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev fonts-dejavu-core
          librsvg2-bin dpkg-dev libudev-dev nlohmann-json3-dev libcli11-dev
          ser2net python3-serial python3-fonttools tidy chromium poppler-utils)
if [[ "${1:-}" == "--ci" ]]; then
    packages+=(clang-14 libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64
               lintian desktop-file-utils appstream file
               fonts-wine xvfb locales)
fi

missing=()
for p in "${packages[@]}"; do
    # Compared whole, not piped into grep -q, which under pipefail can fail a
    # writer it stopped reading.
    [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
