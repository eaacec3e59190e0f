#!/usr/bin/env bash
# The main job: installs dependencies, builds ZEL in release mode and runs the example host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"
build/release/examples/zel_example_basics
