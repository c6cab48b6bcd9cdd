#!/usr/bin/env bash
# Times what the campaign layer costs per flight: 200 small flights run by
# scanfit-batch --jobs 2 against the plain loop a user would type, which runs
# one flight at a time, and a campaign of 20 of them; given another
# scanfit-batch (say the bash one of an earlier commit), that one beside it.
# See bench/README.md.
#
# Usage: bench/campaign.sh [BUILD_DIR [OTHER_BATCH]]
#   BUILD_DIR    folder holding scanfit and genflight (default: build/ of the
#                repository; built with tools/build.sh when missing)
#   OTHER_BATCH  another scanfit-batch, timed on the same campaigns
# Environment:
#   RUNS=N       timed rounds, medians reported (default 5)
#   POINTS=N     points per flight (default 2000)
set -euo pipefail
export LC_ALL=C

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
other="${2:-}"
runs="${RUNS:-5}"
points="${POINTS:-2000}"
batch="$root/tools/scanfit-batch"

die() { echo "bench: $*" >&2; exit 1; }
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, not '$runs'"
[[ -n "${EPOCHREALTIME:-}" ]] || die "needs bash 5 or later"
if [[ ! -x "$build/scanfit" || ! -x "$build/genflight" ]]; then
  "$root/tools/build.sh" "$build" >&2
fi
build="$(cd "$build" && pwd)"
scanfit="$build/scanfit"
[[ -z "$other" || -x "$other" ]] || die "$other is not a program"
export SCANFIT="$scanfit"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/flights"
echo "bench: generating 200 flights of $points points" >&2
first20=()
for k in $(seq -w 1 200); do
  "$build/genflight" --points "$points" --seed "$k" --format six \
    --output "$tmp/flights/flight$k.txt"
  [[ ${#first20[@]} -eq 20 ]] || first20+=("$tmp/flights/flight$k.txt")
done
sync

# checksum DIR: one sum over every output of every flight (NAME/file), so
# that the plain loop and a campaign compare.
checksum() {
  (cd "$1" && find . -mindepth 2 -name 'flight*' -type f | sort | xargs sha256sum |
     sha256sum | cut -d' ' -f1)
}

# Each case: a name and the command, run in an empty folder "out".
loop() {
  (cd "$tmp/flights" &&
     for f in *.txt; do "$scanfit" --output-dir="$tmp/out/${f%.txt}" -- "$f"; done 2>/dev/null)
}
batch200() { "$batch" --jobs 2 --output-dir "$tmp/out" "$tmp"/flights/*.txt; }
batch20() { "$batch" --jobs 2 --output-dir "$tmp/out" "${first20[@]}"; }
other200() { "$other" --jobs 2 --output-dir "$tmp/out" "$tmp"/flights/*.txt; }
other20() { "$other" --jobs 2 --output-dir "$tmp/out" "${first20[@]}"; }
cases=(loop batch200 batch20)
[[ -z "$other" ]] || cases+=(other200 other20)

# cpu_seconds: user and system seconds of this shell's children so far, from
# bash's `times` (its second line), which must run in this shell itself.
cpu_seconds() {
  times >"$tmp/times"
  tail -n 1 "$tmp/times" | awk '{ for (i = 1; i <= 2; i++) { split($i, t, "m");
                                  s += t[1] * 60 + t[2] } } END { printf "%.3f", s }'
}

declare -A times cpus sums
for round in $(seq 1 "$runs"); do
  echo "bench: round $round of $runs" >&2
  for c in "${cases[@]}"; do
    rm -rf "$tmp/out"
    mkdir "$tmp/out"
    sync
    cpu_seconds >"$tmp/c0"
    t0="$EPOCHREALTIME"
    "$c" || die "$c failed"
    t1="$EPOCHREALTIME"
    cpu_seconds >"$tmp/c1"
    c0="$(<"$tmp/c0")" c1="$(<"$tmp/c1")"
    times[$c]+="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') "
    cpus[$c]+="$(awk -v a="$c0" -v b="$c1" 'BEGIN { printf "%.3f", b - a }') "
    sum="$(checksum "$tmp/out")"
    [[ -z "${sums[$c]:-}" || "${sums[$c]}" == "$sum" ]] || die "$c: outputs changed"
    sums[$c]="$sum"
  done
done
[[ "${sums[loop]}" == "${sums[batch200]}" ]] || die "the campaign's outputs differ from the loop's"

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "load: $(uptime)"
printf '%-10s %8s %8s   %s\n' case wall_s cpu_s "wall seconds of each round"
for c in "${cases[@]}"; do
  printf '%-10s %8s %8s   %s\n' "$c" "$(median "${times[$c]}")" "$(median "${cpus[$c]}")" \
    "${times[$c]}"
done
