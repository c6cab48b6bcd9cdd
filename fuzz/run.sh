#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while on a
# scratch copy of its committed corpus (the committed seeds are only read).
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [BUILD_DIR] [LIBFUZZER_FLAG...]
#
# SECONDS_PER_TARGET defaults to 20, BUILD_DIR to build-fuzz/ in the
# repository; further arguments go to every target (for instance
# -use_value_profile=1). FUZZ_TARGETS="a b" limits the run to those
# targets. Fails on the first crash, sanitizer report, hang or memory
# blow-up, naming the input that caused it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
build="${2:-$root/build-fuzz}"
shift $(( $# < 2 ? $# : 2 ))
extra=("$@")

# Target, corpus folder, longest input worth trying.
all_targets=(
  "ascii_reader_fuzzer ascii 4096"
  "binary_reader_fuzzer binary 2048"
  "whole_run_fuzzer whole_run 4096"
  "decompress_reader_fuzzer compressed 4096"
)
wanted="${FUZZ_TARGETS:-ascii_reader_fuzzer binary_reader_fuzzer whole_run_fuzzer decompress_reader_fuzzer}"

"$root/tools/install-deps.sh"
cxx="$(command -v clang++-14 || command -v clang++)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$cxx" -DSCANFIT_FUZZ=ON -DSCANFIT_TESTS=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j "$(nproc)" --target $wanted

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for entry in "${all_targets[@]}"; do
  read -r target corpus max_len <<<"$entry"
  [[ " $wanted " == *" $target "* ]] || continue
  work="$build/runs/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp "$root/fuzz/corpus/$corpus/"* "$work/corpus/"
  echo "== $target: ${seconds}s, inputs up to $max_len bytes"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -dict="$root/fuzz/text.dict" -artifact_prefix="$work/" \
      "${extra[@]}" "$work/corpus" >"$work/log" 2>&1; then
    tail -n 60 "$work/log"
    echo "FAILED: $target (log: $work/log; input: $(ls "$work" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' || true))" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log" || true
  echo "   corpus: $(ls "$work/corpus" | wc -l) inputs"
done
