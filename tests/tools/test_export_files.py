import csv
import io
import os
import shutil
import subprocess
import sys

import pytest
from conftest import EXPORT, input_line_sizes, ogrinfo, run_export, write_rows


def point_row(time, latitude, longitude, elevation, sweep, residual, sigma):
    """A .scn row as scanfit writes it: a value wider than its field is whole."""
    return (f'{time:9.6f}{latitude:11.6f}{longitude:12.6f}{elevation:10.3f}{146:4d}{sweep:4d}'
            f'{residual:10.3f}{sigma:10.3f}')


def read_csv(path):
    return list(csv.DictReader(io.StringIO(path.read_bytes().decode('utf-8', 'surrogateescape'))))


def test_values_wider_than_their_fields_are_exported_as_written(tmp_path):
    # A fitted line of 12 points, all at one time, whose slope and intercept
    # run into each other, as on real data, then the last line (never fitted);
    # a high point whose residual runs into its sweep index; a nadir record
    # whose elevation touches the longitude.
    run = tmp_path / 'run'
    run.mkdir()
    write_rows(run / 'f.fit', ['20.161848330592.406-28850680.000     0.020'])
    write_rows(run / 'f_fit.ver', ['20.161848  78.806526   19.020653-28850680.000'])
    fit = [point_row(20.161848, 78.8, 19.0 + k / 1000, 1.0, k + 1, 0.001, 0.02)
           for k in range(11)]
    fit += [point_row(20.161860, 78.8, 19.3, 1.0, k, 0.0, 0.0) for k in (1, 2)]
    write_rows(run / 'f_fit.scn', fit)
    write_rows(run / 'f_high.scn', [point_row(20.161848, 78.8, 19.2, 1000.5, 12, 1298941.875,
                                              0.02)])
    write_rows(run / 'f_low.scn', [])
    assert '  121298941.875' in (run / 'f_high.scn').read_text()
    result = run_export('--format', 'csv', '--points', 'high', '-o', tmp_path / 'x.csv', run)
    assert result.returncode == 0, result.stderr
    [line] = read_csv(tmp_path / 'x_scan_lines.csv')
    assert (line['time'], line['slope'], line['intercept'], line['sigma']) == (
        '20.161848', '330592.406', '-28850680.000', '0.020')
    assert (line['fit_points'], line['high_points'], line['low_points']) == ('11', '1', '0')
    assert (line['first_longitude'], line['last_longitude']) == ('19.000000', '19.200000')
    [nadir] = read_csv(tmp_path / 'x_nadir.csv')
    assert (nadir['longitude'], nadir['elevation']) == ('19.020653', '-28850680.000')
    [point] = read_csv(tmp_path / 'x_points.csv')
    assert (point['class'], point['line'], point['sweep'], point['residual']) == (
        'high', '1', '12', '1298941.875')


@pytest.mark.parametrize('flight', ['ridge', 'fjord'])
def test_scan_lines_are_rebuilt_as_the_input_cuts_them(campaign, tmp_path, flight):
    """Each fitted line's points, counted class by class from the point files,
    are the points of that line of the input (text and binary runs)."""
    result = run_export('--format', 'csv', '-o', tmp_path / 'x.csv', campaign / flight)
    assert result.returncode == 0, result.stderr
    sizes = input_line_sizes(next(campaign.glob(f'{flight}.*')))
    fitted = [size for size in sizes[:-1] if size > 10]
    lines = read_csv(tmp_path / 'x_scan_lines.csv')
    assert [sum(int(line[f'{c}_points']) for c in ('fit', 'high', 'low')) for line in lines] \
        == fitted


def test_names_that_are_not_utf8_are_exported(sample_run, tmp_path):
    name = b'fl\xffght'
    run = tmp_path / 'run'
    run.mkdir()
    for path in sample_run.glob('sample_flight*'):
        target = path.name.encode().replace(b'sample_flight', name)
        shutil.copy(path, run / os.fsdecode(target))
    for form, written in (('gpkg', [name + b'.gpkg']),
                          ('csv', [name + f'_{layer}.csv'.encode()
                                   for layer in ('nadir', 'track', 'scan_lines')])):
        result = run_export('--format', form, run, cwd=tmp_path)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split(b'\n')[:-1] == written
    # GeoPackage text is UTF-8: the byte that is not is written as \xff;
    # CSV holds the name's bytes as they are.
    assert 'flight (String) = fl\\xffght' in ogrinfo(tmp_path / os.fsdecode(name + b'.gpkg'),
                                                     'nadir')
    nadir = (tmp_path / os.fsdecode(name + b'_nadir.csv')).read_bytes().split(b'\n')
    assert nadir[1].startswith(b'"fl\xffght",1,')


def test_a_failed_export_leaves_the_earlier_file_and_says_why_in_one_line(sample_run,
                                                                         tmp_path):
    output = tmp_path / 'flight.gpkg'
    output.write_text('an earlier export')
    broken = tmp_path / 'broken'
    shutil.copytree(sample_run, broken)
    with open(broken / 'sample_flight.fit', 'a') as stream:
        stream.write('not a row of scanfit\n')
    for arguments, status, words in (
            ((broken,), 1, 'row 19'),
            ((tmp_path / 'nothing',), 1, 'nothing'),
            (('--points', 'fit,mid', sample_run), 2, 'fit, high and low'),
            (('--format', 'las', sample_run), 2, '.gpkg'),
            (('-o', sample_run / 'sample_flight.fit', sample_run), 1, 'the export reads'),
    ):
        result = run_export('-o', output, *arguments)
        message = result.stderr.decode()
        assert result.returncode == status and not result.stdout, message
        assert message.startswith('scanfit-export: ') and message.count('\n') == 1, message
        assert words in message
    assert output.read_text() == 'an earlier export'
    assert (sample_run / 'sample_flight.fit').read_text().count('\n') == 18
    # A successful export replaces it, and leaves nothing else behind.
    assert run_export('-o', output, sample_run).returncode == 0
    assert output.read_bytes().startswith(b'SQLite format 3\0')
    assert sorted(path.name for path in tmp_path.iterdir()) == ['broken', 'flight.gpkg']


def test_a_full_disk_fails_the_export_and_leaves_nothing(sample_run, tmp_path):
    """On a small tmpfs of its own (a mount namespace), in each kind of writer:
    OGR to one file, OGR to a file per layer (whose driver reports no failed
    write), and LAS."""
    if subprocess.run(['unshare', '--mount', 'true'], capture_output=True).returncode:
        pytest.skip('a mount namespace for a small tmpfs needs root')
    disk = tmp_path / 'disk'
    disk.mkdir()
    script = ('mount -t tmpfs -o size=64k tmpfs "$1" || exit 99; disk=$1; shift; '
              '"$@"; status=$?; ls -A "$disk" >&2; exit $status')
    for form in ('gpkg', 'fgb', 'las'):
        result = subprocess.run(
            ['unshare', '--mount', 'sh', '-c', script, 'sh', disk, sys.executable, EXPORT,
             '--format', form, '--points', 'fit', '-o', disk / f'x.{form}', sample_run],
            capture_output=True, timeout=120)
        message = result.stderr.decode()
        assert result.returncode == 1 and not result.stdout, message
        assert message.startswith(f'scanfit-export: {disk}/x') and message.count('\n') == 1
        assert message.endswith('No space left on device\n')
