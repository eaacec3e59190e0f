#!/usr/bin/env bash
# Installs exactly the Debian packages that building and testing ZEL need. Idempotent: installs
# only what is missing, and runs `apt-get update` only when something is.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    clang-14 libclang-rt-14-dev
    libicu-dev libxml2-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    nlohmann-json3-dev zlib1g-dev
    libsqlite3-dev libxapian-dev
    qt6-base-dev qt6-qpa-plugins libgl-dev xvfb xauth
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    echo "install-deps: installing ${missing[*]}"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "install-deps: all packages present"
fi
