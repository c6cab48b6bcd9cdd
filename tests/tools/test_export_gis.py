import json
import re

import pytest
from conftest import ogrinfo, run_export


def layers(summary):
    """{layer: (feature count, (xmin, ymin, xmax, ymax))} from ogrinfo -so -al."""
    found = {}
    for block in summary.split('Layer name: ')[1:]:
        name = block.split('\n', 1)[0].strip()
        count = int(re.search(r'Feature Count: (\d+)', block).group(1))
        extent = re.search(r'Extent: \(([-\d.]+), ([-\d.]+)\) - \(([-\d.]+), ([-\d.]+)\)', block)
        found[name] = (count, tuple(map(float, extent.groups())) if extent else None)
    return found


def first_row(path):
    return [float(value) for value in path.read_text().split('\n', 1)[0].split()]


@pytest.mark.parametrize('form', ['gpkg', 'kml'])
def test_sample_flight_layers_hold_the_run_with_longitude_first(sample_run, tmp_path, form):
    report = json.loads((sample_run / 'report.json').read_text())
    result = run_export('--format', form, '--points', 'fit,high,low', sample_run, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout == f'sample_flight.{form}\n'.encode()
    found = layers(ogrinfo('-so', '-al', tmp_path / f'sample_flight.{form}'))
    assert list(found) == ['nadir', 'track', 'scan_lines', 'points']
    nadir = report['nadirRecords']
    assert found['nadir'][0] == nadir['measured'] + nadir['interpolated']
    assert found['scan_lines'][0] == report['fittedLines']
    assert found['points'][0] == report['points']
    assert found['track'][0] >= 1
    # x is the longitude, y the latitude: the points' extent is the report's
    # bounds (to the 6 decimals of the point files), in that order.
    bounds = report['bounds']
    expected = (bounds['longitude']['min'], bounds['latitude']['min'],
                bounds['longitude']['max'], bounds['latitude']['max'])
    assert found['points'][1] == pytest.approx(expected, abs=2e-6)
    # The first nadir record is where the first row of NAME_fit.ver puts it.
    time, latitude, longitude, elevation = first_row(sample_run / 'sample_flight_fit.ver')
    text = ogrinfo('-sql', 'SELECT * FROM nadir WHERE record = 1',
                   tmp_path / f'sample_flight.{form}')
    point = re.search(r'POINT (?:Z )?\(([-\d.]+) ([-\d.]+)', text)
    assert (float(point.group(1)), float(point.group(2))) == (longitude, latitude)
    assert re.search(rf'elevation \(Real\) = {elevation:g}\b', text)


def test_one_layer_per_file_formats_name_each_file_by_its_layer(sample_run, tmp_path):
    for form in ('fgb', 'geojson'):
        result = run_export('--format', form, '-o', tmp_path / f'out.{form}', sample_run)
        assert result.returncode == 0, result.stderr
        names = [f'out_{layer}.{form}' for layer in ('nadir', 'track', 'scan_lines')]
        assert result.stdout.decode().split() == [str(tmp_path / name) for name in names]
        counts = [next(iter(layers(ogrinfo('-so', '-al', tmp_path / name)).values()))[0]
                  for name in names]
        assert counts[0] == 17 and counts[2] == 18
    assert not list(tmp_path.glob('.scanfit-export-*'))


def test_campaign_is_one_file_with_every_flight_that_succeeded(campaign, tmp_path):
    result = run_export(campaign, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    output = tmp_path / f'{campaign.name}_campaign.gpkg'
    assert result.stdout == f'{output.name}\n'.encode()
    # The failed flight is named, and its earlier outputs are not exported.
    assert result.stderr.decode().count('\n') == 1 and 'lost' in result.stderr.decode()
    expected = {name: len((campaign / name / f'{name}_fit.ver').read_text().splitlines())
                for name in ('ridge', 'fjord', 'coast', 'empty', 'pair')}
    assert expected['ridge'] > 0 and expected['fjord'] > 0 and expected['coast'] > 0
    for layer in ('nadir', 'scan_lines'):
        text = ogrinfo('-sql', f'SELECT flight, COUNT(*) AS n FROM {layer} GROUP BY flight',
                       output)
        counted = dict(re.findall(r'flight \(String\) = (\w+)\s+n \(Integer\S*\) = (\d+)', text))
        if layer == 'nadir':
            assert {k: int(v) for k, v in counted.items()} == {
                name: count for name, count in expected.items() if count}
        else:
            assert 'lost' not in counted and set(counted) >= {'ridge', 'fjord', 'coast'}
    assert 'Feature Count: 0' in ogrinfo('-so', '-where', 'flight IS NULL', output, 'nadir')
