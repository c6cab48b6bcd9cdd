"""scanfit-batch as a user runs it: campaigns on this machine and through stand-in
hosts (tests/tools/stand_in_ssh, as PARALLEL_SSH), with names that are code to
a shell or to GNU parallel, a copy back to a full disk, resumes and stops."""

import json
import os
import signal
import subprocess
import time

import pytest
from conftest import (BATCH, REPOSITORY, STAND_IN_SSH, generate, outputs, plain_run,
                      program, run_quicklook, summary)


# Each would run code if a shell or GNU parallel read it; then X appears.
HOSTILE = ["it's a \"quote\"", '$(touch X)', '`touch X`', 'x;touch X;', 'back\\slash',
           'new\nline', 'tab\there', '-dash', '{}', '{#}', '{= system("touch X") =}',
           "'lead", 'c$\\foo{$', os.fsdecode(b'b\xffad'), 'summary', 'joblog', 'staging']


def batch(*arguments, cwd, hosts=None, scanfit=None, stdin=None):
    environment = dict(os.environ, SCANFIT=scanfit or program('SCANFIT_BINARY', 'scanfit'),
                       PARALLEL_SSH=str(STAND_IN_SSH), XDG_CACHE_HOME=str(cwd / 'cache'))
    if hosts:
        environment['HOSTS'] = str(hosts)
    return subprocess.run(['/usr/bin/python3', BATCH, *arguments], cwd=cwd, env=environment,
                          input=stdin, capture_output=True, timeout=120)


def make_hosts(tmp_path, *names):
    for name in names:
        (tmp_path / 'hosts' / name).mkdir(parents=True)
    return tmp_path / 'hosts'


def left_on(hosts):
    return sorted(str(p.relative_to(hosts)) for p in hosts.rglob('*') if p.parent != hosts)


def test_hostile_names_run_here_and_on_hosts_as_plain_runs(tmp_path):
    where = tmp_path / 'in\ndir'
    given = [f'in\ndir/{name}.txt' for name in HOSTILE]
    for seed, name in enumerate(given, 1):
        generate(tmp_path / name, seed)
    hosts = make_hosts(tmp_path, 'h1', 'h2')
    camp = 'c{= system("touch X") =}\n$(touch X){}'
    done = batch('--hosts', ':,h1,h2', '--jobs', '1', '--output-dir', camp, '--', *given,
                 cwd=tmp_path, hosts=hosts)
    assert not [p for p in tmp_path.rglob('X')], 'a name ran as code'
    entries = summary(tmp_path / camp)
    assert [os.fsencode(e['name']) for e in entries] == [os.fsencode(n) for n in HOSTILE]
    assert [os.fsencode(e['input']) for e in entries] == [os.fsencode(g) for g in given]
    # Each input has the outcome of a plain run of it: the same outputs, or a
    # failure (scanfit may not open every name).
    ran = set()
    for name, entry in zip(HOSTILE, entries):
        plain = plain_run(where / f'{name}.txt', tmp_path / 'plain' / name)
        assert entry['done'] == (plain is not None), (name, entry['reason'])
        if plain is not None:
            assert outputs(tmp_path / camp / name) == plain, name
        record = json.loads((tmp_path / camp / name / 'run.json').read_text())
        ran.add(record.get('host', ':'))
    assert done.returncode == (0 if all(e['done'] for e in entries) else 1), done.stderr
    assert ran == {':', 'h1', 'h2'}
    assert left_on(hosts) == []
    assert not (tmp_path / camp / '.staging').exists()
    tsv = (tmp_path / camp / 'summary.tsv').read_bytes().split(b'\n')
    assert len(tsv) == len(HOSTILE) + 2 and tsv[-1] == b''
    assert tsv[7].startswith(b'in\\ndir/tab\\there.txt\ttab\\there\tyes\t0\t\t2000\t')
    assert tsv[14].startswith(b'in\\ndir/b\\xffad.txt\tb\\xffad\t')
    figure = run_quicklook('-o', tmp_path / 'campaign.png', tmp_path / camp)
    assert figure.returncode == 0, figure.stderr


