"""One job of a campaign on another host, run on this machine by GNU parallel
for a job slot of that host: its inputs are sent, run there one after the
other, and their outputs brought back into DIR/.staging/, checked, and put
in place as DIR/NAME/ with one rename each. The host's copies go in any
case: after the job, when it fails, and when the campaign is stopped.

With --shared-dir the host reads the inputs and writes into DIR/NAME/ by
the same paths as here, and nothing travels."""

import json
import os
import shutil

from .. import runs
from . import campaign as campaigns
from . import hosts
from .stops import Stop


class Job:
    def __init__(self, plan, slot, sequence, triples):
        self.plan = plan
        self.host = plan['slots'][slot - plan['local_slots'] - 1]   # after this machine's
        self.stop = Stop()
        self.staging = os.path.join(plan['dir'], campaigns.STAGING, plan['token'], sequence)
        # Where the host works: its copies, or (sharing the folders) only the
        # note of the run going on.
        self.work = self.staging if plan['shared'] else f'{plan["home_folder"]}/{sequence}'
        self.runs = [(int(triples[k]), triples[k + 1], triples[k + 2])
                     for k in range(0, len(triples) - 2, 3) if triples[k]]   # not padding
        self.outcomes = {}
        self.failed_run = 'did not finish'

    @property
    def name(self):
        return self.host['host']

    def options(self):
        return ('-b ' if self.plan['binary'] else '') + f'--threads={self.host["threads"]}'

    def run_all(self, pairs):
        """Runs the pairs (input, output folder) there: {position: status} of
        those that ended; the others fail with ssh's or the shell's message."""
        argv = hosts.ssh_argv(self.name, hosts.RUNS, self.work, self.plan['program'],
                              self.options(), *[word for pair in pairs for word in pair])
        status, out, err = hosts.call(argv)
        ended = {}
        for line in out.decode('ascii', 'replace').splitlines():
            k, _, value = line.partition(' ')
            if k.isdigit() and value.isdigit():
                ended[int(k) - 1] = int(value)
        if status != 0 and self.stop.signal is None:
            self.failed_run = f'running on {self.name} failed: {hosts.message(err)}'
        return ended

    def fail_the_rest(self, reason, status=None):
        for index, _, _ in self.runs:
            self.outcomes.setdefault(index, (status, reason))

    def shared(self):
        os.makedirs(self.work, exist_ok=True)
        ended = self.run_all([(path, folder) for _, path, folder in self.runs])
        if self.stop.signal is not None:
            return
        for k, status in ended.items():
            index, _, folder = self.runs[k]
            runs.write_record(folder, {'status': status})
            self.outcomes[index] = (status, None)
        self.fail_the_rest(self.failed_run)

    def sent(self):
        paths = [path for _, path, _ in self.runs]
        status, _, err = hosts.call(hosts.rsync_argv('-t', '-L', '--', *paths,
                                                     f'{self.name}:{self.work}/'))
        if self.stop.signal is not None:
            return
        if status != 0:
            return self.fail_the_rest(f'sending to {self.name} failed: '
                                      f'{hosts.message(err, "rsync:")}')
        pairs = [(os.path.basename(path), f'out/{k + 1}') for k, path in enumerate(paths)]
        ended = self.run_all(pairs)
        if self.stop.signal is not None:
            return
        if not ended:
            return self.fail_the_rest(self.failed_run)
        status, _, err = hosts.call(hosts.rsync_argv(
            '-r', '-t', '--', f'{self.name}:{self.work}/out/', self.staging + '/'))
        if self.stop.signal is not None:
            return
        failed = None if status == 0 else \
            f'copy back from {self.name} failed: {hosts.message(err, "rsync:")}'
        for k, run_status in ended.items():
            self.settle(self.runs[k], run_status, os.path.join(self.staging, str(k + 1)), failed)
        self.fail_the_rest(self.failed_run)

    def settle(self, run, status, brought, failed):
        """Puts one run brought back in place when its outputs check out;
        else keeps only its messages, with the reason in its record."""
        index, path, folder = run
        record = {'status': status, 'host': self.name, 'input': path}
        reason = failed
        if failed is None:
            runs.write_record(brought, record)
            why = runs.verify_run(brought, path)
            if status == 0 and why is None:
                try:
                    put_in_place(brought, folder)
                    self.outcomes[index] = (status, None)
                    return
                except OSError as error:
                    why = f'it cannot be put in place: {error.strerror}'
            if status == 0:
                reason = f'ended with status 0, but what came back does not check out: {why}'
            try:
                shutil.copyfile(os.path.join(brought, runs.LOG), os.path.join(folder, runs.LOG))
            except OSError:
                pass
        self.outcomes[index] = (status, reason)
        try:
            runs.write_record(folder, dict(record, reason=reason))
        except OSError:
            pass   # the reason still reaches the summary through this job's line

    def clean_up(self):
        hosts.call(hosts.ssh_argv(self.name, hosts.CLEANUP, self.work))
        shutil.rmtree(self.staging, ignore_errors=True)

    def tell(self):
        """One line per run that ended, for the campaign: INDEX STATUS REASON."""
        for index, (status, reason) in sorted(self.outcomes.items()):
            # Short enough to be written at once, never mixed with another job's.
            reason = reason[:500] if reason else reason
            line = f'{index} {"-" if status is None else status} {json.dumps(reason)}\n'
            os.write(1, line.encode('ascii'))


def put_in_place(brought, folder):
    """DIR/NAME/ becomes the folder brought back, with one rename over the
    empty folder made for the run (or, when something came into it since,
    over nothing once that is gone)."""
    try:
        os.rename(brought, folder)
    except OSError:
        shutil.rmtree(folder, ignore_errors=True)
        os.rename(brought, folder)


def main(triples):
    plan_path = os.path.join(os.environ['SCANFIT_BATCH_WORK'], 'plan.json')
    with open(plan_path, encoding='ascii') as stream:
        plan = json.load(stream)
    job = Job(plan, int(os.environ['PARALLEL_JOBSLOT']), os.environ['PARALLEL_SEQ'], triples)
    if not job.runs:
        return 0   # a job of runs whose folders could not be made
    try:
        job.shared() if plan['shared'] else job.sent()
    finally:
        job.clean_up()
    if job.stop.signal is not None:
        return job.stop.status
    job.tell()
    return 0
