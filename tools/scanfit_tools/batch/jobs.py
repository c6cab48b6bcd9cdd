"""A campaign on this machine and other hosts, through GNU parallel.

GNU parallel runs jobs of a few runs each (job.sh), as many at a time as
the hosts have job slots: the first slots are this machine's, the others
each belong to one host. The runs reach it as NUL-separated INDEX, INPUT,
FOLDER words through its argument file (a pipe), and it hands them to each
job as words of their own; its command is a fixed text, and everything else
a job needs comes through the environment. Each run ends with one line on standard
output, INDEX STATUS [REASON], which is how the campaign learns its status.

A job of several runs spares GNU parallel's own cost per job (a few
milliseconds, as much as a small flight's whole run), so small flights go
several to a job; the jobs stay many enough to keep every slot busy."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

from . import campaign as campaigns
from . import hosts as remote
from .slots import Slots, plan_slots

# GNU parallel's command, a fixed text: it appends the job's words, each
# quoted, and runs it with /bin/sh, which runs job.sh, named through the
# environment, with them. It holds no braces, which GNU parallel would read
# as its own.
COMMAND = 'exec /bin/sh "$SCANFIT_BATCH_JOB_SCRIPT"'
JOB_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'job.sh')
MOST_RUNS_PER_JOB = 32
JOB_BYTES = 8 << 20     # inputs of a job, in all, beyond which it takes one
# Bytes of a job's command line at most: GNU parallel allows some 60 000 here.
COMMAND_BYTES = 40000
# On a stop, GNU parallel sends each job SIGTERM and allows it this long (in
# ms) to end its runs and remove its copies on other hosts before SIGKILL.
STOP_GRACE_MS = 30000


def plan_jobs(todo, slots):
    """The runs of each job, in order, largest inputs first: many to a job at
    first, when GNU parallel's cost per job would weigh on small flights,
    fewer and fewer towards the end, so that the slots run out of work
    together; never so many that a job's command line (its words quoted)
    grows too long."""
    longest = 0
    for run in todo:
        try:
            run.size = os.path.getsize(run.path)
        except OSError:
            run.size = 0
        # A quote takes five bytes once quoted for the shell.
        longest = max(longest, 5 * len(os.fsencode(run.path + run.folder)) + 32)
    todo = sorted(todo, key=lambda run: -run.size)
    mean = sum(run.size for run in todo) / len(todo)
    most = min(MOST_RUNS_PER_JOB, COMMAND_BYTES // longest)
    if mean:
        most = min(most, int(JOB_BYTES // mean))
    least = min(2, max(1, most))   # a job of one run costs as much as the run
    jobs = []
    while todo:
        size = min(len(todo), max(least, min(most, len(todo) // (2 * slots))))
        jobs.append(todo[:size])
        todo = todo[size:]
    return jobs


def feed(stream, jobs, failed, stop):
    """Hands GNU parallel each job's words, INDEX INPUT FOLDER per run, once
    the runs' folders are ready, while GNU parallel starts up; a run whose
    folder cannot be made fails. Every job gets as many words as the
    largest one (GNU parallel hands the same number to each), the rest
    empty, which the jobs skip."""
    most = max(len(job) for job in jobs)
    try:
        for job in jobs:
            if stop.signal is not None:
                break
            words = []
            for run in job:
                try:
                    campaigns.clear_folder(run.folder)
                except OSError as error:
                    failed[run.index] = (None, f'cannot make its folder: {error.strerror}')
                    continue
                words.append(b'%d\0%s\0%s\0' % (run.index, os.fsencode(run.path),
                                                os.fsencode(run.folder)))
            stream.write(b''.join(words) + b'\0\0\0' * (most - len(words)))
            stream.flush()
    except OSError:
        pass   # GNU parallel is gone: stopped
    finally:
        try:
            stream.close()
        except OSError:
            pass


def program(options):
    """scanfit for this machine and hosts that share the folders, and for
    hosts that are sent their inputs."""
    given = os.environ.get('SCANFIT')
    beside = os.path.join(os.path.dirname(os.path.realpath(sys.argv[0])), 'scanfit')
    here = given or (beside if os.access(beside, os.X_OK) else shutil.which('scanfit'))
    here = here or 'scanfit'
    if os.sep in here:
        here = os.path.abspath(here)
    return here, (here if options.shared_dir else given or 'scanfit')


def parallel_home(work):
    """GNU parallel's folder: one of the campaign tool's own, so that no
    configuration of the user's (~/.parallel/config) changes what it does,
    kept between campaigns, as GNU parallel spends a while finding out
    about this machine in a new one."""
    cache = os.environ.get('XDG_CACHE_HOME') or \
        (os.path.join(os.environ['HOME'], '.cache') if os.environ.get('HOME') else None)
    if cache:
        home = os.path.join(cache, 'scanfit-batch', 'parallel')
        try:
            os.makedirs(home, exist_ok=True)
            if os.access(home, os.W_OK | os.X_OK):
                return home
        except OSError:
            pass
    return work


def environment(work, slots, local_program, options):
    env = dict(os.environ)
    env.pop('PARALLEL', None)   # options for GNU parallel that no one asked here
    env.setdefault('HOME', work)   # else GNU parallel warns of its absence
    env.update(
        PARALLEL_HOME=parallel_home(work), PARALLEL_SHELL='/bin/sh',
        PYTHONDONTWRITEBYTECODE='1',
        SCANFIT_BATCH_JOB_SCRIPT=JOB_SCRIPT, SCANFIT_BATCH_WORK=work,
        SCANFIT_BATCH_LOCAL_SLOTS=str(slots.local), SCANFIT_BATCH_PROGRAM=local_program,
        SCANFIT_BATCH_OPTIONS=('-b ' if options.binary else '')
        + f'--threads={slots.local_threads}',
        SCANFIT_BATCH_PYTHON=sys.executable,
        SCANFIT_BATCH_LAUNCHER=os.path.realpath(sys.argv[0]))
    return env


def parallel_argv(campaign, slots, words):
    joblog = os.path.join(campaign.folder, 'joblog.tsv')
    return ['parallel', '--will-cite', '--null', '--ungroup', '--halt', 'never',
            '--jobs', str(slots.count), '--max-args', str(words),
            '--termseq', f'TERM,{STOP_GRACE_MS},KILL,25',
            '--joblog', ('+' if os.path.exists(joblog) else '') + joblog,
            '--arg-file', '-', COMMAND]


class Progress:
    """Runs ended so far, on one line of a terminal."""

    def __init__(self, total):
        self.total, self.ended, self.failed = total, 0, 0
        self.shown = sys.stderr.isatty()

    def count(self, status):
        self.ended += 1
        self.failed += status != 0
        if self.shown:
            failed = f', {self.failed} failed' if self.failed else ''
            sys.stderr.write(f'\rscanfit-batch: {self.ended} of {self.total} runs ended'
                             f'{failed} ')
            sys.stderr.flush()

    def close(self):
        if self.shown and self.ended:
            sys.stderr.write('\r\033[K')
            sys.stderr.flush()


def read_outcomes(stream, total):
    """INDEX STATUS [REASON] lines: {index: (status, reason)}."""
    outcomes = {}
    progress = Progress(total)
    for line in stream:
        index, _, rest = line.decode('ascii', 'replace').strip().partition(' ')
        status, _, reason = rest.partition(' ')
        if not index.isdigit():
            continue
        status = int(status) if status.isdigit() else None
        try:
            reason = json.loads(reason) if reason else None
        except ValueError:
            reason = 'its job wrote no readable reason'
        outcomes[int(index)] = (status, reason)
        progress.count(status)
    progress.close()
    return outcomes


def run_jobs(campaign, todo, slots, options, stop):
    """Runs `todo` through GNU parallel: {index: (status, reason)}. GNU
    parallel starts at once; the runs' folders are made ready meanwhile."""
    work = tempfile.mkdtemp(prefix='scanfit-batch.')
    try:
        local_program, host_program = program(options)
        with open(os.path.join(work, 'plan.json'), 'w', encoding='ascii') as stream:
            json.dump({'dir': campaign.folder, 'token': campaign.token, 'slots': slots.remote,
                       'local_slots': slots.local,
                       'shared': options.shared_dir, 'binary': options.binary,
                       'program': host_program,
                       'home_folder': f'{remote.HOME_FOLDER}/{campaign.token}'}, stream)
        jobs = plan_jobs(todo, slots.count)
        argv = parallel_argv(campaign, slots, 3 * max(len(job) for job in jobs))
        try:
            process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       env=environment(work, slots, local_program, options),
                                       process_group=0)
        except OSError as error:
            campaigns.say(f'cannot run GNU parallel: {error.strerror}')
            return {}
        stop.watch(process.pid)
        failed = {}
        feeder = threading.Thread(target=feed, args=(process.stdin, jobs, failed, stop))
        feeder.start()
        try:
            outcomes = read_outcomes(process.stdout, len(todo))
        except BaseException:
            process.send_signal(signal.SIGINT)   # its jobs end as on a stop
            raise
        finally:
            process.wait()
            feeder.join()
            stop.release()
        return {**outcomes, **failed}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def run_campaign(campaign, options, stop):
    todo = campaigns.to_run(campaign, options.resume)
    outcomes = {}
    slots = Slots()
    if todo and stop.signal is None:
        slots = plan_slots(options, campaign.token)
    sent = bool(slots.remote) and not options.shared_dir
    staging = os.path.join(campaign.folder, campaigns.STAGING)
    try:
        if todo and stop.signal is None:
            if not slots.count:
                outcomes = {run.index: (None, 'no host could be reached') for run in todo}
            else:
                if slots.remote:
                    os.makedirs(os.path.join(staging, campaign.token), exist_ok=True)
                outcomes = run_jobs(campaign, todo, slots, options, stop)
    finally:
        if sent:
            remote.farewell(list(dict.fromkeys(s['host'] for s in slots.remote)),
                            f'{remote.HOME_FOLDER}/{campaign.token}')
        shutil.rmtree(os.path.join(staging, campaign.token), ignore_errors=True)
        try:
            os.rmdir(staging)
        except OSError:
            pass
    campaigns.mark_stopped(outcomes, todo, stop)
    return campaigns.finish(campaign, outcomes, stop)