@pytest.mark.skipif(os.geteuid() != 0, reason='mounts a tmpfs')
def test_a_copy_back_to_a_full_disk_fails_and_resume_runs_it_again(tmp_path):
    flights = [generate(tmp_path / f'f{k}.txt', k, points=20000).name for k in (1, 2)]
    hosts = make_hosts(tmp_path, 'h1')
    disk = tmp_path / 'disk'
    disk.mkdir()
    subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=256k', 'tmpfs', disk], check=True)
    try:
        full = batch('--hosts', 'h1', '--output-dir', 'disk/camp', *flights,
                     cwd=tmp_path, hosts=hosts)
        assert full.returncode == 1
        err = full.stderr.decode()
        assert err.count('copy back from h1 failed: ') == 2 and 'No space left on device' in err
        assert [e['done'] for e in summary(disk / 'camp')] == [False, False]
        assert left_on(hosts) == [] and not (disk / 'camp' / '.staging').exists()
        subprocess.run(['mount', '-o', 'remount,size=64m', disk], check=True)
        again = batch('--resume', '--hosts', 'h1', '--output-dir', 'disk/camp', *flights,
                      cwd=tmp_path, hosts=hosts)
        assert again.returncode == 0, again.stderr
        for flight in flights:
            name = flight[:-4]
            assert outputs(disk / 'camp' / name) == plain_run(tmp_path / flight,
                                                             tmp_path / 'plain' / name)
    finally:
        subprocess.run(['umount', disk])


def counted_rows(path):
    return path.read_bytes().count(b'\n')


def test_resume_runs_what_is_not_done_of_this_very_input(tmp_path):
    given = [generate(tmp_path / f'flight{k}.txt', k, points=3000).name for k in range(1, 7)]
    given.insert(3, 'late.txt')   # not there yet
    first = batch('--jobs', '2', '--output-dir', 'camp', *given, cwd=tmp_path)
    assert first.returncode == 1
    assert first.stderr.decode() == ('scanfit-batch: failed: late.txt (status 255): Cannot read '
                                     f'from: {tmp_path}/late.txt: No such file or directory\n')
    reports = {p: (p / 'report.json').stat().st_ino for p in (tmp_path / 'camp').glob('flight*')}
    # Resumed with the list turned round and a flight added: the two not done
    # run, and nothing else.
    generate(tmp_path / 'late.txt', 7, points=3000)
    given = given[::-1] + [generate(tmp_path / 'added.txt', 8, points=3000).name]
    resumed = batch('--resume', '--output-dir=camp', *given, cwd=tmp_path)
    assert resumed.returncode == 0, resumed.stderr
    assert {p: (p / 'report.json').stat().st_ino for p in reports} == reports
    entries = summary(tmp_path / 'camp')
    assert [e['input'] for e in entries] == given and all(e['done'] for e in entries)
    for entry in entries:
        folder = tmp_path / 'camp' / entry['name']
        assert outputs(folder) == plain_run(tmp_path / entry['input'],
                                            tmp_path / 'plain' / entry['name'])
        points = [counted_rows(folder / f'{entry["name"]}_{c}.scn') for c in ('fit', 'high', 'low')]
        assert (entry['points'], entry['highPoints'], entry['lowPoints']) == \
            (sum(points), points[1], points[2])
        assert entry['fittedLines'] == counted_rows(folder / f'{entry["name"]}.fit')

    # Another input of one NAME is another run; so is a run whose output was
    # cut short, and what it left is gone first.
    generate(tmp_path / 'other' / 'flight1.txt', 9, points=500)
    (tmp_path / 'camp' / 'flight2' / 'flight2.fit').write_bytes(b'')
    (tmp_path / 'camp' / 'flight2' / 'stray').write_bytes(b'')
    again = batch('--resume', '--output-dir=camp', 'other/flight1.txt', 'flight2.txt',
                  cwd=tmp_path)
    assert again.returncode == 0, again.stderr
    assert [e['points'] for e in summary(tmp_path / 'camp')] == [500, 3000]
    assert not (tmp_path / 'camp' / 'flight2' / 'stray').exists()

    # A rerun that fails leaves nothing to be taken for a success.
    (tmp_path / 'flight3.txt').rename(tmp_path / 'gone.txt')
    assert batch('--output-dir=camp', 'flight3.txt', cwd=tmp_path).returncode == 1
    later = batch('--summary-only', '--output-dir=camp', 'flight3.txt', 'flight4.txt',
                  cwd=tmp_path)
    assert later.returncode == 1
    assert later.stderr.decode().startswith('scanfit-batch: failed: flight3.txt (status 255): '
                                            'Cannot read from: ')
    assert later.stderr.count(b'\n') == 1


