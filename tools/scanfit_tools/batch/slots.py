"""Job slots of a campaign: this machine's first, then each other host's, so
many per host as runs go there at a time, each with the threads of its runs."""

import os

from .. import runs
from . import campaign as campaigns
from . import hosts as remote


def processors():
    return len(os.sched_getaffinity(0))


class Slots:
    """Job slots: this machine's, then each other host's."""

    def __init__(self):
        self.local = 0
        self.local_threads = 1
        self.remote = []        # {'host': name, 'threads': N} per slot

    @property
    def count(self):
        return self.local + len(self.remote)


def plan_slots(options, token):
    """The job slots of the hosts; other hosts are asked for their processors
    first (and get the campaign's folder there), and those that cannot be
    reached are left out, with a message."""
    slots = Slots()
    entries = options.hosts or [(None, ':')]
    for count, host in entries:
        if host == ':':
            slots.local = count or options.jobs or processors()
    if slots.local:
        slots.local_threads = options.threads or max(1, processors() // slots.local)
    others = list(dict.fromkeys(host for _, host in entries if host != ':'))
    if not others:
        return slots
    folder = None if options.shared_dir else f'{remote.HOME_FOLDER}/{token}'
    probes = remote.probe(others, folder)
    counts = {host: count for count, host in entries}
    for host in others:
        cpus, problem = remote.probed(probes[host])
        if problem:
            campaigns.say(f'{runs.printable(host)}: left out, it cannot be reached: '
                          f'{runs.printable(problem)}')
            continue
        many = counts[host] or options.jobs or cpus
        threads = options.threads or max(1, cpus // many)
        slots.remote += [{'host': host, 'threads': threads}] * many
    return slots
