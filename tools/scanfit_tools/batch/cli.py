"""Command line of scanfit-batch."""

import sys

from . import campaign as campaigns
from . import options as command_line
from .stops import Stop


def _refuse(message):
    sys.stderr.write(f"scanfit-batch: {message}\nTry 'scanfit-batch --help'.\n")
    return 2


def _internal(argv):
    """Parts of a campaign that run in processes of their own: a job for
    another host (under GNU parallel), a Slurm task and the summary job."""
    if argv[0] == '--job-on-host':
        from . import host_job
        return host_job.main(argv[1:])
    from . import slurm
    return slurm.task() if argv[0] == '--slurm-task' else slurm.summary_job()


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] in (['--job-on-host'], ['--slurm-task'], ['--slurm-summary']):
        return _internal(argv)
    stop = Stop()
    try:
        options = command_line.parse(argv)
        if options.help:
            sys.stdout.write(command_line.USAGE)
            return 0
        campaign = campaigns.plan(options.output_dir, options.inputs)
    except command_line.UsageError as error:
        return _refuse(error)
    try:
        campaigns.make_folder(campaign)
    except OSError as error:
        campaigns.say(f'cannot make {campaigns.runs.printable(options.output_dir)}: '
                      f'{error.strerror}')
        return 1
    if options.summary_only:
        return campaigns.finish(campaign, {}, stop)
    if options.slurm:
        from . import slurm
        return slurm.submit(campaign, options, stop)
    from . import jobs
    return jobs.run_campaign(campaign, options, stop)
