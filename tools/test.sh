#!/usr/bin/env bash
# From a fresh Debian 12 machine: installs what is missing, builds, and runs
# the whole test suite twice: on the release build (whose Debian package is
# then built, installed, run and removed), and on a build in which
# address and undefined-behaviour checks stop the program at the first fault,
# the input is read in blocks of 61 bytes, so that text lines, scan lines
# and records cross block edges everywhere, batches reach the stages after
# the fit's first steps out of order, and outputs are written to named
# temporary files, as on a file system without unnamed ones; then fuzzes
# every fuzz target briefly (clang build, about a minute).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"

"$root/tools/build.sh" "$root/build"
ctest --test-dir "$root/build" -j "$(nproc)" --output-on-failure
"$root/tools/package-test.sh" "$root/build"

"$root/tools/build.sh" "$root/build-sanitize" -DSCANFIT_SANITIZE=ON \
  -DSCANFIT_BLOCK_BYTES=61 -DSCANFIT_BATCHES_OUT_OF_ORDER=ON \
  -DSCANFIT_NAMED_TEMPORARIES=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-sanitize" -j "$(nproc)" --output-on-failure

"$root/fuzz/run.sh" 20
