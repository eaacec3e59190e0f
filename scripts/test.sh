#!/usr/bin/env bash
# The whole test run: installs dependencies, then builds and tests three configurations, each
# built once:
#   release   g++, -O2, warnings as errors: every test program and the package consumer check;
#             the widget tests also under Xvfb with the xcb platform
#   asan      clang, AddressSanitizer + UndefinedBehaviorSanitizer: every test, then each fuzz
#             target over its saved corpus and for a few seconds of new inputs
#   tsan      clang, ThreadSanitizer: only the concurrency tests
# Ends with one summary line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
fuzz_seconds=${ZEL_FUZZ_SECONDS:-10}
jobs=${ZEL_JOBS:-$(nproc)}

scripts/install-deps.sh || exit 1

passed=0
failed=0

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
    local dir=$1; shift
    local log
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        echo "test.sh: no ctest summary in $dir"
        failed=$((failed + 1))
    else
        local total fails
        fails=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
        total=$(echo "$summary" | sed -E 's/.* tests failed out of ([0-9]+).*/\1/')
        passed=$((passed + total - fails))
        failed=$((failed + fails))
    fi
    rm -f "$log"
}

configure_and_build() {
    local dir=$1; shift
    if ! cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || ! cmake --build "$dir" -j "$jobs"; then
        echo "test.sh: build failed in $dir"
        failed=$((failed + 1))
        return 1
    fi
}

phase() { echo "=== $1 ($(($(date +%s) - start)) s)"; }

phase "release build"
if configure_and_build build/release -DCMAKE_BUILD_TYPE=Release -DZEL_WERROR=ON; then
    run_ctest build/release
fi

# The widget tests once more on a real X server (Xvfb with the xcb platform), where focus and
# pop-up placement follow the window system; the run above used the offscreen platform.
if [ -x build/release/tests/zel_ui_tests ]; then
    phase "widget tests under Xvfb (xcb)"
    if (cd build/release/tests && QT_QPA_PLATFORM=xcb xvfb-run -a ./zel_ui_tests --gtest_brief=1); then
        passed=$((passed + 1))
    else
        echo "test.sh: widget tests failed under Xvfb"
        failed=$((failed + 1))
    fi
fi

phase "ASan+UBSan build"
if configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DZEL_SANITIZE=address,undefined -DZEL_BUILD_FUZZERS=ON \
        -DZEL_BUILD_BENCHMARKS=OFF; then
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build/asan
    for fuzzer in build/asan/fuzz/zel_fuzz_*; do
        [ -x "$fuzzer" ] || continue
        name=${fuzzer##*/zel_fuzz_}
        corpus=$root/fuzz/corpus/$name
        scratch=$(mktemp -d)
        phase "fuzz $name"
        if "$fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 \
                "$scratch" "$corpus" >"$scratch.log" 2>&1; then
            passed=$((passed + 1))
        else
            tail -n 40 "$scratch.log"
            echo "test.sh: fuzz target $name failed"
            failed=$((failed + 1))
        fi
        rm -rf "$scratch" "$scratch.log"
    done
fi

phase "ThreadSanitizer build (concurrency tests)"
if configure_and_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DZEL_SANITIZE=thread -DZEL_CONCURRENCY_TESTS_ONLY=ON; then
    if [ -n "$(ctest --test-dir build/tsan -N | grep -E 'Test +#')" ]; then
        TSAN_OPTIONS=halt_on_error=1 run_ctest build/tsan
    fi
fi

phase "done in $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
