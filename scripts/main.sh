#!/usr/bin/env bash
# The main job: installs dependencies, builds ZEL in release mode, then runs `zel demo`, which
# indexes this machine's Debian changelogs and shows searches, completions and the saved
# searches of examples/changelogs/searches with their timings. Arguments go to `zel demo`:
#   scripts/main.sh --records RECORDS.jsonl --schema SCHEMA.json [--searches FOLDER] [--db DIR]
# indexes your own records instead (see docs/TOOL.md).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"
demo=(build/release/tools/zel demo)
# The bundled saved searches belong to the changelog database, not to the caller's records.
if [[ " $* " != *" --records "* ]]; then
    demo+=(--searches examples/changelogs/searches)
fi
exec "${demo[@]}" "$@"
