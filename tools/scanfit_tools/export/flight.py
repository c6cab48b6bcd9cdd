"""A run's scan lines, rebuilt from its three point files.

scanfit writes every point to one of three files by its residual, each file
in input order, and numbers nothing: which scan line a point belongs to, and
where a fitted line starts and ends, are only in the order of the flight.
That order is rebuilt by merging the files back: by time, and where points
of two files share a time (text rows hold hours to 6 decimals, some 18 points
of a sweep), by the rule that cuts scan lines, so that a point carries on the
scan line it can continue rather than starting a new one. The largest file
(nearly all points) is the frame; the points of the others are put into it.

The rebuilt lines are then tied to the rows of NAME.fit by time: a row holds
the mean time of its line's first and last points."""

from dataclasses import dataclass

import numpy as np

HALF_DAY = 12.0
# Sweep indices are 16-bit; a line's key orders its points by sweep index.
SWEEP_MIN, SWEEP_SPAN = -(1 << 15), 1 << 16
# How many of the frame's scan lines a point may look through for the one it
# continues, among points of one time (more only in made-up data).
MAX_LINES_PER_TIME = 64
# A NAME.fit row's time is the mean of single-precision times, written to 6
# decimals, as the points' times are: they agree within a few millionths of an
# hour, and scan lines are some 50 ms (14 millionths) apart.
LINE_TIME_TOLERANCE = 5e-6
# Only lines of more than this many points are fitted, the last one never.
FEWEST_FITTED = 11


@dataclass
class FlightLines:
    """The flight order and its scan lines, tied to the rows of NAME.fit.

    part, row: file (index into the parts given) and row of every point, in
    flight order. line_of_point[p]: for each point of part p, its row of
    NAME.fit counted from 1, or 0 when its line is not fitted or could not be
    tied; fitted_point[p]: whether its line is one scanfit fits. For each row
    of NAME.fit: tied, counts (points per part) and first, last (index into
    part/row of the line's first and last points)."""
    part: np.ndarray
    row: np.ndarray
    line_of_point: list
    fitted_point: list
    tied: np.ndarray
    counts: np.ndarray
    first: np.ndarray
    last: np.ndarray


def rebuild(parts, fit_times):
    """parts: (hours, sweep index) arrays of each point file; fit_times: the
    time of each row of NAME.fit."""
    part, row = merge(parts)
    sweep = np.concatenate([np.asarray(s, np.int64) for _, s in parts])
    offsets = np.cumsum([0] + [len(h) for h, _ in parts])
    merged_sweep = sweep[offsets[part] + row]
    line = _line_numbers(merged_sweep)
    starts = np.flatnonzero(np.diff(line, prepend=-1))
    ends = np.append(starts[1:], len(line))[:len(starts)] - 1
    sizes = ends - starts + 1
    fitted = sizes >= FEWEST_FITTED
    fitted[-1:] = False
    hours = np.concatenate([np.asarray(h, np.float64) for h, _ in parts])[offsets[part] + row]
    means = (hours[starts] + hours[ends]) / 2
    row_of_line = tie(means, fitted, np.asarray(fit_times, np.float64))
    return _per_row(parts, part, row, line, starts, ends, fitted, row_of_line, len(fit_times))


def _per_row(parts, part, row, line, starts, ends, fitted, row_of_line, rows):
    point_row = row_of_line[line]
    line_of_point = [np.zeros(len(h), np.int64) for h, _ in parts]
    fitted_point = [np.zeros(len(h), bool) for h, _ in parts]
    for p in range(len(parts)):
        mine = part == p
        line_of_point[p][row[mine]] = point_row[mine] + 1
        fitted_point[p][row[mine]] = fitted[line[mine]]
    tied_lines = np.flatnonzero(row_of_line >= 0)
    tied = np.zeros(rows, bool)
    tied[row_of_line[tied_lines]] = True
    known = point_row >= 0
    counts = np.bincount(point_row[known] * len(parts) + part[known],
                         minlength=rows * len(parts)).reshape(rows, len(parts))
    first = np.full(rows, -1, np.int64)
    last = np.full(rows, -1, np.int64)
    first[row_of_line[tied_lines]] = starts[tied_lines]
    last[row_of_line[tied_lines]] = ends[tied_lines]
    return FlightLines(part, row, line_of_point, fitted_point, tied, counts, first, last)


def _line_numbers(sweep):
    """Scan line of every point in flight order: a new one wherever the sweep
    index does not increase."""
    if not len(sweep):
        return np.zeros(0, np.int64)
    return np.concatenate(([0], np.cumsum(sweep[1:] <= sweep[:-1])))


# --- merging the files back into one flight -----------------------------

