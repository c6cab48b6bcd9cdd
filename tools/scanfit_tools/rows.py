"""Decoding scanfit's output files: fixed-width text rows, whatever their
values' widths, and binary point records.

Columns come as plain dicts of numpy arrays: numbers (table_columns), or each
value's text as written (table_texts), for tools that pass values on without
re-formatting them. A text point file is held undecoded beside its times and
sweep indices ('table'), and select_points decodes the rows that are needed:
a long run has millions."""

import re

import numpy as np

from .runs import OutputError

# A field is (name, 'r' for a real or 'i' for an integer, width, decimals).
VER_LAYOUT = (('time', 'r', 9, 6), ('latitude', 'r', 11, 6),
              ('longitude', 'r', 12, 6), ('elevation', 'r', 10, 3))
FIT_LAYOUT = (('time', 'r', 9, 6), ('slope', 'r', 10, 3),
              ('intercept', 'r', 10, 3), ('sigma', 'r', 10, 3))
_POINT_HEAD = VER_LAYOUT + (('col4', 'i', 4, 0), ('sweep', 'i', 4, 0))
_POINT_TAIL = (('residual', 'r', 10, 3), ('sigma', 'r', 10, 3))
SCN6_LAYOUT = _POINT_HEAD + _POINT_TAIL
SCN7_LAYOUT = _POINT_HEAD + (('col6', 'i', 4, 0),) + _POINT_TAIL
ROW_END_BLANKS = 9

# The columns of the point files that the figures use.
POINT_COLUMNS = ('time', 'latitude', 'longitude', 'elevation', 'sweep', 'residual', 'sigma')

SBI_RECORD = np.dtype([('time', '<i4'), ('latitude', '<i4'), ('longitude', '<i4'),
                       ('elevation', '<i4'), ('col4', 'u1'), ('sweep', 'u1')])
SBI_SCALE = {'time': 1e7, 'latitude': 1e7, 'longitude': 1e7, 'elevation': 1e3}

_INTEGER = re.compile(r'[-+]?\d+')
_REAL = {d: re.compile(r'[-+]?(?:\d+\.\d{%d}|nan|inf)' % d) for d in (3, 6)}


def row_width(layout):
    """Characters of a row whose values all fit their fields, line feed included."""
    return sum(field[2] for field in layout) + ROW_END_BLANKS + 1


# --- one row, whatever its values' widths -----------------------------------

def split_row(text, layout):
    """Text of each value of one row, blanks left out, or None if the row does
    not fit the layout."""
    return _split_fields(text, 0, layout)


def _split_fields(text, pos, layout):
    if not layout:
        return [] if text[pos:].strip(' ') == '' else None
    _, kind, width, decimals = layout[0]
    for field, end in _field_readings(text, pos, kind, width, decimals):
        rest = _split_fields(text, end, layout[1:])
        if rest is not None:
            return [field] + rest
    return None


def _field_readings(text, pos, kind, width, decimals):
    """Possible (text, end) of the field at pos, shortest first.

    A padded field is exactly its width. An unpadded one is written whole and may
    run past its width: a real ends after its fixed decimals, but an integer that
    touches the next integer could end anywhere, so every length is offered."""
    pattern = _INTEGER if kind == 'i' else _REAL[decimals]
    window = text[pos:pos + width]
    if window.startswith(' '):
        value = window.lstrip(' ')
        if len(window) == width and pattern.fullmatch(value):
            yield value, pos + width
        return
    match = pattern.match(text, pos)
    if not match or match.end() - pos < width:
        return
    if kind == 'r':
        yield match.group(), match.end()
        return
    for end in range(pos + width, match.end() + 1):
        yield text[pos:end], end


# --- whole files ---------------------------------------------------------

def read_fixed_width(path, layout=None, names=None):
    """Columns of a fixed-width text output (only those in names, when given).
    A .scn file's layout (six or seven columns) is told from its first row when
    layout is None."""
    return table_columns(open_table(path, layout), names)


def open_table(path, layout=None):
    """A fixed-width text output held undecoded, with where its rows are."""
    buffer = np.fromfile(path, np.uint8)
    if len(buffer) and buffer[-1] != ord('\n'):
        buffer = np.append(buffer, np.uint8(ord('\n')))
    if layout is None:
        layout = _point_layout(buffer, path)
    width = row_width(layout)
    # No row is shorter than its nominal width, so when every width-th byte
    # ends a row, all rows have that width.
    if len(buffer) % width == 0 and (buffer[width - 1::width] == ord('\n')).all():
        starts = np.arange(0, len(buffer), width, dtype=np.int64)
        ends = starts + width - 1
    else:
        ends = np.flatnonzero(buffer == ord('\n'))
        starts = np.concatenate(([0], ends[:-1] + 1)).astype(np.int64)
    return {'path': path, 'buffer': buffer, 'layout': layout, 'starts': starts, 'ends': ends}


