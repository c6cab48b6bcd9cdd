"""The tables an export writes for one run: nadir records, track pieces,
fitted scan lines and points. Every value that scanfit wrote comes with its
text as written (for csv), beside its number (for the other formats)."""

from dataclasses import dataclass

import numpy as np

from .. import rows, runs
from .flight import rebuild
from .track import track_pieces

CLASS_NAMES = np.array([name.encode() for name in runs.CLASSES])
LAYERS = ('nadir', 'track', 'scan_lines', 'points')
POINT_COLUMNS = ('time', 'latitude', 'longitude', 'elevation', 'sweep', 'residual', 'sigma')
# Decimals of the binary records' scaled integers.
SBI_DECIMALS = {'time': 7, 'latitude': 7, 'longitude': 7, 'elevation': 3}


@dataclass
class Column:
    """kind: 'integer', 'real' (NaN where there is no value) or 'text'
    (values are bytes). texts: each row's text as written, a 2-D uint8 array
    padded with blanks or NULs; None to write the values."""
    name: str
    kind: str
    values: np.ndarray
    texts: np.ndarray = None


@dataclass
class Table:
    """Rows of one layer for one flight. Points are at (x, y), longitude and
    latitude; a line's vertices are x[starts[i]:ends[i]] (none: no geometry)."""
    name: str
    flight: str
    columns: list
    x: np.ndarray
    y: np.ndarray
    starts: np.ndarray = None
    ends: np.ndarray = None

    def __len__(self):
        return len(self.columns[0].values)


@dataclass
class Run:
    """What an export reads of one run: its rows as numbers and, with_texts,
    as written; its point files (fit, high, low: the text tables or binary
    records), the columns read of them so far, and the rebuilt lines."""
    name: str
    kind: str
    inputs: list
    with_texts: bool
    ver: dict
    ver_texts: dict
    fit: dict
    fit_texts: dict
    sources: list
    points: list
    point_texts: list
    lines: object = None


# --- reading a run ------------------------------------------------------

def read_run(prefix, with_points, with_texts):
    """The run of prefix: with_points every column of its points, else their
    times and sweep indices (which place them); with_texts, texts as written
    too."""
    kind, paths = runs.point_files(prefix)
    ver, ver_texts = _rows_of(prefix + '_fit.ver', rows.VER_LAYOUT, with_texts)
    fit, fit_texts = _rows_of(prefix + '.fit', rows.FIT_LAYOUT, with_texts)
    if kind == 'text':
        sources = [rows.open_table(paths[name]) for name in runs.CLASSES]
    else:
        sources = [rows.read_sbi_records(paths[name]) for name in runs.CLASSES]
    names = POINT_COLUMNS if with_points else ('time', 'sweep')
    decoded = [decode_points(kind, source, names, with_texts and with_points)
               for source in sources]
    run = Run(name=runs.run_name(prefix), kind=kind,
              inputs=[prefix + '_fit.ver', prefix + '.fit'] + list(paths.values()),
              with_texts=with_texts, ver=ver, ver_texts=ver_texts, fit=fit,
              fit_texts=fit_texts, sources=sources, points=[v for v, _ in decoded],
              point_texts=[t for _, t in decoded])
    run.lines = rebuild([(p['time'], p['sweep']) for p in run.points], fit['time'])
    return run


def _rows_of(path, layout, with_texts):
    table = rows.open_table(path, layout)
    texts = rows.table_texts(table)
    kinds = {field[0]: field[1] for field in table['layout']}
    values = {name: rows.numbers(cells, kinds[name]) for name, cells in texts.items()}
    return values, texts if with_texts else None


def decode_points(kind, source, names, with_texts, at=None):
    """Values and texts (None without) of columns of one point file, at some
    rows (all when None). A binary point file holds no residual and no sigma."""
    if kind == 'text' and not with_texts:
        return rows.table_columns(source, names, at), None
    if kind == 'text':
        texts = rows.table_texts(source, names, at)
        kinds = {field[0]: field[1] for field in source['layout']}
        values = {name: rows.numbers(cells, kinds[name]) for name, cells in texts.items()}
        return values, texts
    records = source if at is None else source[at]
    values, texts = {}, {} if with_texts else None
    for name in names:
        if name == 'sweep':
            values[name] = records[name].astype(np.int64)
            if with_texts:
                texts[name] = integer_texts(values[name])
        elif name in SBI_DECIMALS:
            values[name] = records[name] / rows.SBI_SCALE[name]
            if with_texts:
                texts[name] = decimal_texts(records[name], SBI_DECIMALS[name])
    return values, texts


