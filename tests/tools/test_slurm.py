"""scanfit-batch --slurm on a Slurm cluster of one node brought up on this
machine (slurm_cluster.py): a campaign with one input missing, resumed."""

import os
import re
import subprocess
import tempfile

import pytest
from conftest import BATCH, generate, outputs, plain_run, program, summary
from slurm_cluster import one_node_cluster


@pytest.mark.skipif(os.geteuid() != 0, reason='the Slurm and munge daemons run as root')
def test_a_campaign_on_slurm_exits_1_for_a_missing_input_and_resumes_it(tmp_path):
    flights = [generate(tmp_path / name, k).name
               for k, name in enumerate(['f1.txt', "it's f$(touch X) 2.txt"], 1)] + ['late.txt']
    with tempfile.TemporaryDirectory() as folder, one_node_cluster(folder) as environment:
        environment['SCANFIT'] = program('SCANFIT_BINARY', 'scanfit')

        def slurm(*arguments):
            return subprocess.run(['/usr/bin/python3', BATCH, '--slurm', '--wait', '--jobs',
                                   '2', '--output-dir', 'camp', *arguments], cwd=tmp_path,
                                  env=environment, capture_output=True, timeout=120)
        first = slurm('--threads', '1', *flights)
        assert first.returncode == 1, first.stderr
        assert first.stderr.decode().startswith(
            'scanfit-batch: failed: late.txt (status 255): Cannot read from: ')
        generate(tmp_path / 'late.txt', 3)
        resumed = slurm('--resume', *flights)
        assert resumed.returncode == 0, resumed.stderr
        assert [e['done'] for e in summary(tmp_path / 'camp')] == [True] * 3
        # A request the node cannot meet fails at once, rather than waiting forever.
        refused = slurm('--threads', '1024', 'f1.txt')
        assert refused.returncode == 1
        assert b'More processors requested than permitted' in refused.stderr
        # Without --wait: the job ids, at once.
        generate(tmp_path / 'f4.txt', 4)
        submitted = subprocess.run(['/usr/bin/python3', BATCH, '--slurm', '--output-dir',
                                    'camp', 'f4.txt'], cwd=tmp_path, env=environment,
                                   capture_output=True, timeout=60)
        assert submitted.returncode == 0
        assert re.fullmatch(rb'array \d+\nsummary \d+\n', submitted.stdout)
    assert not list(tmp_path.rglob('X'))
    for flight in flights:
        name = flight[:-4]
        assert outputs(tmp_path / 'camp' / name) == \
            plain_run(tmp_path / flight, tmp_path / 'plain' / name)