def table_columns(table, names=None, rows=None):
    """Columns of a table's rows (a slice, index or mask; all when None)."""
    # Each column's texts become numbers as soon as they are cut, so that
    # the texts of only one column are held at a time.
    return _table_fields(table, names, rows, numbers)


def table_texts(table, names=None, rows=None):
    """Each value's text as written, right-aligned in blanks, one row of bytes
    per row of the table: {name: 2-D uint8 array}. A value wider than its field
    is there whole."""
    return _table_fields(table, names, rows, lambda cells, kind: cells)


def _table_fields(table, names, rows, convert):
    buffer, starts, ends = table['buffer'], table['starts'], table['ends']
    if rows is not None:
        buffer, starts, ends = _select_rows(buffer, starts[rows], ends[rows])
    wanted = {field[0] for field in table['layout'] if names is None or field[0] in names}
    try:
        return _texts(buffer, starts, ends, table['layout'], wanted, convert)
    except ValueError as error:
        raise OutputError(f'{table["path"]}: {error}') from None


def numbers(cells, kind):
    """Values of texts right-aligned in blanks ('i': integers, 'r': reals)."""
    cells = np.ascontiguousarray(cells)
    return cells.view(f'S{cells.shape[1]}').ravel().astype(
        np.int64 if kind == 'i' else np.float64)


def _select_rows(buffer, starts, ends):
    lengths = ends - starts + 1
    new_starts = np.cumsum(lengths) - lengths
    index = np.repeat(starts - new_starts, lengths) + np.arange(lengths.sum())
    return buffer[index], new_starts, new_starts + lengths - 1


def _point_layout(buffer, path):
    line_feeds = np.flatnonzero(buffer[:4096] == ord('\n'))
    first = buffer[:line_feeds[0] if len(line_feeds) else 4096].tobytes()
    first = first.decode('ascii', 'replace')
    if not first:
        return SCN6_LAYOUT
    fitting = [layout for layout in (SCN6_LAYOUT, SCN7_LAYOUT)
               if split_row(first, layout) is not None]
    if not fitting:
        raise OutputError(f'{path}: first row is not a point row: {first!r}')
    for layout in fitting:
        if len(first) + 1 == row_width(layout):
            return layout
    return fitting[0]


def _texts(buffer, starts, ends, layout, wanted, convert):
    width = row_width(layout)
    # A row has its nominal width exactly when every value fits its field, so
    # those rows (nearly all) are cut at fixed offsets, all at once.
    nominal = ends - starts + 1 == width
    if nominal.all() and len(buffer) == len(starts) * width:
        block = buffer.reshape(-1, width)
    else:
        block = _rows_block(buffer, starts[nominal], width)
    others = np.flatnonzero(~nominal)
    wide = _wide_texts(buffer, starts[others], ends[others], layout, others) if len(others) else {}
    fields = {}
    offset = 0
    for name, kind, field_width, _ in layout:
        if name in wanted:
            cells = block[:, offset:offset + field_width]
            if not len(others):
                texts = np.ascontiguousarray(cells)
            else:
                size = max(field_width, wide[name].shape[1])
                texts = np.full((len(starts), size), _BLANK, np.uint8)
                texts[nominal, size - field_width:] = cells
                texts[others] = _right_aligned(wide[name], size)
            fields[name] = convert(texts, kind)
        offset += field_width
    return fields


def _wide_texts(buffer, starts, ends, layout, numbers):
    """Texts of rows with a value wider than its field (the table's rows
    numbers, from 0): first all at once, assuming the integers fit; what that
    cannot read goes row by row."""
    texts, read = _read_wide_rows(_padded_rows(buffer, starts, ends), ends - starts, layout)
    for row in np.flatnonzero(~read):
        text = buffer[starts[row]:ends[row]].tobytes().decode('ascii', 'replace')
        fields = split_row(text, layout)
        if fields is None:
            raise ValueError(f'row {numbers[row] + 1} does not read as scanfit writes it: {text!r}')
        for (name, _, _, _), field in zip(layout, fields):
            cells = np.frombuffer(field.encode('ascii'), np.uint8)
            texts[name] = _right_aligned(texts[name], len(cells))
            texts[name][row] = _BLANK
            texts[name][row, texts[name].shape[1] - len(cells):] = cells
    return texts


def _right_aligned(cells, size):
    """Texts right-aligned in blanks, widened to at least size."""
    if cells.shape[1] >= size:
        return cells
    wider = np.full((len(cells), size), _BLANK, np.uint8)
    wider[:, size - cells.shape[1]:] = cells
    return wider


