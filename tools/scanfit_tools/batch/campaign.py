"""A campaign: its inputs, each with its NAME and run folder DIR/NAME/, which
of them to run, and its summary, status and messages at the end."""

import os
import shutil
import sys

from .. import runs
from .options import UsageError

# The campaign's own folders in DIR: staging of outputs brought back from
# other hosts, and Slurm's lists and logs. Each holds a '.', as no NAME does.
STAGING = '.staging'
SLURM = '.slurm'


class Run:
    """One input: as the user gave it, its absolute path, NAME and folder."""

    def __init__(self, index, given, path, name, folder):
        self.index, self.given, self.path = index, given, path
        self.name, self.folder = name, folder
        self.size = None    # the input's bytes, once looked at


class Campaign:
    def __init__(self, folder, runs_, token=None):
        self.folder = folder            # DIR, absolute
        self.runs = runs_
        # Tells this invocation's work folders (staging, hosts, Slurm) apart.
        self.token = token or os.urandom(6).hex()


def plan(output_dir, inputs):
    """The campaign of these inputs. An input without a NAME, and two inputs
    of one NAME (they would share a folder), are command-line errors."""
    folder = os.path.abspath(output_dir)
    owners = {}
    planned = []
    for index, given in enumerate(inputs):
        name = runs.run_name(given)
        if not name:
            raise UsageError(f"{runs.printable(given)} has no name before its first '.'")
        key = os.fsencode(name)
        if key in owners:
            raise UsageError(f'{runs.printable(owners[key])} and {runs.printable(given)} '
                             f'would both write to '
                             f'{runs.printable(os.path.join(output_dir, name))}')
        owners[key] = given
        planned.append(Run(index, given, os.path.abspath(given), name,
                           os.path.join(folder, name)))
    return Campaign(folder, planned)


def make_folder(campaign):
    os.makedirs(campaign.folder, exist_ok=True)


def to_run(campaign, resume):
    """The runs to make: all, or with --resume those whose folder is not a
    finished run of their input."""
    if not resume:
        return list(campaign.runs)
    return [run for run in campaign.runs if runs.verify_run(run.folder, run.path) is not None]


def clear_folder(folder):
    """An empty DIR/NAME/ for a run: whatever an earlier run left goes first,
    so that nothing of it is ever taken for this run's."""
    try:
        os.mkdir(folder)
        return
    except FileExistsError:
        pass
    if os.path.islink(folder) or not os.path.isdir(folder):
        os.unlink(folder)
    else:
        shutil.rmtree(folder)
    os.mkdir(folder)


def mark_stopped(outcomes, todo, stop):
    """Runs of this invocation that a stop ended, or kept from starting."""
    if stop.signal is None:
        return
    for run in todo:
        status, reason = outcomes.get(run.index, (None, None))
        if (status is None and reason is None) or (status is not None and status > 128):
            outcomes[run.index] = (status, 'stopped')


def summarise(campaign, outcomes):
    """summary.json and summary.tsv of every input, in the order given;
    outcomes: index -> (status, reason) of the runs this invocation made."""
    entries = [runs.summary_entry(run.name, run.given, run.path, run.folder,
                                  *outcomes.get(run.index, (None, None)))
               for run in campaign.runs]
    runs.write_summary(campaign.folder, entries)
    return entries


def say(message):
    sys.stderr.write(f'scanfit-batch: {message}\n')
    sys.stderr.flush()


def tell_failures(entries):
    """One line per input that is not done, but for those a stop ended, which
    are counted in one line."""
    stopped = 0
    for entry in entries:
        if entry['done']:
            continue
        if entry['reason'] == 'stopped':
            stopped += 1
            continue
        status = 'never ran' if entry['status'] is None else f'status {entry["status"]}'
        say(f'failed: {runs.printable(entry["input"])} ({status}): '
            f'{runs.printable(entry["reason"])}')
    if stopped:
        say(f'stopped: {stopped} run{"s" * (stopped != 1)} did not finish')


def exit_status(entries, stop):
    if stop.signal is not None:
        return stop.status
    return 0 if all(entry['done'] for entry in entries) else 1


def finish(campaign, outcomes, stop):
    """Writes the summaries, tells what failed and gives the exit status."""
    try:
        entries = summarise(campaign, outcomes)
    except OSError as error:
        say(f'cannot write the summary in {runs.printable(campaign.folder)}: '
            f'{error.strerror}')
        return stop.status if stop.signal is not None else 1
    tell_failures(entries)
    return exit_status(entries, stop)
