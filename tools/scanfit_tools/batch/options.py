"""The command line of scanfit-batch. Every name stays as the system gave it
(bytes that are not UTF-8 as lone surrogates, see os.fsencode)."""

import os
import sys

from .. import runs

MOST_THREADS = 1024   # scanfit's own limit

USAGE = """\
Usage: scanfit-batch [OPTION]... --output-dir DIR FILE...
       scanfit-batch [OPTION]... --output-dir DIR -     (the inputs on standard input)
Runs scanfit once per input, each into DIR/NAME/ (NAME: the input's file
name up to its first '.'), and writes DIR/summary.json and DIR/summary.tsv.

  --output-dir DIR   the campaign's folder (made when missing)
  --jobs N           N runs at a time (on each host; with --slurm, at most N
                       tasks at a time); the default is one per processor
  --threads N        threads of each run (with --slurm, --cpus-per-task);
                       the default shares the processors among the runs
  --binary           the inputs are binary point files (scanfit -b)
  --null             the names on standard input end with a NUL, not a line end
  --hosts H1,H2,...  spread the runs over these ssh hosts, N/HOST for N runs
                       at a time there: each input is sent, its outputs are
                       brought back, checked and put in place, and the host's
                       copies removed; ':' is this machine
  --shared-dir       with --hosts: DIR and the inputs have the same paths on
                       every host, so nothing is sent or brought back
  --slurm            submit the campaign to Slurm: one job array, a task per
                       input, and a summary job once all have ended; DIR and
                       the inputs are on a file system the nodes share
  --wait             with --slurm: wait for the campaign's end and exit with
                       its status (else print the job ids and return)
  --sbatch-arg=ARG   with --slurm: pass ARG to sbatch (repeatable); SBATCH_*
                       variables work as well
  --resume           run only the inputs whose folder is not a finished run
                       of that very input
  --summary-only     run nothing: write the summaries from the folders there
  --help             show this help and exit

A run is done when its folder holds a report.json that names this input
(absolute path, size, modification time) and every output it lists, with
its size. Failed inputs are listed on standard error with their reason.

SCANFIT names the scanfit program (default: the one beside this script,
else scanfit on the PATH); hosts sent their inputs run SCANFIT, else
scanfit on their PATH; with --shared-dir and --slurm, the nodes run the
program this machine runs, by the same path. PARALLEL_SSH replaces ssh.

Exit status: 0 when every run is done, 1 when one is not, 2 for an error in
the command line (two inputs with the same NAME, say), 128 + N when
stopped by signal N (130 for Ctrl-C).
"""

VALUED = ('--output-dir', '--jobs', '--threads', '--hosts', '--sbatch-arg')
FLAGS = ('--binary', '--null', '--shared-dir', '--slurm', '--wait', '--resume',
         '--summary-only')


# Where '-' (before '--') stands among the inputs: the list on standard input.
STANDARD_INPUT = object()


class UsageError(Exception):
    """An error in the command line: reported with a hint, status 2."""


class Options:
    def __init__(self):
        self.output_dir = None
        self.inputs = []
        self.jobs = None
        self.threads = None
        self.hosts = None
        self.sbatch_args = []
        self.binary = self.null = self.shared_dir = self.slurm = self.wait = False
        self.resume = self.summary_only = self.help = False


def _whole_number(option, text, most=None):
    if not (text.isascii() and text.isdigit()) or int(text) < 1 \
            or (most is not None and int(text) > most):
        upper = f' to {most}' if most else ' on'
        raise UsageError(f"{option} takes a whole number from 1{upper}, not "
                         f"'{runs.printable(text)}'")
    return int(text)


def parse_hosts(text):
    """[(runs at a time or None, host)] of --hosts H1,N/H2,...; ':' is this machine."""
    hosts = []
    for entry in text.split(','):
        count, slash, host = entry.rpartition('/')
        if slash and not (count.isascii() and count.isdigit() and int(count) > 0):
            raise UsageError(f"--hosts: '{runs.printable(entry)}' is not N/HOST")
        if not host or host.startswith('-') or any(c.isspace() or not c.isprintable()
                                                   for c in host):
            raise UsageError(f"--hosts: '{runs.printable(host)}' is not a host name")
        hosts.append((int(count) if slash else None, host))
    return hosts


def _set_value(options, name, value):
    if name == '--output-dir':
        if not value:
            raise UsageError('--output-dir: an empty name')
        options.output_dir = value
    elif name == '--jobs':
        options.jobs = _whole_number(name, value)
    elif name == '--threads':
        options.threads = _whole_number(name, value, MOST_THREADS)
    elif name == '--hosts':
        options.hosts = parse_hosts(value)
    else:
        options.sbatch_args.append(value)


def _read_list(stream, null):
    """The names of the input list: one a line (or NUL-ended), empty ones left out."""
    data = stream.read()
    return [os.fsdecode(name) for name in data.split(b'\0' if null else b'\n') if name]


def _scan(argv, options):
    """Options and inputs; '-' (the list on standard input) marks its place."""
    at = 0
    while at < len(argv):
        arg = argv[at]
        name, equals, value = arg.partition('=')
        if arg == '--':
            options.inputs += argv[at + 1:]
            break
        if arg == '--help':
            options.help = True
        elif name in VALUED:
            if not equals:
                if at + 1 == len(argv):
                    raise UsageError(f'missing value for {name}')
                at += 1
                value = argv[at]
            _set_value(options, name, value)
        elif arg in FLAGS:
            setattr(options, arg[2:].replace('-', '_'), True)
        elif arg.startswith('--'):
            raise UsageError(f'unknown option: {runs.printable(arg)}')
        elif arg == '-':
            options.inputs.append(STANDARD_INPUT)
        else:
            options.inputs.append(arg)
        at += 1


def _check_together(options):
    if options.shared_dir and not options.hosts:
        raise UsageError('--shared-dir goes with --hosts')
    if options.slurm and (options.hosts or options.summary_only):
        raise UsageError('--slurm goes with neither --hosts nor --summary-only')
    for flag, given in (('--wait', options.wait), ('--sbatch-arg', options.sbatch_args)):
        if given and not options.slurm:
            raise UsageError(f'{flag} goes with --slurm')
    if not options.output_dir:
        raise UsageError('no --output-dir')
    if not options.inputs:
        raise UsageError('no input')


def parse(argv, stdin=None):
    """Options of the command line argv (without the program's name)."""
    options = Options()
    _scan(argv, options)
    if options.help:
        return options
    if STANDARD_INPUT in options.inputs:
        listed = _read_list(stdin or sys.stdin.buffer, options.null)
        options.inputs = [name for given in options.inputs
                          for name in (listed if given is STANDARD_INPUT else [given])]
    _check_together(options)
    return options