def _rows_block(buffer, starts, width):
    """The rows at starts (each width bytes) as one 2-D array, copying only
    where other rows sit between them."""
    breaks = np.flatnonzero(np.diff(starts) != width) + 1
    runs = np.split(starts, breaks)
    pieces = [buffer[run[0]:run[0] + len(run) * width] for run in runs if len(run)]
    joined = np.concatenate(pieces) if pieces else np.zeros(0, np.uint8)
    return joined.reshape(-1, width)


def _padded_rows(buffer, starts, ends):
    """Rows of different lengths (line feeds left out) as one 2-D array, NUL
    after each row's end."""
    width = int((ends - starts).max())
    columns = np.arange(width)
    inside = columns < (ends - starts)[:, None]
    index = np.where(inside, starts[:, None] + columns, 0)
    return np.where(inside, buffer[index], 0).astype(np.uint8)


_BLANK, _DOT = ord(' '), ord('.')


def _read_wide_rows(block, lengths, layout):
    """Texts of rows whose reals may be wider than their fields, read field by
    field across all rows at once: a padded field is exactly its width, an
    unpadded real ends its decimals after its point, an integer is taken to fit.
    Returns each field's texts (right-aligned in blanks), and which rows read so."""
    count, width = block.shape
    rows, columns = np.arange(count), np.arange(width)
    position = np.zeros(count, np.int64)
    read = np.ones(count, bool)
    texts = {}
    for name, kind, field_width, decimals in layout:
        padded = block[rows, np.minimum(position, width - 1)] == _BLANK
        end = position + field_width
        if kind == 'r':
            dots = (block == _DOT) & (columns >= position[:, None])
            dot = np.where(dots.any(axis=1), dots.argmax(axis=1), width)
            end = np.where(padded, end, dot + decimals + 1)
            read &= padded | (end - position >= field_width)
        read &= end <= lengths
        end = np.minimum(end, lengths)
        texts[name], fits = _field_texts(block, position, end, kind, decimals)
        read &= fits
        position = end
    trailing = (columns >= position[:, None]) & (columns < lengths[:, None])
    read &= ~((block != _BLANK) & trailing).any(axis=1)
    return texts, read


def _field_texts(block, start, end, kind, decimals):
    """Each row's field text [start, end), right-aligned in blanks, and whether
    it is what scanfit writes there: blanks then an integer, or a real with
    its decimals, nan or inf."""
    size = max(int((end - start).max()), 4)
    index = end[:, None] - size + np.arange(size)
    inside = index >= start[:, None]
    texts = np.where(inside, block[np.arange(len(block))[:, None], np.maximum(index, 0)],
                     _BLANK).astype(np.uint8)
    if kind == 'i':
        return texts, _blanks_then_integer(texts)
    point = size - decimals - 1
    number = ((texts[:, point] == _DOT) & _digits(texts[:, point + 1:]).all(axis=1)
              & _blanks_then_integer(texts[:, :point]))
    word = texts[:, -3:].copy().view('S3').ravel()
    special = (np.isin(word, (b'nan', b'inf')) & np.isin(texts[:, -4], list(b' +-'))
               & (texts[:, :-4] == _BLANK).all(axis=1))
    return texts, number | special


def _digits(texts):
    return (texts >= ord('0')) & (texts <= ord('9'))


def _blanks_then_integer(texts):
    """Whether each row is blanks, then a sign or a digit, then digits only."""
    digits = _digits(texts)
    started = np.maximum.accumulate(texts != _BLANK, axis=1)
    first = np.arange(texts.shape[1]) == (texts != _BLANK).argmax(axis=1)[:, None]
    sign = np.isin(texts, list(b'+-')) & first
    return digits[:, -1] & ~(started & ~(digits | sign)).any(axis=1)


def read_sbi_records(path):
    """The records of a binary point file as written (a partial one at its end
    is not a point)."""
    raw = np.fromfile(path, np.uint8)
    return raw[:len(raw) // SBI_RECORD.itemsize * SBI_RECORD.itemsize].view(SBI_RECORD)


def read_sbi(path):
    """Points of a binary point file, in the input's units."""
    records = read_sbi_records(path)
    points = {name: records[name] / scale for name, scale in SBI_SCALE.items()}
    points['col4'] = records['col4'].astype(np.int64)
    points['sweep'] = records['sweep'].astype(np.int64)
    return points


def open_text_points(path):
    # Every statistic needs only times, and the merge sweep indices; the
    # other columns are decoded for the rows drawn (select_points).
    table = open_table(path)
    points = table_columns(table, ('time', 'sweep'))
    points['table'] = table
    return points


def select_points(points, rows):
    """All columns of some points (a slice, index or mask) of one point file."""
    if 'table' in points:
        return table_columns(points['table'], POINT_COLUMNS, rows)
    return {name: values[rows] for name, values in points.items()}
