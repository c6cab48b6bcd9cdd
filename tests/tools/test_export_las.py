import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest
from conftest import REPOSITORY, program, run_export

READER = REPOSITORY / 'tests' / 'tools' / 'las_reader'


@pytest.fixture(scope='session')
def las_reader():
    """The npm package copc, an independent LAS reader, installed under node
    into the build tree (npm's own cache keeps the download)."""
    node, npm = shutil.which('node'), shutil.which('npm')
    assert node and npm, 'node and npm are needed (tools/install-deps.sh installs them)'
    folder = Path(program('SCANFIT_BINARY', 'scanfit')).parent / 'las_reader'
    folder.mkdir(exist_ok=True)
    lock = (READER / 'package-lock.json').read_bytes()
    installed = folder / 'node_modules' / 'copc'
    if not installed.is_dir() or (folder / 'package-lock.json').read_bytes() != lock:
        for name in ('package.json', 'package-lock.json'):
            shutil.copy(READER / name, folder / name)
        subprocess.run([npm, 'ci', '--no-audit', '--no-fund', '--loglevel=error'], cwd=folder,
                       check=True, capture_output=True, timeout=300)

    def read(path):
        result = subprocess.run([node, str(READER / 'read_las.js'), str(path)],
                                env=dict(os.environ, NODE_PATH=str(folder / 'node_modules')),
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 0, result.stderr
        return json.loads(result.stdout)
    return read


def test_sample_flight_reads_back_with_its_points_classes_and_bounds(sample_run, tmp_path,
                                                                     las_reader):
    report = json.loads((sample_run / 'report.json').read_text())
    result = run_export('-o', tmp_path / 'flight.las', sample_run)
    assert result.returncode == 0, result.stderr
    las = las_reader(tmp_path / 'flight.las')
    assert (las['version'], las['pointFormat'], las['viewCount']) == ('1.4', 6, 4000)
    assert las['pointCount'] == report['points'] and las['pointCountByReturn'][0] == 4000
    classes = report['classes']
    assert las['classes'] == {'1': classes['fit'], '18': classes['high'], '7': classes['low']}
    # Bounds of the header and of the points themselves: the report's, to the
    # 6 decimals of degrees and 3 of metres that the point files hold.
    bounds = report['bounds']
    for axis, name, tolerance in (('X', 'longitude', 1e-6), ('Y', 'latitude', 1e-6),
                                  ('Z', 'elevation', 1e-3)):
        expected = [bounds[name]['min'], bounds[name]['max']]
        assert las['bounds'][axis] == pytest.approx(expected, abs=tolerance)
    assert [las['min'], las['max']] == [[las['bounds'][a][i] for a in 'XYZ'] for i in (0, 1)]
    assert las['globalEncoding'] & 16 and 'AUTHORITY["EPSG","4326"]]' in las['wkt']
    assert las['vlrs'] == ['LASF_Projection/2112', 'LASF_Spec/4']
    # The first point, from the first row of the fit set, in flight order.
    time, latitude, longitude, elevation, _, sweep, residual, sigma = map(
        float, (sample_run / 'sample_flight_fit.scn').read_text().split('\n', 1)[0].split())
    first = las['first']
    assert (first['X'], first['Y'], first['Z']) == pytest.approx(
        (longitude, latitude, elevation), abs=1e-9)
    assert first['GpsTime'] == pytest.approx(time * 3600, abs=1e-6)
    assert (first['residual'], first['line_sigma'], first['scan_line'], first['sweep_index']) \
        == (residual, sigma, 1, sweep)
    assert (first['Classification'], first['ReturnNumber'], first['NumberOfReturns']) == (1, 1, 1)


def test_campaign_points_carry_their_flight_as_point_source(campaign, tmp_path, las_reader):
    result = run_export('--format', 'las', '--points', 'fit,low', '-o', tmp_path / 'all.las',
                        campaign)
    assert result.returncode == 0, result.stderr
    las = las_reader(tmp_path / 'all.las')
    # Rows of the summary: ridge, fjord (binary), coast (seven columns), empty, pair.
    expected = {}
    for number, name in enumerate(('ridge', 'fjord', 'coast', 'empty', 'pair'), 1):
        classes = json.loads((campaign / name / 'report.json').read_text())['classes']
        if classes['fit'] + classes['low']:
            expected[str(number)] = classes['fit'] + classes['low']
    assert las['sources'] == expected
    assert '18' not in las['classes']
