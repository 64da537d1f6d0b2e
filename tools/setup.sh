#!/bin/bash
# Installs what building, running and testing need on Debian 12, if missing.
# Idempotent: does nothing when everything is there. Both toolchains and 64-bit
# Wine always; 32-bit Wine only where this host executes 32-bit x86 code.
set -euo pipefail
source "$(dirname "$0")/host.sh"

PACKAGES=(cmake make python3 zip unzip wixl msitools git
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev
    googletest wine wine64 xvfb xauth x11-utils fonts-wine imagemagick)

if vorlane_host_runs_32bit; then
    PACKAGES+=(wine32:i386)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
else
    echo "setup: this host cannot execute 32-bit x86 code; the 32-bit program is built and checked here but runs only on a host that can."
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
