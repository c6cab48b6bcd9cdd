#!/usr/bin/env bash
# Times scanfit end to end on generated flights, sets every case against
# the cost of only moving its bytes (the I/O floor) and, given a second
# build, against that build in the same rounds. See bench/README.md.
#
# Usage: bench/run.sh [BUILD_DIR [OLD_BUILD_DIR]]
#   BUILD_DIR      folder holding scanfit and genflight (default: build/ of
#                  the repository; built with tools/build.sh when missing)
#   OLD_BUILD_DIR  a build of another commit, timed beside BUILD_DIR
# Environment:
#   RUNS=N         timed rounds, medians reported (default 3)
#   CASES="a b"    only these cases (default: all of them)
#   SCALING=0      leave out the thread-scaling table
#   KEEP=1         keep the temporary folder (inputs, last outputs, timings)
#
# The tables go to standard output, progress to standard error.
set -euo pipefail
export LC_ALL=C  # '.' as decimal point everywhere, byte-order globbing

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
old_build="${2:-}"
runs="${RUNS:-3}"
keep="${KEEP:-0}"
scaling="${SCALING:-1}"
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
genflight="$build/genflight"
[[ -x "$build/scanfit" && -x "$genflight" ]] || die "no scanfit or genflight in $build"
builds=(new)
declare -A program=([new]="$build/scanfit")
if [[ -n "$old_build" ]]; then
  old_build="$(cd "$old_build" && pwd)"
  [[ -x "$old_build/scanfit" ]] || die "no scanfit in $old_build"
  builds+=(old)
  program[old]="$old_build/scanfit"
fi

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

# clear DIR: empties a case's working directory, and waits for the kernel
# to finish writing back what earlier runs wrote: a large case's write-back
# would otherwise run on into the next case and take its processors.
clear_dir() {
  find "$1" -mindepth 1 -delete
  sync
}

# checksum DIR: sha256 of the sha256sum listing of the files in DIR (names
# without folder, in byte order), so equal outputs give equal sums.
checksum() {
  (cd "$1" && sha256sum -- * | sha256sum | cut -d' ' -f1)
}

# --- Inputs ----------------------------------------------------------------

# Case table: name, points, genflight format, scanfit options.
all_cases=(
  "six_500k 500000 six"
  "six_2m 2000000 six"
  "six_16m 16000000 six"
  "six_50m 50000000 six"
  "seven_2m 2000000 seven"
  "binary_2m 2000000 binary -b"
  "binary_16m 16000000 binary -b"
  "binary_50m 50000000 binary -b"
)
cases=()
for c in "${all_cases[@]}"; do
  read -r name _ <<<"$c"
  if [[ -z "${CASES:-}" || " $CASES " == *" $name "* ]]; then cases+=("$c"); fi
