import math
import struct

import numpy as np
import pytest
from conftest import write_rows

from scanfit_tools import rows, runs

POINT_KEYS = ('time', 'latitude', 'longitude', 'elevation', 'col4', 'sweep', 'residual', 'sigma')


def columns_as_rows(columns, keys):
    return [tuple(columns[key][i] for key in keys) for i in range(len(columns[keys[0]]))]


def same(expected, actual):
    return all(a == e or (math.isnan(a) and math.isnan(e)) for e, a in zip(expected, actual))


def test_six_column_rows_whose_values_fit_overflow_or_touch(tmp_path, monkeypatch):
    read_one_by_one = []
    split_row = rows.split_row
    def recording(text, layout):
        read_one_by_one.append(text)
        return split_row(text, layout)
    monkeypatch.setattr(rows, 'split_row', recording)
    path = write_rows(tmp_path / 'f_fit.scn', [
        ' 9.919812  78.805687   19.026035     0.604 146   1     0.679     0.144',
        # residual wider than its field, touching the sweep index
        ' 9.920062  78.805267   19.024323     0.709 167   0-5430438.000       nan',
        '13.198448  80.601242    1.152578     0.790 158 1191298941.875       nan',
        # an integer wider than its field, then two reals that touch
        '10.000000  10.000000   10.000000     1.00012345   7     0.500     0.100',
        '10.000001  10.000000   10.000000     1.000 200 250-12345.67812345678.000',
    ])
    expected = [
        (9.919812, 78.805687, 19.026035, 0.604, 146, 1, 0.679, 0.144),
        (9.920062, 78.805267, 19.024323, 0.709, 167, 0, -5430438.0, math.nan),
        (13.198448, 80.601242, 1.152578, 0.790, 158, 119, 1298941.875, math.nan),
        (10.0, 10.0, 10.0, 1.0, 12345, 7, 0.5, 0.1),
        (10.000001, 10.0, 10.0, 1.0, 200, 250, -12345.678, 12345678.0),
    ]
    read = columns_as_rows(rows.read_fixed_width(path), POINT_KEYS)
    assert len(read) == len(expected)
    for want, got in zip(expected, read):
        assert same(want, got), (want, got)
    # Wide reals are read with the rest, all at once (a long run has many);
    # only the first row (for the form) and the wide integer go one by one.
    assert {text[:9] for text in read_one_by_one} == {' 9.919812', '10.000000'}


def test_seven_column_form_is_told_from_the_rows(tmp_path):
    path = write_rows(tmp_path / 'f_low.scn', [
        '10.091312  80.571442   15.615659     0.560 148   2   1     0.697     0.107',
        '10.091436  80.571678   15.615015     0.597 112   1   1-712062.750       nan',
    ])
    columns = rows.read_fixed_width(path)
    assert list(columns['col6']) == [1, 1]
    assert list(columns['sweep']) == [2, 1]
    assert same((0.697, -712062.75), columns['residual'])
    assert same((0.107, math.nan), columns['sigma'])


def test_line_and_nadir_rows(tmp_path):
    fit = rows.read_fixed_width(write_rows(tmp_path / 'f.fit', [
        ' 9.920067-27970.9775430438.500       nan',
        '10.000000     0.001    -0.500       inf',
    ]), rows.FIT_LAYOUT)
    assert same((9.920067, -27970.977, 5430438.5, math.nan),
                [fit[k][0] for k in ('time', 'slope', 'intercept', 'sigma')])
    assert fit['sigma'][1] == math.inf and fit['intercept'][1] == -0.5
    ver = rows.read_fixed_width(write_rows(tmp_path / 'f_fit.ver', [
        '43200.500000-133.750000   -1.250000     7.500',
    ]), rows.VER_LAYOUT)
    assert columns_as_rows(ver, ('time', 'latitude', 'longitude', 'elevation')) == [
        (43200.5, -133.75, -1.25, 7.5)]


def test_rows_that_are_not_scanfit_rows_are_refused(tmp_path):
    path = write_rows(tmp_path / 'f.fit', ['10.000000     0.001    -0.500     0.100',
                                           '10.000001     x.001    -0.500     0.100 extra'])
    with pytest.raises(runs.OutputError, match='row 2'):
        rows.read_fixed_width(path, rows.FIT_LAYOUT)


def test_some_rows_of_a_point_file(tmp_path):
    table = rows.open_table(write_rows(tmp_path / 'f_high.scn', [
        ' 1.000000   1.000000    1.000000     1.000   0   1     6.000     0.100',
        ' 2.000000   2.000000    2.000000     2.000   0   2-1234567.000       nan',
        ' 3.000000   3.000000    3.000000     3.000   0   3     7.000     0.100']))
    assert list(rows.table_columns(table, ('time',), [2, 1])['time']) == [3.0, 2.0]
    assert list(rows.table_columns(table, ('sweep',), slice(1, 3))['sweep']) == [2, 3]
    assert len(rows.table_columns(table, ('time',), np.zeros(3, bool))['time']) == 0


def test_binary_records(tmp_path):
    path = tmp_path / 'f_fit.sbi'
    path.write_bytes(struct.pack('<iiiiBB', 99198123, -335000000, 1234567890, -1500, 200, 250)
                     + struct.pack('<iiiiBB', 100000000, 0, 0, 2, 0, 1)
                     + b'\x01\x02\x03')  # a partial record is not a point
    points = rows.read_sbi(path)
    assert np.allclose(points['time'], [9.9198123, 10.0], rtol=0, atol=1e-12)
    assert np.allclose(points['latitude'], [-33.5, 0.0])
    assert np.allclose(points['longitude'], [123.456789, 0.0])
    assert np.allclose(points['elevation'], [-1.5, 0.002])
    assert list(points['col4']) == [200, 0] and list(points['sweep']) == [250, 1]


def test_a_run_is_found_from_its_folder_or_prefix(tmp_path):
    for name in ('a.fit', 'a_fit.ver'):
        (tmp_path / name).touch()
    assert runs.find_run(str(tmp_path)) == str(tmp_path / 'a')
    assert runs.find_run(str(tmp_path / 'a')) == str(tmp_path / 'a')
    for name in ('b.fit', 'b_fit.ver'):
        (tmp_path / name).touch()
    with pytest.raises(runs.OutputError, match='a, b'):
        runs.find_run(str(tmp_path))
    with pytest.raises(runs.OutputError):
        runs.find_run(str(tmp_path / 'c'))
