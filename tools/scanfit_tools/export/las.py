"""Writing points as LAS 1.4, point data record format 6, with numpy alone
(Debian 12 has no LAS library for Python).

X is the longitude and Y the latitude in degrees (scale 1e-7, as the binary
point records hold them), Z the elevation in metres (scale 0.001, as every
output holds it). Classes: fit 1 (unclassified), high 18 (high noise), low 7
(low noise). GPS time is seconds of the day, from the decimal hours of the
first column. Each point carries its residual, its line's sigma (NaN where
the run did not write them), its scan line (the row of NAME.fit, 0 for none)
and its sweep index as extra bytes."""

import struct
import time

import numpy as np

HEADER_SIZE = 375
VLR_HEADER = struct.Struct('<H16sHH32s')
SCALES = (1e-7, 1e-7, 1e-3)
CLASS_CODES = {b'fit': 1, b'high': 18, b'low': 7}
# Global encoding: bit 4, the coordinate system is a WKT VLR; bit 0 clear,
# GPS time is not the adjusted standard time (here: seconds of the day).
GLOBAL_ENCODING = 1 << 4
# Return number 1 of 1: every point is one return, as far as scanfit knows.
SINGLE_RETURN = 0x11
WKT_EPSG_4326 = (
    'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,'
    'AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,'
    'AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,'
    'AUTHORITY["EPSG","9122"]],AUTHORITY["EPSG","4326"]]')
# Extra bytes: (name, numpy type, LAS data type, description).
EXTRA_BYTES = (
    ('residual', '<f8', 10, 'residual against its line, m'),
    ('line_sigma', '<f8', 10, 'sigma of its fitted line, m'),
    ('scan_line', '<u4', 5, 'row of NAME.fit, 0: none'),
    ('sweep_index', '<i2', 4, 'sweep index'),
)
POINT_RECORD = np.dtype([
    ('x', '<i4'), ('y', '<i4'), ('z', '<i4'), ('intensity', '<u2'), ('returns', 'u1'),
    ('flags', 'u1'), ('classification', 'u1'), ('user_data', 'u1'), ('scan_angle', '<i2'),
    ('point_source', '<u2'), ('gps_time', '<f8')]
    + [(name, numpy_type) for name, numpy_type, _, _ in EXTRA_BYTES])
_INT32 = 2 ** 31 - 1


class RangeError(Exception):
    """Coordinates that LAS's scaled 32-bit integers cannot hold."""


def write(stream, chunks):
    """Writes the points of chunks [(point source ID, points Table)] to a
    file opened for binary writing. Points whose position is not a number cannot be held and
    are left out: returns how many."""
    records, left_out = _records(chunks)
    header = _header(records)
    stream.write(header)
    stream.write(_vlr(b'LASF_Projection', 2112, WKT_EPSG_4326.encode() + b'\0',
                      b'OGC WKT of EPSG:4326'))
    stream.write(_vlr(b'LASF_Spec', 4, b''.join(_extra_bytes(*e) for e in EXTRA_BYTES),
                      b'residual, sigma, line, sweep'))
    # Through the stream (not numpy's tofile), whose errors say why.
    stream.write(records['point'].view(np.uint8))
    return left_out


def _records(chunks):
    """The point records, their scale offsets, and the count left out."""
    columns = _columns(chunks)
    coordinates = [np.asarray(columns[name], np.float64)
                   for name in ('longitude', 'latitude', 'elevation')]
    placed = np.logical_and.reduce([np.isfinite(c) for c in coordinates])
    if not placed.all():
        columns = {name: values[placed] for name, values in columns.items()}
        coordinates = [c[placed] for c in coordinates]
    offsets = [_offset(c) for c in coordinates]
    points = np.zeros(len(coordinates[0]), POINT_RECORD)
    for field, values, offset, scale in zip('xyz', coordinates, offsets, SCALES):
        points[field] = _scaled(values, offset, scale, field)
    if len(points):
        _fill_attributes(points, columns)
    return {'point': points, 'offsets': offsets}, len(placed) - len(points)


def _columns(chunks):
    """The points' columns, of every chunk in turn, with their point source."""
    if not chunks:
        return {name: np.zeros(0) for name in ('longitude', 'latitude', 'elevation')}
    pieces = {}
    for source, table in chunks:
        for column in table.columns:
            pieces.setdefault(column.name, []).append(column.values)
        pieces.setdefault('point_source', []).append(np.full(len(table), source, np.uint16))
    return {name: values[0] if len(values) == 1 else np.concatenate(values)
            for name, values in pieces.items()}


def _fill_attributes(points, columns):
    points['returns'] = SINGLE_RETURN
    codes = np.zeros(len(points), np.uint8)
    for name, code in CLASS_CODES.items():
        codes[columns['class'] == name] = code
    points['classification'] = codes
    points['point_source'] = columns['point_source']
    points['gps_time'] = columns['time'] * 3600.0
    points['residual'] = columns['residual']
    points['line_sigma'] = columns['sigma']
    points['scan_line'] = columns['line']
    points['sweep_index'] = np.clip(columns['sweep'], -2 ** 15, 2 ** 15 - 1)


def _offset(values):
    """A whole number near the middle of the values, so that the scaled
    integers reach furthest on either side."""
    if not len(values):
        return 0.0
    return float(np.round((values.min() + values.max()) / 2))


def _scaled(values, offset, scale, axis):
    scaled = np.rint((values - offset) / scale)
    if len(scaled) and np.abs(scaled).max() > _INT32:
        raise RangeError(f'the points span too far in {axis.upper()} for LAS '
                         f'(scale {scale:g}): from {values.min()} to {values.max()}')
    return scaled.astype(np.int32)


def _header(records):
    points, offsets = records['point'], records['offsets']
    bounds = []
    for field, offset, scale in zip('xyz', offsets, SCALES):
        stored = points[field]
        low, high = (stored.min(), stored.max()) if len(stored) else (0, 0)
        bounds += [offset + high * scale, offset + low * scale]
    vlr_bytes = 2 * VLR_HEADER.size + len(WKT_EPSG_4326) + 1 + 192 * len(EXTRA_BYTES)
    today = time.gmtime()
    by_return = [len(points)] + [0] * 14
    header = struct.pack(
        '<4sHH16sBB32s32sHHHIIBHI5I3d3d6dQQIQ15Q',
        b'LASF', 0, GLOBAL_ENCODING, bytes(16), 1, 4, b'OTHER', b'scanfit-export',
        today.tm_yday, today.tm_year, HEADER_SIZE, HEADER_SIZE + vlr_bytes, 2,
        6, POINT_RECORD.itemsize,
        0, 0, 0, 0, 0, 0,  # legacy counts: 0 for point formats 6 and above
        *SCALES, *offsets, *bounds,
        0, 0, 0,  # no waveform data, no extended VLRs
        len(points), *by_return)
    assert len(header) == HEADER_SIZE
    return header


def _vlr(user, record, payload, description):
    return VLR_HEADER.pack(0, user, record, len(payload), description) + payload


def _extra_bytes(name, numpy_type, data_type, description):
    """One extra-bytes descriptor (192 bytes): no options (no scale, offset,
    no-data, minimum or maximum)."""
    return struct.pack('<2sBB32s4s24s24s24s24s24s32s', b'', data_type, 0,
                       name.encode(), b'', b'', b'', b'', b'', b'', description.encode())
