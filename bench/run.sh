#!/usr/bin/env bash
# Times scanfit end to end on generated flights and sets every case against
# the cost of only moving its bytes (the I/O floor). See bench/README.md.
#
# Usage: bench/run.sh [BUILD_DIR]
#   BUILD_DIR  folder holding scanfit and genflight (default: build/ of the
#              repository; built with tools/build.sh when they are missing)
# Environment:
#   RUNS=N     timed runs per case, the median is reported (default 5)
#   KEEP=1     keep the temporary folder (inputs, last outputs, timings)
#
# The table goes to standard output, progress to standard error.
set -euo pipefail
export LC_ALL=C  # '.' as decimal point everywhere, byte-order globbing

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${RUNS:-5}"
keep="${KEEP:-0}"
seed=7

die() { echo "bench: $*" >&2; exit 1; }
note() { echo "bench: $*" >&2; }

[[ "$runs" =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive integer, not '$runs'"
# Wall time is read from EPOCHREALTIME (microseconds); it came with bash 5.
[[ -n "${EPOCHREALTIME:-}" ]] || die "needs bash 5 or later"

# --- Tools -----------------------------------------------------------------

if [[ ! -x "$build/scanfit" || ! -x "$build/genflight" ]]; then
  note "building into $build"
  "$root/tools/build.sh" "$build" >&2
fi
build="$(cd "$build" && pwd)"
scanfit="$build/scanfit"
genflight="$build/genflight"
[[ -x "$scanfit" && -x "$genflight" ]] || die "no scanfit or genflight in $build"

if [[ ! -x /usr/bin/time ]]; then
  if [[ "$(id -u)" -eq 0 ]]; then
    note "installing the time package"
    apt-get install -y time >&2 ||
      { apt-get update >&2 && apt-get install -y time >&2; } ||
      die "could not install the time package"
  else
    die "/usr/bin/time is missing: apt-get install time (as root)"
  fi
fi

# --- Scratch folder --------------------------------------------------------

tmp="$(mktemp -d)"
cleanup() {
  if [[ "$keep" == 1 ]]; then
    note "kept $tmp"
  else
    rm -rf "$tmp"
  fi
}
trap cleanup EXIT
mkdir "$tmp/inputs" "$tmp/cases" "$tmp/log"

load_start="$(uptime)"

# --- Measuring -------------------------------------------------------------

# measure DIR LOG CMD...: runs CMD with DIR as working directory under
# /usr/bin/time -v. Sets m_wall (seconds, from EPOCHREALTIME around the
# process), m_user, m_sys (seconds) and m_rss (peak resident KiB). The
# command's standard output and error go to LOG.out and LOG.err.
measure() {
  local dir="$1" log="$2"
  shift 2
  local t0 t1 status=0
  cd "$dir"
  t0="$EPOCHREALTIME"
  /usr/bin/time -v -o "$log.time" "$@" >"$log.out" 2>"$log.err" || status=$?
  t1="$EPOCHREALTIME"
  cd "$tmp"
  if [[ "$status" -ne 0 ]]; then
    note "failed with status $status: $*"
    sed 's/^/  /' "$log.err" >&2
    exit 1
  fi
  m_wall="$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')"
  m_user="$(awk -F': ' '/User time \(seconds\)/ { print $2 }' "$log.time")"
  m_sys="$(awk -F': ' '/System time \(seconds\)/ { print $2 }' "$log.time")"
  m_rss="$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log.time")"
}

# median VALUE...: the middle value (the mean of the two middle ones for an
# even count).
median() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 }
         END { if (NR % 2) printf "%.6f\n", v[(NR + 1) / 2];
               else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# clear DIR: empties a case's working directory.
clear_dir() { find "$1" -mindepth 1 -delete; }

# checksum DIR: sha256 of the sha256sum listing of the files in DIR (names
# without folder, in byte order), so equal outputs give equal sums.
checksum() {
  (cd "$1" && sha256sum -- * | sha256sum | cut -d' ' -f1)
}

# --- Inputs ----------------------------------------------------------------

# Case table: name, points, genflight format, scanfit options.
cases=(
  "six_500k 500000 six"
  "six_1m 1000000 six"
  "six_2m 2000000 six"
  "six_4m 4000000 six"
  "seven_2m 2000000 seven"
  "binary_2m 2000000 binary -b"
)

input_of() {  # input_of NAME FORMAT: the input's name inside inputs/
  if [[ "$2" == binary ]]; then echo "$1.bin"; else echo "$1.txt"; fi
}

for c in "${cases[@]}"; do
  read -r name points format _ <<<"$c"
  input="$tmp/inputs/$(input_of "$name" "$format")"
  note "generating $name ($points points, $format)"
  "$genflight" --points "$points" --seed "$seed" --format "$format" --output "$input"
done

# --- Runs ------------------------------------------------------------------

declare -A r_points r_in r_out r_wall r_user r_sys r_rss r_floor r_sum

# The machine's speed drifts over minutes, and the goals compare cases with
# each other. So the timed runs go in rounds, every case once per round,
# rather than case after case: a slow minute then weighs on all of them.
# Before the first round the generated inputs are written out, so that
# their write-back does not fall on the first cases.
sync

declare -A r_dir r_input r_opts r_log a_wall a_user a_sys a_rss a_floor
for c in "${cases[@]}"; do
  read -r name points format opts <<<"$c"
  # scanfit is handed a relative path, so that the scratch folder's own
  # name can never look like an option or a wildcard to it.
  r_input[$name]="../../inputs/$(input_of "$name" "$format")"
  r_dir[$name]="$tmp/cases/$name"
  r_opts[$name]="$opts"
  r_log[$name]="$tmp/log/$name"
  mkdir "${r_dir[$name]}"

  # One untimed run first: it warms the caches and gives the reference
  # outputs every timed run must reproduce byte for byte.
  note "$name: warm-up run"
  # shellcheck disable=SC2086  # opts is empty or one option
  measure "${r_dir[$name]}" "${r_log[$name]}" "$scanfit" $opts "${r_input[$name]}"
  nfiles="$(find "${r_dir[$name]}" -mindepth 1 | wc -l)"
  [[ "$nfiles" -eq 5 ]] || die "$name: expected five outputs, found $nfiles"
  r_points[$name]="$points"
  r_in[$name]="$(stat -c %s "$tmp/inputs/$(input_of "$name" "$format")")"
  r_out[$name]="$(find "${r_dir[$name]}" -mindepth 1 -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')"
  r_sum[$name]="$(checksum "${r_dir[$name]}")"
done

for ((i = 1; i <= runs; i++)); do
  note "round $i of $runs"
  for c in "${cases[@]}"; do
    read -r name _ <<<"$c"
    dir="${r_dir[$name]}" input="${r_input[$name]}" log="${r_log[$name]}"
    clear_dir "$dir"
    # shellcheck disable=SC2086
    measure "$dir" "$log" "$scanfit" ${r_opts[$name]} "$input"
    a_wall[$name]+=" $m_wall" a_user[$name]+=" $m_user"
    a_sys[$name]+=" $m_sys" a_rss[$name]+=" $m_rss"
    [[ "$(checksum "$dir")" == "${r_sum[$name]}" ]] ||
      die "$name: run $i wrote other bytes than the warm-up run"

    # The I/O floor: read the input once, write as many bytes as the five
    # outputs hold into one file in the same directory.
    clear_dir "$dir"
    # shellcheck disable=SC2016  # expanded by the inner sh
    measure "$dir" "$log.floor" sh -c \
      'dd if="$1" of=/dev/null bs=1M status=none &&
       dd if=/dev/zero of=floor.out bs=1M count="$2" iflag=count_bytes status=none' \
      floor "$input" "${r_out[$name]}"
    a_floor[$name]+=" $m_wall"
    clear_dir "$dir"
  done
done

for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  if [[ "$keep" == 1 ]]; then  # leave the outputs of a real run behind
    # shellcheck disable=SC2086
    measure "${r_dir[$name]}" "${r_log[$name]}" "$scanfit" ${r_opts[$name]} "${r_input[$name]}"
  fi
  # shellcheck disable=SC2086  # the lists are split into their values
  {
    r_wall[$name]="$(median ${a_wall[$name]})"
    r_user[$name]="$(median ${a_user[$name]})"
    r_sys[$name]="$(median ${a_sys[$name]})"
    r_rss[$name]="$(median ${a_rss[$name]})"
    r_floor[$name]="$(median ${a_floor[$name]})"
  }
done

load_end="$(uptime)"

# --- Report ----------------------------------------------------------------

commit="$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
if [[ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]]; then
  commit="$commit (working tree differs)"
fi

echo "scanfit benchmark: $scanfit"
echo "commit $commit; timed runs per case: $runs (medians); cores: $(nproc)"
echo "load before:$load_start"
echo "load after: $load_end"
echo
{
  printf '%s\n' "case points input_bytes output_bytes wall_s user_s sys_s Mpt/s floor_s xfloor RSS_B/pt"
  for c in "${cases[@]}"; do
    read -r name _ <<<"$c"
    echo "$name ${r_points[$name]} ${r_in[$name]} ${r_out[$name]} ${r_wall[$name]}" \
         "${r_user[$name]} ${r_sys[$name]} ${r_floor[$name]} ${r_rss[$name]}"
  done
} | awk 'NR == 1 {
           printf "%-10s %9s %11s %12s %7s %7s %7s %7s %7s %7s %8s\n",
                  $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11
           next }
         { printf "%-10s %9d %11d %12d %7.3f %7.2f %7.2f %7.2f %7.3f %7.1f %8.1f\n",
                  $1, $2, $3, $4, $5, $6, $7, $2 / 1e6 / $5, $8, $5 / $8,
                  $9 * 1024 / $2 }'

