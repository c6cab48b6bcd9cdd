import math

import numpy as np
import pytest
from conftest import write_rows

from scanfit_tools import runs
from scanfit_tools.quicklook import stats


def point_row(micro_hours, sweep, elevation, residual, sigma):
    """A .scn row at 10 h plus micro_hours millionths of an hour."""
    return (f'{10 + micro_hours * 1e-6:9.6f}{60.0:11.6f}{10.0:12.6f}{elevation:10.3f}'
            f'{0:4d}{sweep:4d}{residual:10.3f}{sigma:10.3f}')


@pytest.fixture
def three_lines(tmp_path):
    """Three scan lines of sweeps 0..3. Lines meet within one time step (each
    line's end and the next one's start share a time), and each line's points
    are spread over the three files. The second line (sigma 0.2) is
        sweep      0      1      2      3
        time       2      3      3      4
        class      high   fit    low    fit
        elevation  10.0   1.0    -60.0  1.5
        residual   9.0    0.0    -61.0  0.5      so its fitted line is 1.0 throughout."""
    write_rows(tmp_path / 't_fit.scn', [
        point_row(0, 0, 1.0, 0.0, 0.1), point_row(0, 1, 1.0, 0.0, 0.1),
        point_row(2, 3, 1.0, 0.0, 0.1),
        point_row(3, 1, 1.0, 0.0, 0.2), point_row(4, 3, 1.5, 0.5, 0.2),
        point_row(5, 1, 1.0, 0.0, 0.3), point_row(6, 2, 1.0, 0.0, 0.3),
        point_row(6, 3, 1.0, 0.0, 0.3)])
    write_rows(tmp_path / 't_high.scn', [point_row(2, 2, 9.0, 8.0, 0.1),
                                        point_row(2, 0, 10.0, 9.0, 0.2)])
    write_rows(tmp_path / 't_low.scn', [point_row(3, 2, -60.0, -61.0, 0.2),
                                       point_row(4, 0, -59.0, -60.0, 0.3)])
    # Mean times of each line's first and last points: 1, 3 and 5.
    write_rows(tmp_path / 't.fit', ['10.000001     0.000     1.000     0.100',
                                    '10.000003     0.000     1.000     0.200',
                                    '10.000005     0.000     1.000     0.300'])
    write_rows(tmp_path / 't_fit.ver', [])
    return runs.load_run(str(tmp_path / 't'))


def test_points_of_one_scan_line_come_back_in_flight_order(three_lines):
    line = stats.scan_line(three_lines, 1)
    assert list(line['sweep']) == [0, 1, 2, 3]
    assert list(line['class']) == [1, 0, 2, 0]  # high, fit, low, fit
    assert np.allclose(line['elevation'], [10.0, 1.0, -60.0, 1.5])
    assert np.allclose(line['fitted'], 1.0)
    first = stats.scan_line(three_lines, 0)
    assert list(first['sweep']) == [0, 1, 2, 3] and list(first['class']) == [0, 0, 1, 0]
    last = stats.scan_line(three_lines, 2)
    assert list(last['sweep']) == [0, 1, 2, 3] and list(last['class']) == [2, 0, 0, 0]


def test_shares_of_each_class_per_time_bin():
    # bin [0, 2): fit 0, 1 and high 0.5; bin [2, 4]: fit 2, 3 and low 2.5, 3.5; bin (4, 6]: none
    shares, totals = stats.shares_per_bin(
        {'fit': np.array([0.0, 1.0, 2.0, 3.0]), 'high': np.array([0.5]),
         'low': np.array([2.5, 3.5])}, np.array([0.0, 2.0, 4.0, 6.0]))
    assert list(totals) == [3, 4, 0]
    assert np.allclose(shares['high'][:2], [1 / 3, 0.0])
    assert np.allclose(shares['low'][:2], [0.0, 0.5])
    assert np.allclose(shares['fit'][:2], [2 / 3, 0.5])
    assert all(math.isnan(shares[name][2]) for name in shares)


@pytest.mark.parametrize('sigma, median, line', [
    ([0.3, math.nan, 0.1, 0.2, math.inf], 0.2, 3),  # rank ceil(4/2) = 2 of 0.1 0.2 0.3 inf
    ([0.5, 0.1, 0.3], 0.3, 2),                      # rank 2 of 0.1 0.3 0.5
    ([0.2, 0.1, 0.2, 0.4], 0.2, 0),                 # ties: the first such line
    ([math.nan, math.nan], math.nan, None),
])
def test_median_sigma_by_nearest_rank(sigma, median, line):
    sigma = np.array(sigma)
    found = stats.nearest_rank_median(sigma)
    assert found == median or (math.isnan(median) and math.isnan(found))
    assert stats.median_sigma_line(sigma) == line


def test_fitted_line_from_slope_and_intercept_over_ground_distance():
    # At 60 degrees north a degree of longitude is 0.5 * 111120 m.
    points = {'latitude': np.array([60.0, 60.0, 60.0]),
              'longitude': np.array([10.000, 10.001, 10.002])}
    fitted = stats.fitted_from_slope(points, slope=0.01, intercept=2.0)
    assert np.allclose(fitted, [2.0, 2.0 + 0.5556, 2.0 + 1.1112])
