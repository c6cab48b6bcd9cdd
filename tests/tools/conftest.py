import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

REPOSITORY = Path(__file__).resolve().parents[2]
QUICKLOOK = REPOSITORY / 'tools' / 'scanfit-quicklook'
EXPORT = REPOSITORY / 'tools' / 'scanfit-export'
BATCH = REPOSITORY / 'tools' / 'scanfit-batch'
STAND_IN_SSH = REPOSITORY / 'tests' / 'tools' / 'stand_in_ssh'
OUTPUT_ENDINGS = ('.fit', '_fit.ver', '.scn', '.sbi')
sys.path.insert(0, str(REPOSITORY / 'tools'))


def program(variable, built_name):
    path = os.environ.get(variable) or str(REPOSITORY / 'build' / built_name)
    assert os.access(path, os.X_OK), f'{path} is not built (or set {variable})'
    return path


def write_rows(path, rows):
    """A fixed-width output as scanfit writes it: every row ends in nine blanks."""
    path.write_text(''.join(row + ' ' * 9 + '\n' for row in rows))
    return path


def run_scanfit(input_path, folder, binary=False):
    command = [program('SCANFIT_BINARY', 'scanfit'), '--output-dir', str(folder),
               '--report', str(folder / 'report.json')] + (['-b'] if binary else []) \
        + [str(input_path)]
    subprocess.run(command, check=True, capture_output=True)
    return json.loads((folder / 'report.json').read_text())


def generate(path, seed, points=2000, form='six'):
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run([program('GENFLIGHT_BINARY', 'genflight'), '--points', str(points),
                    '--seed', str(seed), '--format', form, '--output', path], check=True)
    return path


def plain_run(flight, folder, binary=False):
    """The outputs of scanfit run by hand, {file name: bytes}, or None when it fails."""
    folder.mkdir(parents=True)
    done = subprocess.run([program('SCANFIT_BINARY', 'scanfit'), f'--output-dir={folder}',
                           *(['-b'] if binary else []), '--', flight], capture_output=True)
    return {p.name: p.read_bytes() for p in folder.iterdir()} if done.returncode == 0 else None


def outputs(folder):
    return {p.name: p.read_bytes() for p in folder.iterdir() if p.name.endswith(OUTPUT_ENDINGS)}


def summary(folder):
    return json.loads((folder / 'summary.json').read_bytes())


def run_quicklook(*arguments, cwd=None):
    return subprocess.run([sys.executable, str(QUICKLOOK), *map(str, arguments)], cwd=cwd,
                          capture_output=True, text=True, timeout=60)


def run_export(*arguments, cwd=None):
    """scanfit-export's status, standard output and error as bytes (names are bytes)."""
    return subprocess.run([sys.executable, str(EXPORT), *map(os.fsencode, arguments)],
                          cwd=cwd, capture_output=True, timeout=120)


def ogrinfo(*arguments):
    """What GDAL's ogrinfo says of a file: its summary, or the rows of -sql."""
    result = subprocess.run(['ogrinfo', '-ro', *map(os.fsencode, arguments)],
                            capture_output=True, check=True, timeout=60)
    return result.stdout.decode('utf-8', 'backslashreplace')


def input_line_sizes(input_path):
    """Points of every scan line of an input, worked out from the input itself
    (text, or binary records): a new line wherever the sweep index does not
    increase."""
    if input_path.suffix == '.bin':
        raw = input_path.read_bytes()
        sweeps = [raw[i + 17] for i in range(0, len(raw) - 17, 18)]
    else:
        sweeps = [int(line.split()[5]) for line in input_path.read_text().splitlines()]
    sizes = [1] if sweeps else []
    for before, after in zip(sweeps, sweeps[1:]):
        if after > before:
            sizes[-1] += 1
        else:
            sizes.append(1)
    return sizes


@pytest.fixture(scope='session')
def sample_run(tmp_path_factory):
    folder = tmp_path_factory.mktemp('sample') / 'run'
    run_scanfit(REPOSITORY / 'data' / 'sample_flight.txt', folder)
    return folder


def summary_entry(name, given, report=None, status=0, reason=None):
    """An entry of summary.json as scanfit-batch writes it."""
    entry = {'name': name, 'input': given, 'done': report is not None, 'status': status,
             'reason': reason, 'points': None, 'fittedLines': None, 'highPoints': None,
             'lowPoints': None, 'sigmaMedian': None, 'seconds': None, 'compression': None}
    if report:
        entry.update(points=report['points'], fittedLines=report['fittedLines'],
                     highPoints=report['classes']['high'], lowPoints=report['classes']['low'],
                     sigmaMedian=report['sigma']['median'], seconds=0.01)
    return entry


@pytest.fixture(scope='session')
def campaign(tmp_path_factory):
    """A scanfit-batch folder built by hand: three flights, an empty one, one of
    two points (no fitted lines) and one failed input with outputs of an
    earlier run."""
    folder = tmp_path_factory.mktemp('campaign')
    entries = []
    inputs = []
    for name, form, seed in (('ridge', 'six', 21), ('fjord', 'binary', 22), ('coast', 'seven', 23)):
        inputs.append(folder / f'{name}.{"bin" if form == "binary" else "txt"}')
        subprocess.run([program('GENFLIGHT_BINARY', 'genflight'), '--points', '3000', '--seed',
                        str(seed), '--format', form, '--output', str(inputs[-1])], check=True)
    (folder / 'empty.txt').touch()
    (folder / 'pair.txt').write_text(''.join(inputs[0].read_text().splitlines(True)[:2]))
    for flight in inputs + [folder / 'empty.txt', folder / 'pair.txt']:
        report = run_scanfit(flight, folder / flight.stem, binary=flight.suffix == '.bin')
        entries.append(summary_entry(flight.stem, flight.name, report))
    entries.append(summary_entry('lost', 'lost.txt', status=255, reason='Cannot read from: '
                                 'lost.txt: No such file or directory'))
    # What an earlier, successful run of lost.txt left behind.
    (folder / 'lost').mkdir()
    for path in (folder / 'ridge').iterdir():
        shutil.copy(path, folder / 'lost' / path.name.replace('ridge', 'lost'))
    (folder / 'summary.json').write_text(json.dumps(entries))
    return folder