def decimal_texts(integers, decimals):
    """Exact decimal text of scaled integers (value = integer / 10**decimals)."""
    integers = np.asarray(integers, np.int64)
    whole, fraction = np.divmod(np.abs(integers), 10 ** decimals)
    fraction = (fraction + 10 ** decimals).astype('S24')
    text = np.char.add(np.char.add(whole.astype('S24'), b'.'),
                       np.char.partition(fraction, b'1')[:, 2])
    text = np.where(integers < 0, np.char.add(b'-', text), text)
    return cells_of(text)


def integer_texts(values):
    """Text of integers; values that are not numbers (NaN) are left empty."""
    values = np.asarray(values)
    known = values == values
    text = np.where(known, np.where(known, values, 0).astype(np.int64).astype('S24'), b'')
    return cells_of(text)


def cells_of(text):
    """Bytes strings as a 2-D uint8 array (NUL after each)."""
    text = np.asarray(text, 'S')
    width = max(text.dtype.itemsize, 1)
    return np.ascontiguousarray(text.astype(f'S{width}')).view(np.uint8).reshape(len(text), width)


# --- the tables ---------------------------------------------------------

def tables(run, flight, layers, point_classes):
    """The tables of a run for the layers named (nadir, track, scan_lines,
    points), by name."""
    made = {'nadir': nadir_table, 'track': track_table, 'scan_lines': scan_lines_table}
    return {layer: made[layer](run, flight) if layer in made
            else points_table(run, flight, point_classes) for layer in layers}


def _written(names, values, texts):
    """Columns of reals as a row file holds them."""
    return [Column(name, 'real', values[name], texts[name] if texts else None)
            for name in names]


def nadir_table(run, flight):
    count = len(run.ver['time'])
    columns = [Column('record', 'integer', np.arange(1, count + 1))]
    columns += _written(('time', 'latitude', 'longitude', 'elevation'), run.ver, run.ver_texts)
    return Table('nadir', flight, columns, run.ver['longitude'], run.ver['latitude'])


def track_table(run, flight):
    first, last = track_pieces(run.ver['time'], run.ver['latitude'], run.ver['longitude'])
    time_texts = run.ver_texts['time'] if run.ver_texts else None
    columns = [Column('piece', 'integer', np.arange(1, len(first) + 1)),
               Column('records', 'integer', last - first + 1),
               Column('first_record', 'integer', first + 1),
               Column('last_record', 'integer', last + 1),
               Column('start_time', 'real', run.ver['time'][first],
                      time_texts[first] if time_texts is not None else None),
               Column('end_time', 'real', run.ver['time'][last],
                      time_texts[last] if time_texts is not None else None)]
    return Table('track', flight, columns, run.ver['longitude'], run.ver['latitude'],
                 first, last + 1)


def scan_lines_table(run, flight):
    lines = run.lines
    count = len(run.fit['time'])
    columns = [Column('line', 'integer', np.arange(1, count + 1))]
    columns += _written(('time', 'slope', 'intercept', 'sigma'), run.fit, run.fit_texts)
    for p, name in enumerate(runs.CLASSES):
        columns.append(Column(f'{name}_points', 'integer',
                              np.where(lines.tied, lines.counts[:, p], np.nan)))
    ends = {}
    for end, index in (('first', lines.first), ('last', lines.last)):
        for axis in ('latitude', 'longitude'):
            column = _line_end(run, axis, index)
            columns.append(Column(f'{end}_{axis}', 'real', column.values, column.texts))
            ends[end, axis] = column.values
    x = np.column_stack((ends['first', 'longitude'], ends['last', 'longitude'])).ravel()
    y = np.column_stack((ends['first', 'latitude'], ends['last', 'latitude'])).ravel()
    starts = 2 * np.arange(count)
    return Table('scan_lines', flight, columns, x, y, starts,
                 np.where(lines.tied, starts + 2, starts))