echo
echo "goals"
# verdict EXPR: "pass" when the awk expression EXPR holds, else "FAIL".
verdict() { if awk "BEGIN { exit !($1) }"; then echo pass; else echo FAIL; fi; }
rate() { awk -v p="${r_points[$1]}" -v w="${r_wall[$1]}" 'BEGIN { printf "%.2f", p / 1e6 / w }'; }
for name in six_2m seven_2m; do
  r="$(rate "$name")"
  echo "  text run $name >= 4 M points/s: $r $(verdict "$r >= 4")"
done
r="$(rate binary_2m)"
echo "  binary run binary_2m >= 15 M points/s: $r $(verdict "$r >= 15")"
worst="" worst_spare=""
for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  # Room left below 40 bytes per point + 64 MiB, in MiB.
  spare="$(awk -v p="${r_points[$name]}" -v k="${r_rss[$name]}" \
    'BEGIN { printf "%.1f", (40 * p + 64 * 1048576 - k * 1024) / 1048576 }')"
  if [[ -z "$worst" ]] || awk "BEGIN { exit !($spare < $worst_spare) }"; then
    worst="$name" worst_spare="$spare"
  fi
done
echo "  peak memory <= 40 B/point + 64 MiB: tightest $worst, $worst_spare MiB to spare" \
     "$(verdict "$worst_spare >= 0")"
dev="$(awk -v w4="${r_wall[six_4m]}" -v w05="${r_wall[six_500k]}" \
  'BEGIN { printf "%+.1f", ((w4 / 4) / (w05 / 0.5) - 1) * 100 }')"
echo "  linear: s per M points of six_4m within 10% of six_500k: $dev%" \
     "$(verdict "$dev <= 10 && $dev >= -10")"

echo
echo "output checksums (sha256 of the sha256sum listing of the five outputs)"
for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  printf '  %-10s %s\n' "$name" "${r_sum[$name]}"
done
