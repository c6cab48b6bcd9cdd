"""--slurm: a campaign as one Slurm job array, one task per input, and a
summary job that runs once every task has ended (afterany).

Each submission keeps its lists in DIR/.slurm/TOKEN/, the jobs' working
folder, where Slurm writes its logs (task-N.log, summary.log). A task finds
its input by its index in a NUL-separated list there, and the summary job
every input of the campaign; no name is ever pasted into a script or into
sbatch's options. The campaign folder and the inputs are on a file system
the nodes share, and the nodes run this scanfit-batch and scanfit by the
same paths as this machine."""

import json
import os
import shutil
import subprocess
import sys
import time

from .. import runs
from . import campaign as campaigns
from . import jobs
from .stops import Stop

# The script sbatch runs: the command comes as its arguments.
SCRIPT = '#!/bin/sh\nexec "$@"\n'
RUNS = 'runs'            # the inputs to run, by task index
INPUTS = 'inputs'        # every input: as given, absolute path
SETTINGS = 'settings.json'
ENDED_NOTE = 'summary.written'   # the summary job's note that it wrote the summary
ENDED = ('COMPLETED', 'FAILED', 'CANCELLED', 'TIMEOUT', 'NODE_FAIL', 'PREEMPTED',
         'OUT_OF_MEMORY', 'BOOT_FAIL', 'DEADLINE')


def _write_list(path, names):
    with open(path, 'wb') as stream:
        stream.write(b''.join(os.fsencode(name) + b'\0' for name in names))


def _read_list(path):
    with open(path, 'rb') as stream:
        return [os.fsdecode(name) for name in stream.read().split(b'\0')[:-1]]


def _prepare(campaign, todo, options):
    folder = os.path.join(campaign.folder, campaigns.SLURM, campaign.token)
    os.makedirs(folder)
    _write_list(os.path.join(folder, RUNS), [run.path for run in todo])
    _write_list(os.path.join(folder, INPUTS),
                [name for run in campaign.runs for name in (run.given, run.path)])
    with open(os.path.join(folder, SETTINGS), 'w', encoding='ascii') as stream:
        json.dump({'binary': options.binary, 'threads': options.threads,
                   'program': jobs.program(options)[0]}, stream)
    with open(os.path.join(folder, 'task.sh'), 'w', encoding='ascii') as stream:
        stream.write(SCRIPT)
    return folder


def _sbatch(folder, options, arguments, part):
    """Submits one job from the submission's folder: its id, or None."""
    argv = ['sbatch', '--parsable', *arguments, *options.sbatch_args,
            'task.sh', sys.executable, os.path.realpath(sys.argv[0]), part]
    try:
        done = subprocess.run(argv, cwd=folder, stdin=subprocess.DEVNULL,
                              capture_output=True)
    except OSError as error:
        campaigns.say(f'cannot run sbatch: {error.strerror}')
        return None
    if done.returncode != 0:
        message = done.stderr.decode('utf-8', 'replace').strip().splitlines() or ['no message']
        campaigns.say(f'sbatch failed: {runs.printable(message[-1])}')
        return None
    return done.stdout.decode('ascii', 'replace').strip().split(';')[0]


def submit(campaign, options, stop):
    todo = campaigns.to_run(campaign, options.resume)
    try:
        folder = _prepare(campaign, todo, options)
    except OSError as error:
        campaigns.say(f'cannot write the lists for Slurm: {error.strerror}')
        return 1
    array = None
    if todo:
        throttle = f'%{options.jobs}' if options.jobs else ''
        cpus = [f'--cpus-per-task={options.threads}'] if options.threads else []
        array = _sbatch(folder, options, [f'--array=0-{len(todo) - 1}{throttle}',
                                          '--job-name=scanfit-batch', '--output=task-%a.log',
                                          *cpus], '--slurm-task')
        if array is None:
            shutil.rmtree(folder, ignore_errors=True)
            return 1
    after = [f'--dependency=afterany:{array}'] if array else []
    summary = _sbatch(folder, options, [*after, '--job-name=scanfit-batch-summary',
                                        '--output=summary.log'], '--slurm-summary')
    if summary is None:
        if array:
            subprocess.run(['scancel', array], stdin=subprocess.DEVNULL)
        else:
            shutil.rmtree(folder, ignore_errors=True)
        return 1
    if not options.wait:
        print(f'array {array}' if array else 'array none: every run is done')
        print(f'summary {summary}')
        return 0
    return _wait(campaign, folder, todo, [job for job in (array, summary) if job], stop)


