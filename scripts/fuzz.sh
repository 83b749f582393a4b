#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for the given seconds (default 600), one after the other.
# Not part of CI: the same targets replay their committed corpus in the normal build
# (ctest -L system -R fuzz_).
#
#   scripts/fuzz.sh [seconds] [target...]     targets: wire packet (default both)
#
# New inputs go to build-fuzz/corpus/<target> (seeded from tests/fuzz/corpus/<target>);
# a crash, hang or memory blow-up leaves its reproducer in build-fuzz/findings/<target>/
# and the log in build-fuzz/fuzz-<target>.log. Replay one with
#   build-fuzz/tests/fuzz/fuzz_<target> FILE
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(wire packet)

# clang and its fuzzer run time are only needed here, so they are not in deps.sh.
need=()
for p in clang-14 libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
bash scripts/deps.sh

san="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  "-DCMAKE_C_FLAGS=$san" "-DCMAKE_CXX_FLAGS=$san" \
  -DEFET_FUZZ=ON -DEFET_BUILD_DESKTOP=OFF -DEFET_BUILD_BENCH=OFF >/dev/null
jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
cmake --build build-fuzz -j"$jobs" --target "${targets[@]/#/fuzz_}"

# Bounds: a body or packet of 64 KiB is far beyond what a screen sends in one
# call; 10 s for one input is a hang (one takes milliseconds, but the machine may be
# busy); 2 GiB of memory, or 1 GiB in one allocation, is an unbounded allocation.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  findings=build-fuzz/findings/$t
  mkdir -p "$corpus" "$findings"
  log=build-fuzz/fuzz-$t.log
  echo "== fuzz_$t for ${seconds}s (log: $log)"
  set +e
  nice -n 10 build-fuzz/tests/fuzz/fuzz_$t "$corpus" tests/fuzz/corpus/$t \
    -dict=tests/fuzz/$t.dict -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=1024 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$findings/" >"$log" 2>&1
  rc=$?
  set -e
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)' "$log" | tail -2 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
  echo "corpus: $(find "$corpus" -type f | wc -l) files"
  found=$(find "$findings" -type f | wc -l)
  echo "findings: $found"
  find "$findings" -type f -printf '  %p\n'
  if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    grep -E 'ERROR: |fuzz finding|SUMMARY' "$log" | head -5 || true
  fi
done
exit $status
