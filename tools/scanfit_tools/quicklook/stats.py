"""What the figures are computed from: class counts and shares, the median
sigma, shares per time bin, one scan line's points back in flight order, and
the thinned sample that is drawn. Statistics always use every point; only
the sample is thinned."""

import math

import numpy as np

from ..rows import select_points
from ..runs import CLASSES

METRES_PER_DEGREE = 111120.0
NADIR_SIGMA_LIMIT = 3.0
# Point files hold times to 6 decimals (text) or truncated to 7 (binary), the
# .fit file to 6: a scan line's window is widened by this much on each side.
TIME_SLACK = 2e-6
# Points merged one by one (in Python) for a cross-section; windows beyond
# this are merged by sorting.
MERGE_ONE_BY_ONE = 100000


def nearest_rank_median(values):
    """Value at rank ceil(n/2) of the sorted values that are not NaN; NaN if none."""
    values = np.sort(np.asarray(values, float)[~np.isnan(values)])
    return values[(len(values) + 1) // 2 - 1] if len(values) else math.nan


def median_sigma_line(sigma):
    """Index of the first fitted line whose sigma is the median, or None."""
    median = nearest_rank_median(sigma)
    if math.isnan(median):
        return None
    return int(np.flatnonzero(sigma == median)[0])


def class_counts(points):
    return {name: len(points[name]['time']) for name in CLASSES}


def flight_start(run):
    """Time of the flight's first point (the .fit times when there are no points)."""
    firsts = [p['time'][0] for p in run['points'].values() if len(p['time'])]
    if firsts:
        return min(firsts)
    return run['fit']['time'][0] if len(run['fit']['time']) else 0.0


def flight_end(run):
    lasts = [p['time'][-1] for p in run['points'].values() if len(p['time'])]
    return max(lasts) if lasts else flight_start(run)


def time_bin_edges(start, end, points):
    """Equal time bins of about 200 points each, 1 to 100 of them."""
    bins = int(np.clip(points // 200, 1, 100))
    if not end > start:
        end = start + 1e-6
    return np.linspace(start, end, bins + 1)


def shares_per_bin(times_by_class, edges):
    """Share of each class among the points of each time bin (NaN for an empty
    bin), and the points per bin."""
    counts = {name: np.histogram(times, edges)[0] for name, times in times_by_class.items()}
    totals = sum(counts.values())
    with np.errstate(invalid='ignore', divide='ignore'):
        shares = {name: np.where(totals > 0, count / totals, np.nan)
                  for name, count in counts.items()}
    return shares, totals


def thinned_sample(points, limit, seed=0):
    """Per class, a mask keeping about limit points in all, the same share of each."""
    total = sum(len(p['time']) for p in points.values())
    keep = min(1.0, limit / total) if total else 1.0
    rng = np.random.default_rng(seed)
    return {name: rng.random(len(p['time'])) < keep for name, p in points.items()}


# --- one scan line ------------------------------------------------------

def merge_flight_order(parts):
    """Order of the points of several files, each in flight order, merged back
    into one flight: by time, and within equal times the point that carries the
    current scan line on (the smallest sweep index above the last one), else
    the one that starts the next line (the smallest). Returns (part, row) pairs."""
    heads = [0] * len(parts)
    order = []
    last_sweep = None
    while True:
        live = [p for p, (times, _) in enumerate(parts) if heads[p] < len(times)]
        if not live:
            return order
        first_time = min(parts[p][0][heads[p]] for p in live)
        tied = [p for p in live if parts[p][0][heads[p]] == first_time]

        def sweep(p):
            return parts[p][1][heads[p]]
        carrying_on = [p for p in tied if last_sweep is not None and sweep(p) > last_sweep]
        chosen = min(carrying_on or tied, key=sweep)
        order.append((chosen, heads[chosen]))
        last_sweep = sweep(chosen)
        heads[chosen] += 1


def split_scan_lines(sweep):
    """(start, end) of each run of strictly increasing sweep index."""
    if not len(sweep):
        return []
    starts = np.concatenate(([0], np.flatnonzero(np.diff(sweep) <= 0) + 1, [len(sweep)]))
    return list(zip(starts[:-1], starts[1:]))


def scan_line(run, line):
    """Points of the fitted line of index `line` (row of the .fit file), in
    flight order, with 'class' (0 fit, 1 high, 2 low) and 'fitted' elevation."""
    fit_time = run['fit']['time']
    # The line lies between the mean times of its neighbours in the .fit file.
    low = fit_time[line - 1] - TIME_SLACK if line > 0 else -np.inf
    high = fit_time[line + 1] + TIME_SLACK if line + 1 < len(fit_time) else np.inf
    window = _window_in_flight_order(run['points'], low, high)
    spans = split_scan_lines(window['sweep'])
    if not spans:
        return {name: values[:0] for name, values in window.items()} | {'fitted': np.zeros(0)}
    start, end = min(spans, key=lambda span: _mismatch(window, span, run['fit'], line))
    points = {name: values[start:end] for name, values in window.items()}
    if run['kind'] == 'text':
        points['fitted'] = points['elevation'] - points['residual']
    else:
        points['fitted'] = fitted_from_slope(points, run['fit']['slope'][line],
                                             run['fit']['intercept'][line])
    return points


def _window_in_flight_order(points, low, high):
    parts, slices = [], []
    for name in CLASSES:
        times = points[name]['time']
        first, last = np.searchsorted(times, low, 'left'), np.searchsorted(times, high, 'right')
        slices.append(select_points(points[name], slice(first, last)))
        parts.append((slices[-1]['time'], slices[-1]['sweep']))
    if sum(len(times) for times, _ in parts) <= MERGE_ONE_BY_ONE:
        order = merge_flight_order(parts)
        part = np.array([p for p, _ in order], np.int64)
        row = np.array([r for _, r in order], np.int64)
    else:
        # Scan lines this long are rare; sorting by time and sweep index is
        # quick and only misplaces points where two lines share a time.
        part = np.concatenate([np.full(len(t), p) for p, (t, _) in enumerate(parts)])
        row = np.concatenate([np.arange(len(t)) for t, _ in parts])
        by_time = np.lexsort((np.concatenate([w for _, w in parts]),
                              np.concatenate([t for t, _ in parts])))
        part, row = part[by_time], row[by_time]
    window = {'class': part}
    for key in slices[0]:
        if all(key in s for s in slices):
            merged = np.zeros(len(part), slices[0][key].dtype)
            for p, s in enumerate(slices):
                merged[part == p] = s[key][row[part == p]]
            window[key] = merged
    return window


def _mismatch(window, span, fit, line):
    """How far a stretch of points is from being the fitted line: its sigma
    (text runs) first, then the mean time of its first and last points."""
    start, end = span
    sigma_differs = False
    if 'sigma' in window:
        own, fitted = window['sigma'][start], fit['sigma'][line]
        sigma_differs = not (own == fitted or (math.isnan(own) and math.isnan(fitted)))
    mean_time = (window['time'][start] + window['time'][end - 1]) / 2
    return sigma_differs, abs(mean_time - fit['time'][line]), start - end


def fitted_from_slope(points, slope, intercept):
    """Elevation of the line slope * d + intercept, d the ground distance from
    the first point on a flat earth (east shrunk by the cosine of latitude)."""
    if not len(points['latitude']):
        return np.zeros(0)
    north = points['latitude'] - points['latitude'][0]
    east = (points['longitude'] - points['longitude'][0]) * np.cos(np.radians(points['latitude']))
    return intercept + slope * METRES_PER_DEGREE * np.hypot(north, east)