done
[[ ${#cases[@]} -gt 0 ]] || die "no case matches CASES='$CASES'"

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

# Per case: r_<x>[$name]; per case and build: r_<x>[$name.$build].
declare -A r_points r_in r_out r_wall r_user r_sys r_rss r_floor r_sum
declare -A r_dir r_input r_opts r_log a_wall a_user a_sys a_rss a_floor

# run_case NAME BUILD [SCANFIT ARGS...]: one run of a case's input, with
# the given arguments before the input, in the case's emptied directory;
# the outputs must be the case's reference bytes once there are some.
run_case() {
  local name="$1" key="$2"
  shift 2
  local dir="${r_dir[$name]}"
  clear_dir "$dir"
  # shellcheck disable=SC2086  # opts is empty or one option
  measure "$dir" "${r_log[$name]}" "$@" ${r_opts[$name]} "${r_input[$name]}"
  local files sum
  files="$(find "$dir" -mindepth 1 | wc -l)"
  [[ "$files" -eq 5 ]] || die "$name ($key): expected five outputs, found $files"
  sum="$(checksum "$dir")"
  if [[ -z "${r_sum[$name]:-}" ]]; then
    r_sum[$name]="$sum"
    r_out[$name]="$(find "$dir" -mindepth 1 -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')"
  fi
  [[ "$sum" == "${r_sum[$name]}" ]] ||
    die "$name ($key): other bytes than the reference run"
}

# The machine's speed drifts over minutes, and the goals compare cases and
# builds with each other. So the timed runs go in rounds, every case and
# build once per round, rather than one after another: a slow minute then
# weighs on all of them. Before the first round the generated inputs are
# written out, so that their write-back does not fall on the first cases.
sync

for c in "${cases[@]}"; do
  read -r name points format opts <<<"$c"
  # scanfit is handed a relative path, so that the scratch folder's own
  # name can never look like an option or a wildcard to it.
  r_input[$name]="../../inputs/$(input_of "$name" "$format")"
  r_dir[$name]="$tmp/cases/$name"
  r_opts[$name]="$opts"
  r_log[$name]="$tmp/log/$name"
  r_points[$name]="$points"
  r_in[$name]="$(stat -c %s "$tmp/inputs/$(input_of "$name" "$format")")"
  mkdir "${r_dir[$name]}"
  # One untimed run of each build first: it warms the caches, and the
  # first gives the reference outputs every later run must reproduce.
  for b in "${builds[@]}"; do
    note "$name: warm-up run ($b)"
    run_case "$name" "$b" "${program[$b]}"
  done
done

for ((i = 1; i <= runs; i++)); do
  note "round $i of $runs"
  for c in "${cases[@]}"; do
    read -r name _ <<<"$c"
    for b in "${builds[@]}"; do
      run_case "$name" "$b" "${program[$b]}"
      a_wall[$name.$b]+=" $m_wall" a_user[$name.$b]+=" $m_user"
      a_sys[$name.$b]+=" $m_sys" a_rss[$name.$b]+=" $m_rss"
    done
    # The I/O floor: read the input once, write as many bytes as the five
    # outputs hold into one file in the same directory.
    dir="${r_dir[$name]}"
    clear_dir "$dir"
    # shellcheck disable=SC2016  # expanded by the inner sh
    measure "$dir" "${r_log[$name]}.floor" sh -c \
      'dd if="$1" of=/dev/null bs=1M status=none &&
       dd if=/dev/zero of=floor.out bs=1M count="$2" iflag=count_bytes status=none' \
      floor "${r_input[$name]}" "${r_out[$name]}"
    a_floor[$name]+=" $m_wall"
    clear_dir "$dir"
  done
done

# The thread-scaling table: the 16-million-point text flight on one
# processor and on all, and with each thread count.
scaling_rows=("1-processor taskset -c 0" "all-processors" "threads=1 --threads=1"
              "threads=2 --threads=2" "threads=8 --threads=8")
declare -A s_wall=()
scale_case=six_16m
if [[ "$scaling" == 1 && -n "${r_dir[$scale_case]:-}" ]]; then
  for ((i = 1; i <= runs; i++)); do
    note "scaling round $i of $runs"
    for row in "${scaling_rows[@]}"; do
      read -r label how <<<"$row"
      cmd=("${program[new]}")
      if [[ "$how" == taskset* ]]; then
        cmd=(taskset -c 0 "${program[new]}")
      elif [[ -n "$how" ]]; then
        cmd=("${program[new]}" "$how")
      fi
      run_case "$scale_case" "$label" "${cmd[@]}"
      s_wall[$label]+=" $m_wall"
    done
  done
fi

for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  if [[ "$keep" == 1 ]]; then  # leave the outputs of a real run behind
    run_case "$name" new "${program[new]}"
  fi
  r_floor[$name]="$(median ${a_floor[$name]})"
  for b in "${builds[@]}"; do
    # shellcheck disable=SC2086  # the lists are split into their values
    {
      r_wall[$name.$b]="$(median ${a_wall[$name.$b]})"
      r_user[$name.$b]="$(median ${a_user[$name.$b]})"
      r_sys[$name.$b]="$(median ${a_sys[$name.$b]})"
      r_rss[$name.$b]="$(median ${a_rss[$name.$b]})"
    }
  done
done

load_end="$(uptime)"

# --- Report ----------------------------------------------------------------

commit_of() {  # commit_of FOLDER: the commit a build folder's tree is at
  local src
  src="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$1/CMakeCache.txt" 2>/dev/null)"
  src="${src:-$root}"
  local commit
  commit="$(git -C "$src" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  if [[ -n "$(git -C "$src" status --porcelain 2>/dev/null)" ]]; then
    commit="$commit (working tree differs)"
  fi
  echo "$commit"
}

echo "scanfit benchmark: $build (commit $(commit_of "$build"))"
if [[ -n "$old_build" ]]; then
  echo "beside:            $old_build (commit $(commit_of "$old_build"))"
fi
echo "timed rounds: $runs (medians); cores: $(nproc)"
echo "load before:$load_start"
echo "load after: $load_end"

for b in "${builds[@]}"; do
  echo
  echo "build: $b (${program[$b]})"
  {
    echo "case points input_bytes output_bytes wall_s user_s sys_s Mpt/s floor_s xfloor RSS_MiB RSS_B/pt"
    for c in "${cases[@]}"; do
      read -r name _ <<<"$c"
      echo "$name ${r_points[$name]} ${r_in[$name]} ${r_out[$name]} ${r_wall[$name.$b]}" \
           "${r_user[$name.$b]} ${r_sys[$name.$b]} ${r_floor[$name]} ${r_rss[$name.$b]}"
    done
  } | awk 'NR == 1 {
             printf "%-10s %9s %11s %12s %7s %7s %7s %7s %7s %7s %8s %8s\n",
                    $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12
             next }
           { printf "%-10s %9.0f %11.0f %12.0f %7.3f %7.2f %7.2f %7.2f %7.3f %7.1f %8.1f %8.1f\n",
                    $1, $2, $3, $4, $5, $6, $7, $2 / 1e6 / $5, $8, $5 / $8,
                    $9 / 1024, $9 * 1024 / $2 }'
done

# verdict EXPR: "pass" when the awk expression EXPR holds, else "FAIL".
verdict() { if awk "BEGIN { exit !($1) }"; then echo pass; else echo FAIL; fi; }
has() { [[ -n "${r_wall[$1.new]:-}" ]]; }
rate() { awk -v p="${r_points[$1]}" -v w="${r_wall[$1.new]}" 'BEGIN { printf "%.2f", p / 1e6 / w }'; }
speedup() { awk -v o="${r_wall[$1.old]}" -v n="${r_wall[$1.new]}" 'BEGIN { printf "%.2f", o / n }'; }

if [[ -n "$old_build" ]]; then
  echo
  echo "new beside old: old wall / new wall (above 1: the new build is faster)"
  for c in "${cases[@]}"; do
    read -r name _ <<<"$c"
    printf '  %-10s %6.3f s / %6.3f s = %s\n' "$name" "${r_wall[$name.old]}" \
           "${r_wall[$name.new]}" "$(speedup "$name")"
  done
fi

if [[ ${#s_wall[@]} -gt 0 ]]; then
  echo
  echo "thread scaling, $scale_case (new build; speed-up against one processor)"
  one="$(median ${s_wall[1-processor]})"
  for row in "${scaling_rows[@]}"; do
    read -r label _ <<<"$row"
    # shellcheck disable=SC2086
    w="$(median ${s_wall[$label]})"
    awk -v l="$label" -v w="$w" -v o="$one" \
      'BEGIN { printf "  %-15s %7.3f s  x%.2f\n", l, w, o / w }'
  done
fi

echo
echo "goals"
for name in six_2m seven_2m; do
  has "$name" || continue
  r="$(rate "$name")"
  echo "  text run $name >= 4 M points/s: $r $(verdict "$r >= 4")"
done
if has binary_2m; then
  r="$(rate binary_2m)"
  echo "  binary run binary_2m >= 15 M points/s: $r $(verdict "$r >= 15")"
fi
worst="" worst_mib=""
for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  mib="$(awk -v k="${r_rss[$name.new]}" 'BEGIN { printf "%.1f", k / 1024 }')"
  if [[ -z "$worst" ]] || awk "BEGIN { exit !($mib > $worst_mib) }"; then
    worst="$name" worst_mib="$mib"
  fi
done
echo "  peak memory <= 64 MiB in every case: largest $worst, $worst_mib MiB" \
     "$(verdict "$worst_mib <= 64")"
if has six_2m && has six_16m; then
  dev="$(awk -v a="${r_wall[six_16m.new]}" -v b="${r_wall[six_2m.new]}" \
    'BEGIN { printf "%+.1f", ((a / 16) / (b / 2) - 1) * 100 }')"
  echo "  linear: s per M points of six_16m within 10% of six_2m: $dev%" \
       "$(verdict "$dev <= 10 && $dev >= -10")"
fi
if [[ ${#s_wall[@]} -gt 0 ]]; then
  two="$(awk -v o="$one" -v w="$(median ${s_wall[all-processors]})" 'BEGIN { printf "%.2f", o / w }')"
  echo "  six_16m on all processors >= 1.8 x one processor: $two $(verdict "$two >= 1.8")"
fi
if [[ -n "$old_build" ]]; then
  slowest="" slowest_x=""
  for c in "${cases[@]}"; do
    read -r name _ <<<"$c"
    x="$(speedup "$name")"
    if [[ -z "$slowest" ]] || awk "BEGIN { exit !($x < $slowest_x) }"; then
      slowest="$name" slowest_x="$x"
    fi
  done
  echo "  no case slower than the old build: slowest $slowest, x$slowest_x" \
       "$(verdict "$slowest_x >= 1")"
  for name in six_2m six_16m; do
    has "$name" || continue
    x="$(speedup "$name")"
    echo "  $name >= 1.2 x the old build: x$x $(verdict "$x >= 1.2")"
  done
fi

echo
echo "output checksums (sha256 of the sha256sum listing of the five outputs;"
echo "every run of every build gave these bytes)"
for c in "${cases[@]}"; do
  read -r name _ <<<"$c"
  printf '  %-10s %s\n' "$name" "${r_sum[$name]}"
done
