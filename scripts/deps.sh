#!/usr/bin/env bash
# The one list of what building, testing and running the demo need from
# Debian 12 and 13. Installs only what is missing, so a second run is quick.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-webengine-dev qt6-webengine-dev-tools qt6-webchannel-dev
    qt6-multimedia-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
    # The Debian packages: CPack runs dpkg-shlibdeps, which needs file.
    dpkg-dev file
    # The package test checks the packages against Debian policy.
    lintian
    # The ABI guard compares the library with its baseline (abidw, abidiff).
    abigail-tools
    # The reference: Doxygen, and qhelpgenerator for its Qt help file.
    doxygen qt6-documentation-tools
    # The access policy's tests make a self-signed certificate.
    openssl
    # The print tests read the text of the PDF files back (pdftotext).
    poppler-utils
    # The fuzz targets: clang with its libFuzzer and sanitizer runtimes
    # (libclang-rt-dev is Debian's default version: 14 on 12, 19 on 13), and
    # Qt's JavaScript engine that checks the push scripts.
    clang libclang-rt-dev qt6-declarative-dev
    # The tests on a real display: an X server with Mesa's OpenGL.
    xvfb xauth libgl1-mesa-dri libegl-mesa0 libglx-mesa0 libxcb-cursor0
    # The tests on Wayland: Weston (headless) and Qt's Wayland platform.
    weston qt6-wayland
)
# Node.js may come from elsewhere than Debian; only the commands matter.
command -v node >/dev/null 2>&1 || PACKAGES+=(nodejs)
command -v npm >/dev/null 2>&1 || PACKAGES+=(npm)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
