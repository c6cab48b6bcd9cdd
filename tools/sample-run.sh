#!/usr/bin/env bash
# From a fresh Debian 12 machine: installs what is missing, builds, and runs
# scanfit on the sample flight that ships with the project. The five output
# files land in sample-run/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
"$root/tools/build.sh" "$root/build"
mkdir -p "$root/sample-run"
cd "$root/sample-run"
"$root/build/scanfit" "$root/data/sample_flight.txt"
ls -l "$root/sample-run"
