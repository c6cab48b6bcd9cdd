"""Writing the tables as CSV, one file per table: a header of field names,
commas between values, each value as scanfit wrote it (the text of its row,
never a re-formatted number), and the flight's name as its bytes, quoted."""

import os

import numpy as np

from .tables import integer_texts, cells_of

_BLANK, _COMMA, _LINE_FEED = ord(' '), ord(','), ord('\n')
# Rows made at once: the bytes of a few of them at a time, not of millions.
ROWS_AT_ONCE = 1 << 16


def write(layers, paths):
    """layers: {layer name: [Table of each flight]}; paths: {layer name: file}."""
    for name, chunks in layers.items():
        with open(paths[name], 'wb') as stream:
            names = ['flight'] + [column.name for column in chunks[0].columns]
            stream.write(','.join(names).encode() + b'\n')
            for chunk in chunks:
                for start in range(0, len(chunk), ROWS_AT_ONCE):
                    stream.write(_rows(chunk, slice(start, start + ROWS_AT_ONCE)))


def quoted(name):
    """A name's bytes as one CSV field, whatever bytes it holds."""
    return b'"' + name.replace(b'"', b'""') + b'"'


def _rows(table, rows):
    """Some rows of one flight's table: its quoted name, then every column's
    text with blanks and NULs taken out (numbers hold neither)."""
    count = len(range(len(table))[rows])
    prefix = quoted(os.fsencode(table.flight)) + b','
    pieces = [np.broadcast_to(np.frombuffer(prefix, np.uint8), (count, len(prefix)))]
    for number, column in enumerate(table.columns):
        if number:
            pieces.append(np.full((count, 1), _COMMA, np.uint8))
        pieces.append(_texts(column, rows))
    pieces.append(np.full((count, 1), _LINE_FEED, np.uint8))
    block = np.concatenate(pieces, axis=1)
    keep = (block != _BLANK) & (block != 0)
    keep[:, :len(prefix)] = True
    return block[keep].tobytes()


def _texts(column, rows):
    if column.texts is not None:
        return column.texts[rows]
    values = column.values[rows]
    if column.kind == 'text':
        return cells_of(values)
    if column.kind == 'integer':
        return integer_texts(values)
    # A real without written text is one the export worked out: all its digits.
    return cells_of([repr(value).encode() for value in values.tolist()])