@pytest.mark.parametrize('arguments, stdin, message', [
    (['--output-dir', 'camp', '-'], b'a/x.txt\nb/x.bin',
     'a/x.txt and b/x.bin would both write to camp/x'),
    (['--null', '--output-dir', 'camp', '-'], b'a\nb.txt\0b/.txt\0',
     "b/.txt has no name before its first '.'"),
    (['--output-dir', 'camp', '--wait', 'a.txt'], None, '--wait goes with --slurm'),
    (['--output-dir', 'camp', '--jobs', '0', 'a.txt'], None,
     "--jobs takes a whole number from 1 on, not '0'"),
    (['--output-dir', 'camp', '--hosts', ':,-oProxyCommand=x', 'a.txt'], None,
     "--hosts: '-oProxyCommand=x' is not a host name"),
])
def test_command_line_errors_come_before_anything_runs(tmp_path, arguments, stdin, message):
    done = batch(*arguments, cwd=tmp_path, stdin=stdin)
    assert (done.returncode, done.stderr.decode()) == \
        (2, f"scanfit-batch: {message}\nTry 'scanfit-batch --help'.\n")
    assert not (tmp_path / 'camp').exists()


def test_a_stop_ends_every_run_and_leaves_the_hosts_clean(tmp_path):
    """The runs are stand-ins that note their start and wait; the stop comes
    when this machine and both hosts run one."""
    flights = [generate(tmp_path / f'f{k}.txt', k).name for k in range(1, 7)]
    started = tmp_path / 'started'
    started.mkdir()
    slow = tmp_path / 'slow-scanfit'
    slow.write_text(f'#!/bin/sh\nmktemp -p {started}\nexec sleep 60\n')
    slow.chmod(0o755)
    hosts = make_hosts(tmp_path, 'h1', 'h2')
    environment = dict(os.environ, SCANFIT=str(slow), PARALLEL_SSH=str(STAND_IN_SSH),
                       HOSTS=str(hosts), XDG_CACHE_HOME=str(tmp_path / 'cache'))
    running = subprocess.Popen(['/usr/bin/python3', BATCH, '--hosts', ':,h1,h2', '--jobs', '1',
                                '--output-dir', 'camp', *flights], cwd=tmp_path,
                               env=environment, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while len(list(started.iterdir())) < 3 and time.monotonic() < deadline:
        time.sleep(0.05)
    running.send_signal(signal.SIGINT)
    assert running.wait(timeout=60) == 130
    assert running.stderr.read().decode() == 'scanfit-batch: stopped: 6 runs did not finish\n'
    assert [e['reason'] for e in summary(tmp_path / 'camp')] == ['stopped'] * 6
    assert left_on(hosts) == [] and not (tmp_path / 'camp' / '.staging').exists()
    assert not list((tmp_path / 'camp').glob('*/report.json'))


def test_hosts_sharing_the_folders_write_in_place(tmp_path):
    flights = [generate(tmp_path / f'f{k}.bin', k, form='binary').name for k in (1, 2)]
    hosts = make_hosts(tmp_path, 'h1')
    done = batch('--binary', '--hosts', 'h1,h9', '--shared-dir', '--output-dir', 'camp',
                 *flights, cwd=tmp_path, hosts=hosts)
    assert done.returncode == 0, done.stderr
    assert done.stderr.decode() == ('scanfit-batch: h9: left out, it cannot be reached: '
                                    'ssh: connect to host h9 port 22: Connection refused\n')
    for flight in flights:
        name = flight[:-4]
        assert outputs(tmp_path / 'camp' / name) == \
            plain_run(tmp_path / flight, tmp_path / 'plain' / name, binary=True)
    assert left_on(hosts) == [] and not (tmp_path / 'camp' / '.staging').exists()


def test_help_and_manual_page():
    done = subprocess.run(['/usr/bin/python3', BATCH, '--help'], capture_output=True)
    assert done.returncode == 0 and done.stdout.startswith(b'Usage: scanfit-batch [OPTION]')
    page = subprocess.run(['man', '--warnings', '-E', 'UTF-8', '-l',
                           REPOSITORY / 'doc' / 'scanfit-batch.1'], capture_output=True,
                          env=dict(os.environ, MANWIDTH='80'))
    assert (page.returncode, page.stderr) == (0, b'')
    assert b'--sbatch-arg=ARG' in page.stdout
