#!/usr/bin/env bash
# Makes a Debian 12 machine ready to build the launcher and run its tests under Wine, and to build
# launcher-stamp natively, with its sanitizer and fuzzing configuration (g++, clang, libFuzzer). Idempotent:
# when every package is there it only checks and returns.
set -euo pipefail

packages=(
    cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 googletest
    xvfb xdotool x11-apps imagemagick clang-format nsis osslsigncode openssl g++ clang libfuzzer-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them as root on Debian 12: apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