def _line_end(run, axis, index):
    """One coordinate of the first or last point (index into the flight order,
    -1 for none) of every row of NAME.fit."""
    tied = index >= 0
    index = index[tied]
    values, texts = gather(run, axis, run.lines.part[index], run.lines.row[index])
    column = Column(axis, 'real', np.full(len(tied), np.nan))
    column.values[tied] = values
    if texts is not None:
        column.texts = np.zeros((len(tied), texts.shape[1]), np.uint8)
        column.texts[tied] = texts
    return column


def points_table(run, flight, point_classes):
    """The points of the classes named, in flight order, each with its class
    and its row of NAME.fit (0: a line that is not fitted or not tied)."""
    lines = run.lines
    wanted = np.isin(lines.part, [runs.CLASSES.index(name) for name in point_classes])
    part, row = lines.part[wanted], lines.row[wanted]
    line, _ = _gather_parts(lines.line_of_point, None, part, row)
    columns = [Column('class', 'text', CLASS_NAMES[part]), Column('line', 'integer', line)]
    for name in POINT_COLUMNS:
        if run.kind == 'binary' and name in ('residual', 'sigma'):
            columns.append(_binary_line_value(run, name, part, row, line))
            continue
        values, texts = gather(run, name, part, row)
        kind = 'integer' if name == 'sweep' else 'real'
        columns.append(Column(name, kind, values, texts))
    named = {column.name: column.values for column in columns}
    return Table('points', flight, columns, named['longitude'], named['latitude'])


def _binary_line_value(run, name, part, row, line):
    """A binary run's points have no residual; their sigma is their line's
    (0 for a line that is not fitted, none for one that could not be tied)."""
    if name == 'residual':
        return Column(name, 'real', np.full(len(part), np.nan),
                      None if run.fit_texts is None else np.zeros((len(part), 1), np.uint8))
    fitted, _ = _gather_parts(run.lines.fitted_point, None, part, row)
    tied = line > 0
    values = np.where(fitted, np.nan, 0.0)
    texts = None if run.fit_texts is None else cells_of(np.where(fitted, b'', b'0.000'))
    if tied.any():
        row_of_line = line[tied] - 1
        values[tied] = run.fit['sigma'][row_of_line]
        if texts is not None:
            sigma = run.fit_texts['sigma'][row_of_line]
            texts = np.pad(texts, ((0, 0), (0, max(0, sigma.shape[1] - texts.shape[1]))))
            texts[tied] = 0
            texts[tied, :sigma.shape[1]] = sigma
    return Column(name, 'real', values, texts)


def gather(run, name, part, row):
    """Values (and texts, with_texts) of one point column at (part, row)."""
    if all(name in points for points in run.points):
        texts = [t[name] for t in run.point_texts] if run.point_texts[0] is not None else None
        return _gather_parts([p[name] for p in run.points], texts, part, row)
    # A column not read in full: only the rows asked for are decoded.
    values = np.zeros(len(part))
    pieces = []
    for p, source in enumerate(run.sources):
        mine = np.flatnonzero(part == p)
        value, texts = decode_points(run.kind, source, (name,), run.with_texts, row[mine])
        values[mine] = value[name]
        pieces.append((mine, texts[name] if texts is not None else None))
    if not run.with_texts:
        return values, None
    texts = np.zeros((len(part), max(t.shape[1] for _, t in pieces)), np.uint8)
    for mine, cells in pieces:
        texts[mine, texts.shape[1] - cells.shape[1]:] = cells
    return values, texts


def _gather_parts(values, texts, part, row):
    offsets = np.cumsum([0] + [len(v) for v in values])
    index = offsets[part] + row
    all_values = np.concatenate(values)[index]
    if texts is None:
        return all_values, None
    width = max(t.shape[1] for t in texts)
    padded = [np.pad(t, ((0, 0), (width - t.shape[1], 0))) for t in texts]
    return all_values, np.concatenate(padded)[index]
