# One job of scanfit-batch, run by /bin/sh with the job's words as its
# arguments: INDEX INPUT FOLDER of each run, handed over by GNU parallel as
# words of their own, so that nothing here is pasted into a command. The
# runs of this machine are made here; for a job slot of another host, the
# Python job that sends them there takes over. The campaign sets the
# SCANFIT_BATCH_* variables.
if [ "$PARALLEL_JOBSLOT" -gt "$SCANFIT_BATCH_LOCAL_SLOTS" ]; then
  exec "$SCANFIT_BATCH_PYTHON" "$SCANFIT_BATCH_LAUNCHER" --job-on-host "$@"
fi
# SCANFIT_BATCH_OPTIONS holds words of the campaign's own (-b,
# --threads=N), split here with no wildcard expansion.
set -f
stopped=
# A stop reaches scanfit too (GNU parallel signals the whole job): the job
# writes down how it ended and starts no other run.
trap 'stopped=1' INT TERM HUP
# Empty words pad a job to the words of the largest one.
while [ $# -ge 3 ] && [ -n "$1" ]; do
  # The braces take the shell's own note of a run ended by a signal.
  { "$SCANFIT_BATCH_PROGRAM" $SCANFIT_BATCH_OPTIONS --output-dir="$3" \
      --report="$3/report.json" -- "$2" 2>"$3/scanfit.log" >/dev/null </dev/null; } 2>/dev/null
  status=$?
  printf '{"status": %d}\n' "$status" >"$3/run.json"
  echo "$1 $status"
  [ -z "$stopped" ] || exit "$status"
  shift 3
done