def merge(parts):
    """(part, row) of every point of the parts, in flight order."""
    frame = int(np.argmax([len(h) for h, _ in parts]))
    keys = _time_keys([h for h, _ in parts], frame)
    frame_sweep = np.asarray(parts[frame][1], np.int64)
    frame_line = _line_numbers(frame_sweep)
    line_key = frame_line * SWEEP_SPAN + _sweep_key(frame_sweep)
    others = [p for p in range(len(parts)) if p != frame]
    gap = np.concatenate([_gaps(keys[p], np.asarray(parts[p][1], np.int64), keys[frame],
                                frame_line, line_key) for p in others] + [[]]).astype(np.int64)
    part = np.concatenate([np.full(len(keys[p]), p) for p in others] + [[]]).astype(np.int64)
    row = np.concatenate([np.arange(len(keys[p])) for p in others] + [[]]).astype(np.int64)
    # Points put into the same gap of the frame go by time, then sweep index.
    key = np.concatenate([keys[p] for p in others] + [[]])
    sweep = np.concatenate([parts[p][1] for p in others] + [[]]).astype(np.int64)
    order = np.lexsort((row, part, sweep, key, gap))
    gap, part, row = gap[order], part[order], row[order]
    # The frame's points keep their order; each other point goes before the
    # frame point of its gap, after the others put there before it.
    count = len(keys[frame]) + len(gap)
    merged_part = np.full(count, frame, np.int64)
    merged_row = np.zeros(count, np.int64)
    placed = gap + np.arange(len(gap))
    merged_part[placed] = part
    merged_row[placed] = row
    frame_at = np.arange(len(keys[frame])) + np.searchsorted(gap, np.arange(len(keys[frame])),
                                                             'right')
    merged_row[frame_at] = np.arange(len(keys[frame]))
    return merged_part, merged_row


def _sweep_key(sweep):
    return np.clip(sweep - SWEEP_MIN, 0, SWEEP_SPAN - 1)


def _gaps(key, sweep, frame_key, frame_line, line_key):
    """For each point of a file, the frame point it goes before (len(frame)
    for after the last). Among frame points of its own time it goes where it
    carries on a scan line: into the first of those lines, from the one the
    points before that time end, whose sweep indices it fits between."""
    low = np.searchsorted(frame_key, key, 'left')
    high = np.searchsorted(frame_key, key, 'right')
    gap = low.copy()
    tied = np.flatnonzero(high > low)
    if not len(tied):
        return gap
    low, high, sweep = low[tied], high[tied], _sweep_key(sweep[tied])
    line = frame_line[np.maximum(low - 1, 0)]
    last_line = frame_line[high - 1]
    found = high.copy()  # none fits: after the points of its time
    pending = np.arange(len(tied))
    for _ in range(MAX_LINES_PER_TIME):
        if not len(pending):
            break
        place = np.searchsorted(line_key, line[pending] * SWEEP_SPAN + sweep[pending], 'left')
        fits = (place >= low[pending]) & (place <= high[pending])
        found[pending[fits]] = place[fits]
        pending = pending[~fits]
        line[pending] += 1
        pending = pending[line[pending] <= last_line[pending]]
    gap[tied] = found
    return gap


def _time_keys(hours_of_parts, frame):
    """Each file's times as a non-decreasing key (so that merging keeps every
    file's own order), carried on past midnight, all in the frame's days."""
    keys = [_unwrapped(_filled(np.asarray(h, np.float64))) for h in hours_of_parts]
    start = keys[frame][0] if len(keys[frame]) else 0.0
    for p, key in enumerate(keys):
        if p != frame and len(key):
            key += 24.0 * np.round((start - key[0]) / 24.0)
        keys[p] = np.maximum.accumulate(key) if len(key) else key
    return keys


def _filled(hours):
    """Times that are not finite take the one before them (the first finite
    one at the start)."""
    finite = np.isfinite(hours)
    if finite.all() or not len(hours):
        return hours
    if not finite.any():
        return np.zeros(len(hours))
    index = np.maximum.accumulate(np.where(finite, np.arange(len(hours)), 0))
    filled = hours[index]
    filled[:np.argmax(finite)] = hours[np.argmax(finite)]
    return filled


def _unwrapped(hours):
    """Times carried on past midnight: a day added at every drop of more than
    12 hours."""
    if not len(hours):
        return hours.copy()
    days = np.concatenate(([0], np.cumsum(np.diff(hours) < -HALF_DAY)))
    return hours + 24.0 * days


# --- tying rebuilt lines to the rows of NAME.fit ------------------------

def tie(means, fitted, fit_times):
    """Row of NAME.fit (from 0) of every rebuilt line, -1 for none. Both run
    in flight order; a row whose line left no point in the files (its fit is
    not a number) is passed over, and so is a rebuilt line that no row
    matches."""
    row_of_line = np.full(len(means), -1, np.int64)
    candidates = np.flatnonzero(fitted)
    times = means[candidates].tolist()
    r = 0
    for k, time in enumerate(fit_times.tolist()):
        while r < len(candidates):
            apart = _hours_apart(times[r], time)
            if abs(apart) <= LINE_TIME_TOLERANCE:
                row_of_line[candidates[r]] = k
                r += 1
                break
            if apart < 0 or (apart != apart and time == time):
                r += 1  # a rebuilt line before this row (or without a time)
            else:
                break  # this row has no rebuilt line
    return row_of_line


def _hours_apart(a, b):
    """a - b in hours, across midnight when that is nearer."""
    return (a - b + HALF_DAY) % 24.0 - HALF_DAY
