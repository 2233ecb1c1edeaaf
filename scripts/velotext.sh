#!/usr/bin/env bash
# Sets up a Debian 12 machine for Velotext, builds it, and either starts the
# program ("run") or runs every test ("test"). Usage: scripts/velotext.sh run|test [program args]
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-}"
shift || true

build_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev libcurl4-openssl-dev libssl-dev libpcre2-dev libgtest-dev
            ca-certificates fonts-dejavu-core qt6-translations-l10n qtkeychain-qt6-dev)
test_pkgs=(kannel kannel-extras python3 python3-aiosmtpd swaks tinyproxy-bin squid curl apache2-utils
           xvfb xauth xdotool trayer openbox imagemagick openssl desktop-file-utils appstream dpkg-dev dbus-daemon
           gnome-keyring dunst libkf5wallet-bin libqca-qt5-2-plugins lintian x11-utils)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        # Debian's kannel package starts its own boxes under systemd; keep services down.
        printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
        rm -f /usr/sbin/policy-rc.d
    else
        echo "Missing packages. Run as root:"
        echo "  apt-get install -y --no-install-recommends ${missing[*]}"
        exit 1
    fi
}

build() {
    local dir="$1"; shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

# The program as a user or packager builds it (Release, tests and benchmarks
# off, warnings not fatal): proves that configuration compiles and links.
build_release() {
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELOTEXT_BUILD_TESTS=OFF \
        -DVELOTEXT_BUILD_BENCH=OFF -DVELOTEXT_WERROR=OFF >/dev/null
    cmake --build build-release -j "$(nproc)" --target velotext
}

case "$mode" in
run)
    install_missing "${build_pkgs[@]}"
    build build -DVELOTEXT_BUILD_TESTS=OFF -DVELOTEXT_BUILD_BENCH=OFF
    exec ./build/velotext "$@"
    ;;
test)
    install_missing "${build_pkgs[@]}" "${test_pkgs[@]}"
    build build -DVELOTEXT_WERROR=ON
    build_release
    cd build
    ctest --output-on-failure --timeout 1200
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