def _state(job):
    """The job's state (COMPLETED, FAILED, ...), or None once Slurm has
    forgotten it. squeue prints the state alone, where scontrol's line would
    hold the job's folder, whose name could pass for a state."""
    done = subprocess.run(['squeue', '-h', '-t', 'all', '-o', '%T', '-j', job],
                          stdin=subprocess.DEVNULL, capture_output=True)
    state = done.stdout.decode('ascii', 'replace').strip()
    return state if done.returncode == 0 and state else None


def _pause(seconds, stop):
    """Sleeps, but wakes within a tenth of a second of a stop."""
    end = time.monotonic() + seconds
    while stop.signal is None and (left := end - time.monotonic()) > 0:
        time.sleep(min(0.1, left))


def _wait(campaign, folder, todo, job_ids, stop):
    """Waits for the summary job; a stop cancels the campaign's jobs."""
    delay = 0.2
    while stop.signal is None:
        state = _state(job_ids[-1])
        if state is None or state in ENDED:
            break
        _pause(delay, stop)
        delay = min(delay * 1.5, 5)
    if stop.signal is not None:
        return _cancel(campaign, todo, job_ids, stop)
    if state not in (None, 'COMPLETED', 'FAILED'):
        campaigns.say(f'the summary job {job_ids[-1]} ended {state}')
        return 1
    entries = runs.read_summary_entries(campaign.folder)
    if entries is None or not os.path.exists(os.path.join(folder, ENDED_NOTE)):
        campaigns.say('the summary job wrote no summary')
        return 1
    campaigns.tell_failures(entries)
    return campaigns.exit_status(entries, stop)


def _cancel(campaign, todo, job_ids, stop):
    """Cancels the jobs, waits until their tasks are gone, and writes the
    summary with the runs they did not finish as stopped."""
    subprocess.run(['scancel', *job_ids], stdin=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        listed = subprocess.run(['squeue', '-h', '-o', '%i', '-j', ','.join(job_ids)],
                                stdin=subprocess.DEVNULL, capture_output=True)
        if listed.returncode != 0 or not listed.stdout.strip():
            break
        time.sleep(0.5)
    outcomes = {}
    for run in todo:
        record = runs.read_record(run.folder)
        outcomes[run.index] = (record.get('status'), record.get('reason'))
    campaigns.mark_stopped(outcomes, todo, stop)
    return campaigns.finish(campaign, outcomes, stop)


# --- in the jobs ------------------------------------------------------------

def _campaign_folder():
    return os.path.dirname(os.path.dirname(os.getcwd()))


def task():
    """One array task: the run of the input at its index, checked."""
    stop = Stop()
    index = int(os.environ['SLURM_ARRAY_TASK_ID'])
    path = _read_list(RUNS)[index]
    with open(SETTINGS, encoding='ascii') as stream:
        settings = json.load(stream)
    threads = settings['threads'] or int(os.environ.get('SLURM_CPUS_PER_TASK') or 1)
    folder = os.path.join(_campaign_folder(), runs.run_name(path))
    campaigns.clear_folder(folder)
    argv = [settings['program'], *(['-b'] if settings['binary'] else []),
            f'--threads={threads}', f'--output-dir={folder}',
            f'--report={os.path.join(folder, runs.REPORT)}', '--', path]
    with open(os.path.join(folder, runs.LOG), 'wb') as log:
        try:
            status = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=log).returncode
        except OSError as error:
            log.write(f'Cannot run {argv[0]}: {error.strerror}\n'.encode())
            status = 127
    status = status if status >= 0 else 128 - status
    runs.write_record(folder, {'status': status})
    if stop.signal is not None:
        return stop.status
    return 0 if status == 0 and runs.verify_run(folder, path) is None else 1


def summary_job():
    """The summaries of the whole campaign, once every task has ended."""
    folder = _campaign_folder()
    names = _read_list(INPUTS)
    planned = [campaigns.Run(k // 2, names[k], names[k + 1], runs.run_name(names[k]),
                             os.path.join(folder, runs.run_name(names[k])))
               for k in range(0, len(names) - 1, 2)]
    status = campaigns.finish(campaigns.Campaign(folder, planned), {}, Stop())
    with open(ENDED_NOTE, 'w', encoding='ascii') as stream:
        stream.write(f'{status}\n')
    return status
