"""Other hosts, reached through ssh (PARALLEL_SSH replaces it) and rsync.

ssh always hands its command to a shell on the host. The only such command
line is built by remote_command, from fixed sh scripts and their arguments,
every word quoted; nothing else a user typed is ever pasted into one. rsync
runs with --secluded-args (-s), so that the paths it sends and brings back
travel as data and reach no shell at all. Host names reach ssh as one
argument after '--'."""

import os
import shlex
import subprocess

# On each host, every invocation works in a folder of its own under the
# home folder: HOME_FOLDER/TOKEN/SEQ for the job of sequence number SEQ.
HOME_FOLDER = '.scanfit-batch'

# Makes the invocation's folder on a host (when given one) and says how many
# processors the host has.
PROBE = """\
if [ -n "$1" ]; then mkdir -p -- "$1" || exit 1; fi
getconf _NPROCESSORS_ONLN
"""

# Arguments: work folder, program, its options (words of our own: -b,
# --threads=N), then INPUT and OUTPUT_FOLDER of each run. Writes "K STATUS"
# for the K-th run once it has ended. The running scanfit's id is kept in
# WORK/pid for as long as it runs, so that a stop can end it: a remote
# process outlives the ssh connection that started it.
RUNS = """\
cd -- "$1" || exit 255
program=$2 options=$3
shift 3
set -f
k=0
while [ $# -ge 2 ]; do
  k=$((k + 1))
  mkdir -p -- "$2" || exit 255
  "$program" $options --output-dir="$2" --report="$2/report.json" -- "$1" \\
    2>"$2/scanfit.log" >/dev/null </dev/null &
  echo $! >pid
  wait $!
  status=$?
  rm -f pid
  echo "$k $status"
  shift 2
done
"""

# Ends the run still going in a work folder, if any, then removes the folder.
CLEANUP = """\
if [ -f "$1/pid" ]; then
  pid=$(cat "$1/pid")
  kill -TERM "$pid" 2>/dev/null
  while kill -0 "$pid" 2>/dev/null; do sleep 0.1 2>/dev/null || sleep 1; done
fi
rm -rf -- "$1"
"""

# Removes an invocation's folder on a host, and the parent when it is empty.
FAREWELL = """\
rm -rf -- "$1"
rmdir -- "$2" 2>/dev/null
exit 0
"""


def ssh_words():
    return shlex.split(os.environ.get('PARALLEL_SSH') or 'ssh')


def remote_command(words):
    """The one command line a host's shell reads: every word quoted."""
    return ' '.join(shlex.quote(word) for word in words)


def ssh_argv(host, script, *arguments):
    """ssh running a fixed sh script with its arguments on a host."""
    return ssh_words() + ['--', host, remote_command(['sh', '-c', script, 'sh', *arguments])]


def rsync_argv(*arguments):
    """rsync over the same ssh; -s keeps every path from the remote shell."""
    return ['rsync', '-s', '-e', shlex.join(ssh_words()), *arguments]


def message(stderr, prefer=None):
    """The line of a tool's messages that tells what went wrong: the first
    starting with `prefer` (rsync's own lines), else the last."""
    lines = [line.strip() for line in stderr.decode('utf-8', 'surrogateescape').splitlines()
             if line.strip()]
    chosen = [line for line in lines if prefer and line.startswith(prefer)]
    return (chosen or lines or ['no message'])[0 if chosen else -1][:400]


def call(argv, stdin=subprocess.DEVNULL):
    """Runs a command: (status, standard output, standard error)."""
    try:
        done = subprocess.run(argv, stdin=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
    except OSError as error:
        return 127, b'', f'{argv[0]}: {error.strerror}'.encode()
    return done.returncode, done.stdout, done.stderr


def probe(hosts, folder):
    """Starts a probe of every host at once: {host: process}."""
    started = {}
    for host in hosts:
        argv = ssh_argv(host, PROBE, folder or '')
        started[host] = subprocess.Popen(argv, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return started


def probed(process):
    """Processors of a probed host, or the reason it cannot be used."""
    out, err = process.communicate()
    text = out.decode('ascii', 'replace').strip()
    if process.returncode == 0 and text.isdigit() and int(text) > 0:
        return int(text), None
    return None, message(err) if err.strip() else f'ssh ended with status {process.returncode}'


def farewell(hosts, folder):
    """Removes the invocation's folder on every host, all at once."""
    parent = folder.rsplit('/', 1)[0]
    processes = [subprocess.Popen(ssh_argv(host, FAREWELL, folder, parent),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL) for host in hosts]
    for process in processes:
        process.wait()
