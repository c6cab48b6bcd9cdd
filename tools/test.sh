#!/usr/bin/env bash
# From a fresh Debian 12 machine: installs what is missing, builds, and runs
# the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
"$root/tools/build.sh" "$root/build"
ctest --test-dir "$root/build" -j "$(nproc)" --output-on-failure
