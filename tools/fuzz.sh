#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for a bounded time, starting from its seed corpus in fuzz/corpus/<target>/.
# New inputs the fuzzer keeps go to build-fuzz/corpus/, findings to build-fuzz/findings/; the first finding
# fails the run. Usage: tools/fuzz.sh [seconds per target, default 30] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
pelno_ensure_packages "${PELNO_BUILD_PACKAGES[@]}" "${PELNO_FUZZ_PACKAGES[@]}"

seconds=${1:-30}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
    -DPELNO_FUZZ=ON -DPELNO_BUILD_TESTS=OFF >/dev/null
ninja -C build-fuzz -j2 pelno_fuzz

# Leaks are looked for as well; the message handler of Qt and ICU's caches live for the whole process.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export QT_QPA_PLATFORM=offscreen
# The settings writer syncs every write to disk; in memory that costs nothing and the fuzzer runs far more inputs.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
mkdir -p build-fuzz/findings
passed=0
failed=0
for target in "${targets[@]}"; do
    work=build-fuzz/corpus/$target
    mkdir -p "$work"
    echo "== $target: ${seconds}s"
    if ! build-fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/findings/"$target"- "$work" fuzz/corpus/"$target" \
        >build-fuzz/"$target".log 2>&1; then
        echo "!! $target found a fault; the input is in build-fuzz/findings/, the report in build-fuzz/$target.log:"
        grep -E "invariant broken|ERROR|SUMMARY" -A3 build-fuzz/"$target".log | head -20 || true
        failed=$((failed + 1))
    else
        passed=$((passed + 1))
        grep -E "^stat::number_of_executed_units|^Done" build-fuzz/"$target".log | tr '\n' ' '
        echo
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
