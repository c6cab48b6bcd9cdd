"""The run figure and the campaign figure (matplotlib, Agg backend)."""

import math
import os
import textwrap

import matplotlib
matplotlib.use('Agg')
import numpy as np  # noqa: E402
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.font_manager import FontProperties  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.ticker import ScalarFormatter  # noqa: E402
from matplotlib.transforms import offset_copy  # noqa: E402

from . import stats  # noqa: E402
from ..rows import select_points  # noqa: E402
from ..runs import CLASSES, printable  # noqa: E402

# Okabe-Ito colours, readable with the common colour-vision deficiencies; the
# classes also differ by marker so that they read in grey too.
CLASS_STYLE = {
    'fit': {'color': '#56B4E9', 'marker': 'o', 'label': 'fit (residual -50 to 5 m)'},
    'high': {'color': '#D55E00', 'marker': '^', 'label': 'high (residual above 5 m)'},
    'low': {'color': '#0072B2', 'marker': 'v', 'label': 'low (residual below -50 m)'},
}
SIGMA_COLOUR, SLOPE_COLOUR, INTERCEPT_COLOUR = '#0072B2', '#009E73', '#CC79A7'
LIMIT_COLOUR = '#D55E00'
MAP_SAMPLE = 30000
CROSS_SECTION_SAMPLE = 20000
RUN_FIGURE_INCHES = (14, 10)
CAMPAIGN_FIGURE_INCHES = (14, 9)
DPI = 100


def save(figure, path, dpi=DPI):
    """Write the figure; the format follows the file's extension."""
    figure.savefig(path, dpi=dpi)


def _new_figure(inches):
    figure = Figure(figsize=inches, dpi=DPI, layout='constrained')
    figure.get_layout_engine().set(h_pad=0.06, w_pad=0.06)
    return figure


def _say_empty(axes, text):
    axes.text(0.5, 0.5, text, transform=axes.transAxes, ha='center', va='center',
              color='0.4')


def _degree_axes(axes, mean_latitude):
    # A degree of longitude is shorter than one of latitude by cos(latitude).
    axes.set_aspect(1 / max(math.cos(math.radians(mean_latitude)), 0.01), adjustable='datalim')
    axes.set_xlabel('longitude (degrees east)')
    axes.set_ylabel('latitude (degrees north)')
    for axis in (axes.xaxis, axes.yaxis):
        axis.set_major_formatter(ScalarFormatter(useOffset=False))
    axes.tick_params(axis='x', labelrotation=20)
    axes.grid(color='0.9', linewidth=0.6)


def _share(count, total):
    if not total:
        return 'n/a'
    return '<0.1%' if 0 < count / total < 0.001 else f'{count / total:.1%}'


def _robust_range(values):
    """Range of the middle 99% of the values, so that a few wild ones do not
    flatten the rest (the figures mark those beyond it)."""
    if not len(values):
        return np.nan, np.nan
    return (np.percentile(values, 0.5, method='lower'),
            np.percentile(values, 99.5, method='higher'))


def _marker_size(count, few, many):
    return few if count <= 300 else many


# --- one run ---------------------------------------------------------------

def run_figure(run, line=None):
    """The figure of one run; line is the .fit row of the cross-section (the
    line with the median sigma when None)."""
    figure = _new_figure(RUN_FIGURE_INCHES)
    outer = figure.add_gridspec(1, 2, width_ratios=(1, 1.1))
    left = outer[0].subgridspec(2, 1, height_ratios=(1.45, 1))
    right = outer[1].subgridspec(4, 1)
    start = stats.flight_start(run)

    _draw_track(figure, figure.add_subplot(left[0]), run)
    sigma_axes = figure.add_subplot(right[0])
    slope_axes = figure.add_subplot(right[1], sharex=sigma_axes)
    intercept_axes = figure.add_subplot(right[2], sharex=sigma_axes)
    shares_axes = figure.add_subplot(right[3], sharex=sigma_axes)
    seconds = (run['fit']['time'] - start) * 3600
    sigma = run['fit']['sigma']
    _draw_sigma(sigma_axes, seconds, sigma)
    _draw_along(slope_axes, seconds, run['fit']['slope'], sigma, SLOPE_COLOUR,
                'slope (m per m)')
    _draw_along(intercept_axes, seconds, run['fit']['intercept'], sigma,
                INTERCEPT_COLOUR, 'intercept (m)')
    _draw_shares(shares_axes, run, start)
    for axes in (sigma_axes, slope_axes, intercept_axes):
        axes.tick_params(labelbottom=False)
    shares_axes.set_xlabel(f'time after the first point, {start:.6f} h (s)')

    if line is None:
        line = stats.median_sigma_line(run['fit']['sigma'])
        if line is None and len(run['fit']['time']):
            line = 0
    _draw_cross_section(figure.add_subplot(left[1]), run, line)
    figure.suptitle(run_title(run), fontsize=13, parse_math=False)
    return figure


def run_title(run):
    report = run['report'] or {}
    counts = stats.class_counts(run['points'])
    in_files = sum(counts.values())
    points = report.get('points') or in_files
    name = printable(report.get('file') or run['name'])
    form = report.get('form') or run['kind']
    shares = ', '.join(f'{kind} {_share(counts[kind], points)}' for kind in CLASSES)
    if points > in_files:
        shares += f', no residual {_share(points - in_files, points)}'
    median = stats.nearest_rank_median(run['fit']['sigma'])
    return (f'{name}: {points:,} points, {len(run["fit"]["time"]):,} fitted lines, '
            f'median sigma {_sigma_text(median) if not math.isnan(median) else "n/a"}\n'
            f'points by class: {shares}   ({form} run, '
            f'{len(run["ver"]["time"]):,} nadir records)')


def _draw_track(figure, axes, run):
    ver, points = run['ver'], run['points']
    keep = stats.thinned_sample(points, MAP_SAMPLE)
    drawn = sum(int(mask.sum()) for mask in keep.values())
    sample = {name: select_points(points[name], keep[name]) for name in CLASSES}
    fit_size = 3 if drawn > 1000 else 10
    for name in (kind for kind in CLASSES if len(sample[kind]['time'])):
        style = CLASS_STYLE[name]
        axes.scatter(sample[name]['longitude'], sample[name]['latitude'],
                     s=fit_size if name == 'fit' else 9, marker=style['marker'],
                     color=style['color'], alpha=0.35 if name == 'fit' else 0.8, linewidths=0,
                     label=f'{name} points', rasterized=True)
    if len(ver['time']):
        few = len(ver['time']) <= 300
        if few:
            axes.plot(ver['longitude'], ver['latitude'], color='black', linewidth=0.6)
        elevation = ver['elevation'][np.isfinite(ver['elevation'])]
        low, high = _robust_range(elevation)
        beyond = {(False, False): 'neither', (True, False): 'min', (False, True): 'max',
                  (True, True): 'both'}[(bool((elevation < low).any()),
                                         bool((elevation > high).any()))]
        nadir = axes.scatter(ver['longitude'], ver['latitude'], c=ver['elevation'],
                             cmap='viridis', vmin=low, vmax=high, s=36 if few else 4,
                             edgecolors='black', linewidths=0.6 if few else 0,
                             zorder=3, label='nadir records', rasterized=not few)
        figure.colorbar(nadir, ax=axes, label='nadir elevation (m)', shrink=0.85,
                        extend=beyond)
    latitudes = np.concatenate([ver['latitude']] + [p['latitude'] for p in sample.values()])
    if not len(latitudes):
        _say_empty(axes, 'no points and no nadir records')
        return
    _degree_axes(axes, float(np.nanmean(latitudes)))
    total = sum(len(p['time']) for p in points.values())
    axes.set_title(f'track: nadir records over {drawn:,} of {total:,} points', fontsize=11)
    axes.legend(loc='best', fontsize=8, markerscale=2, framealpha=0.85)


def _legend_beside(axes):
    if axes.get_legend_handles_labels()[0]:
        axes.legend(loc='upper left', bbox_to_anchor=(1.01, 1), fontsize=8, frameon=False)


def _sigma_text(sigma):
    return f'{sigma:.3f} m' if math.isfinite(sigma) else 'not a number' if math.isnan(sigma) \
        else 'infinite'


def _mark_outside(axes, x, above, below, label):
    """Values that cannot be drawn on the scale: triangles on the top and bottom edges."""
    edge = axes.get_xaxis_transform()
    for mask, y, marker in ((above, 0.94, '^'), (below, 0.06, 'v')):
        if mask.any():
            axes.scatter(x[mask], np.full(mask.sum(), y), transform=edge, marker=marker,
                         s=_marker_size(mask.sum(), 30, 8), color='black', linewidths=0,
                         label=label(int(mask.sum()), marker), zorder=3)


def _lines(count):
    return f'{count} line' if count == 1 else f'{count} lines'


def _draw_sigma(axes, seconds, sigma):
    axes.set_ylabel('sigma (m)')
    axes.grid(color='0.9', linewidth=0.6)
    if not len(sigma):
        _say_empty(axes, 'no fitted lines')
        return
    positive = np.isfinite(sigma) & (sigma > 0)
    axes.scatter(seconds[positive], sigma[positive], s=_marker_size(len(sigma), 10, 3),
                 color=SIGMA_COLOUR, linewidths=0, label='sigma of a fitted line')
    axes.set_yscale('log')
    axes.axhline(stats.NADIR_SIGMA_LIMIT, color=LIMIT_COLOUR, linestyle='--', linewidth=1,
                 label='3.0 m: lines below give nadir records')
    _mark_outside(axes, seconds, ~np.isfinite(sigma), sigma == 0,
                  lambda n, m: f'{_lines(n)}: sigma not a number or infinite' if m == '^'
                  else f'{_lines(n)}: sigma 0.000')
    # Headroom keeps the limit line clear of the marks on the top edge.
    axes.set_ylim(top=max(np.max(sigma[positive], initial=0), stats.NADIR_SIGMA_LIMIT) * 6)
    axes.set_title('sigma of each fitted line', fontsize=10, loc='left')
    _legend_beside(axes)


def _draw_along(axes, seconds, values, sigma, colour, label):
    """Values of the fitted lines along the flight, on the scale of the lines
    that give nadir records; the others, whose fit may have failed, are marked
    on the edges when beyond it."""
    axes.set_ylabel(label)
    axes.grid(color='0.9', linewidth=0.6)
    finite = np.isfinite(values)
    good = finite & (sigma < stats.NADIR_SIGMA_LIMIT)
    low, high = _robust_range(values[good] if good.any() else values[finite])
    if np.isnan(low):
        _say_empty(axes, 'no fitted lines')
        return
    inside = finite & (values >= low) & (values <= high)
    if len(values) <= 300:
        axes.plot(seconds[inside], values[inside], color=colour, marker='.', markersize=4,
                  linewidth=0.8)
    else:
        axes.scatter(seconds[inside], values[inside], color=colour, s=3, linewidths=0)
    pad = 0.1 * (high - low) or max(0.1 * abs(high), 1e-3)
    axes.set_ylim(low - pad, high + pad)
    _mark_outside(axes, seconds, ~finite | (values > high), values < low,
                  lambda n, m: f'{_lines(n)} above the scale' if m == '^'
                  else f'{_lines(n)} below the scale')
    axes.set_title(label.split(' (')[0] + ' of each fitted line', fontsize=10, loc='left')
    _legend_beside(axes)


def _draw_shares(axes, run, start):
    points = run['points']
    total = sum(len(p['time']) for p in points.values())
    axes.set_ylabel('share of points (%)')
    axes.grid(color='0.9', linewidth=0.6)
    if not total:
        _say_empty(axes, 'no points')
        return
    edges = stats.time_bin_edges(start, stats.flight_end(run), total)
    shares, _ = stats.shares_per_bin({name: p['time'] for name, p in points.items()}, edges)
    seconds = (edges - start) * 3600
    for name in ('high', 'low'):
        axes.stairs(shares[name] * 100, seconds, color=CLASS_STYLE[name]['color'],
                    linewidth=1.4, label=CLASS_STYLE[name]['label'])
    axes.set_ylim(bottom=0)
    bins = len(edges) - 1
    axes.set_title(f'high and low points per time bin ({bins} bin{"s" * (bins > 1)})',
                   fontsize=10, loc='left')
    _legend_beside(axes)


def _draw_cross_section(axes, run, line):
    axes.set_xlabel('sweep index')
    axes.set_ylabel('elevation (m)')
    axes.grid(color='0.9', linewidth=0.6)
    if line is None:
        _say_empty(axes, 'no fitted lines')
        return
    points = stats.scan_line(run, line)
    fit = run['fit']
    axes.set_title(f'cross-section of fitted line {line + 1} of {len(fit["time"])} '
                   f'(sigma {_sigma_text(fit["sigma"][line])}, {fit["time"][line]:.6f} h)',
                   fontsize=11)
    if not len(points['time']):
        _say_empty(axes, 'its points are in none of the point files')
        return
    keep = stats.thinned_sample({'all': points}, CROSS_SECTION_SAMPLE)['all']
    for code, name in enumerate(CLASSES):
        chosen = keep & (points['class'] == code)
        style = CLASS_STYLE[name]
        axes.scatter(points['sweep'][chosen], points['elevation'][chosen], s=12,
                     marker=style['marker'], color=style['color'], linewidths=0,
                     label=f'{style["label"]}: {int((points["class"] == code).sum())}')
    if run['kind'] == 'text':
        fitted_label = 'fitted line (elevation minus residual)'
    else:
        fitted_label = ('fitted line, from slope and intercept in the .fit file\n'
                        '(3 decimals, ground distance from the first point)')
    fitted = axes.plot(points['sweep'], points['fitted'], color='black', linewidth=1.2,
                       label=fitted_label)[0]
    low, high = _cross_section_view(points)
    axes.set_ylim(low, high)
    _mark_outside(axes, points['sweep'], points['elevation'] > high, points['elevation'] < low,
                  lambda n, m: f'{n} point{"s" * (n > 1)} {"above" if m == "^" else "below"}'
                  ' the view')
    if not ((points['fitted'] >= low) & (points['fitted'] <= high)).all():
        fitted.set_label(fitted_label + ', leaves the view')
    axes.legend(loc='best', fontsize=8, framealpha=0.85)


def _cross_section_view(points):
    """Elevations shown: the fit points and the line through them, with room
    around them; a far outlier would otherwise flatten the ground to a line."""
    fit = points['class'] == 0
    base = np.concatenate([points['elevation'][fit], points['fitted'][fit]])
    if not fit.any():
        base = points['elevation']
    base = base[np.isfinite(base)]
    if not len(base):
        return -1.0, 1.0
    margin = max(0.5 * (base.max() - base.min()), 10.0)
    elevation = points['elevation'][np.isfinite(points['elevation'])]
    low = max(base.min() - margin, min(elevation.min(), base.min()))
    high = min(base.max() + margin, max(elevation.max(), base.max()))
    pad = 0.05 * (high - low) or 1.0
    return low - pad, high + pad


# --- a campaign ------------------------------------------------------------

# Okabe-Ito without its yellow, which is faint on white, in an order where
# neighbours contrast. Past seven flights the marker changes too, so that
# colour and marker together keep 56 flights apart.
FLIGHT_COLOURS = ('#0072B2', '#E69F00', '#009E73', '#CC79A7', '#56B4E9', '#D55E00',
                  '#000000')
FLIGHT_MARKERS = ('o', 's', '^', 'D', 'v', 'P', 'X', 'p')
# A flight's row in the right-hand panels; more flights than the usual
# height holds make the figure taller.
ROW_INCHES = 0.22
FEWEST_ROWS = 8
# The row number tells flights apart, so a longer name may lose its middle.
LONGEST_NAME = 40
NUMBER_POINTS = 8


def flight_styles(count):
    """(colour, marker) of each flight, in the order of the summary."""
    return [(FLIGHT_COLOURS[i % len(FLIGHT_COLOURS)],
             FLIGHT_MARKERS[i // len(FLIGHT_COLOURS) % len(FLIGHT_MARKERS)])
            for i in range(count)]


def campaign_figure(folder, flights):
    width, height = CAMPAIGN_FIGURE_INCHES
    figure = _new_figure((width, max(height, 2.4 + ROW_INCHES * len(flights))))
    grid = figure.add_gridspec(1, 3, width_ratios=(1.2, 1, 0.7))
    left = grid[0].subgridspec(2, 1, height_ratios=(3, 1))
    styles = flight_styles(len(flights))
    map_axes, key_axes = figure.add_subplot(left[0]), figure.add_subplot(left[1])
    sigma_axes = figure.add_subplot(grid[1])
    shares_axes = figure.add_subplot(grid[2], sharey=sigma_axes)
    figure.suptitle(campaign_title(folder, flights), fontsize=13, parse_math=False)
    _draw_sigma_rows(sigma_axes, flights, styles)
    _draw_share_rows(shares_axes, flights)
    on_map = _draw_tracks(map_axes, flights, styles)
    _draw_key(key_axes, flights, on_map)
    if on_map:
        _within_the_poles(figure, map_axes)
    _number_tracks(figure, map_axes, flights, on_map)
    return figure


def failure(flight):
    if flight.get('reason') == 'stopped':
        return 'stopped'
    status = flight['status']
    return 'never ran' if status is None else f'status {status}'


def campaign_title(folder, flights):
    failed = [f for f in flights if f['failed']]
    done = [f for f in flights if not f['failed']]
    points = int(np.nansum([f['points'] for f in done]))
    lines = int(np.nansum([f['fitted_lines'] for f in done]))
    title = (f'campaign {printable(os.path.basename(os.path.normpath(folder)))}: {len(flights)} '
             f'flight{"s" * (len(flights) != 1)}, '
             f'{points:,} points, {lines:,} fitted lines')
    if failed:
        named = ', '.join(f'{printable(f["name"])} ({failure(f)})' for f in failed)
        title += '\nfailed: ' + (named if len(named) <= 110 else
                                 f'{len(failed)} flights, marked in their rows')
    return title


def _drawable(sigma):
    return sigma[np.isfinite(sigma) & (sigma > 0)]


def flight_note(flight):
    """Why a flight has no sigma box, or None when it has one."""
    if flight['failed']:
        return f'failed ({failure(flight)}): not drawn'
    if flight['points'] == 0:
        return 'no points'
    if flight['fit'] is None:
        return 'no outputs in its folder'
    sigma = flight['fit']['sigma']
    if not len(sigma):
        return f'{int(flight["points"]):,} points, no fitted lines'
    if not len(_drawable(sigma)):
        return f'{_lines(len(sigma))}, none with a sigma above 0'
    return None


def _line_count(flight):
    if flight['failed']:
        return ''
    if flight['fit'] is None:
        return _lines(int(flight['fitted_lines'])) if math.isfinite(flight['fitted_lines']) \
            else ''
    sigma = flight['fit']['sigma']
    not_drawn = len(sigma) - len(_drawable(sigma))
    return _lines(len(sigma)) + (f', {not_drawn} not drawn' if 0 < not_drawn < len(sigma)
                                 else '')


def _row_name(row, name):
    name = printable(name)
    if len(name) > LONGEST_NAME:
        half = LONGEST_NAME // 2
        name = name[:half - 1] + '\u2026' + name[-half:]
    return f'{row}  {name}'


def _flight_rows(axes, count):
    """Every other row shaded, so that a row reads across both panels."""
    for row in range(2, count + 1, 2):
        axes.axhspan(row - 0.5, row + 0.5, color='0.94', linewidth=0, zorder=0)
    axes.set_ylim(max(count, FEWEST_ROWS) + 0.5, 0.5)
    axes.grid(axis='x', color='0.85', linewidth=0.6)
    axes.set_axisbelow(True)


def _row_note(axes, row, text):
    axes.text(0.01, row, text, transform=axes.get_yaxis_transform(), va='center', fontsize=8,
              color='0.25', style='italic',
              bbox={'facecolor': 'white', 'edgecolor': 'none', 'alpha': 0.8, 'pad': 1})


def _dark(colour):
    red, green, blue = matplotlib.colors.to_rgb(colour)
    return 0.299 * red + 0.587 * green + 0.114 * blue < 0.45


def _draw_sigma_rows(axes, flights, styles):
    rows = np.arange(1, len(flights) + 1)
    _flight_rows(axes, len(flights))
    samples, positions, fills = [], [], []
    for row, flight, (colour, _) in zip(rows, flights, styles):
        note = flight_note(flight)
        if note:
            _row_note(axes, row, note)
        else:
            samples.append(_drawable(flight['fit']['sigma']))
            positions.append(row)
            fills.append(colour)
    axes.set_xscale('log')
    if samples:
        boxes = axes.boxplot(samples, positions=positions, vert=False, widths=0.6,
                             patch_artist=True, manage_ticks=False,
                             flierprops={'marker': '.', 'markersize': 3})
        for box, median, colour in zip(boxes['boxes'], boxes['medians'], fills):
            box.set_facecolor(colour)
            median.set_color('white' if _dark(colour) else 'black')
            median.set_linewidth(1.5)
    else:
        axes.set_xlim(0.01, 10)
    axes.axvline(stats.NADIR_SIGMA_LIMIT, color=LIMIT_COLOUR, linestyle='--', linewidth=1)
    axes.set_xlim(right=max(axes.get_xlim()[1], 2 * stats.NADIR_SIGMA_LIMIT))
    axes.set_xlabel('sigma of a fitted line (m)')
    axes.set_title('sigma of the fitted lines per flight', fontsize=11)
    # Names are drawn as they are: '$' starts no mathematics.
    axes.set_yticks(rows, [_row_name(row, f['name']) for row, f in zip(rows, flights)],
                    fontsize=8, parse_math=False)
    # Room left of the frame for each flight's marker, as on the map.
    axes.tick_params(axis='y', length=0, pad=14)
    beside = offset_copy(axes.get_yaxis_transform(), fig=axes.figure, x=-7, units='points')
    for row, (colour, marker) in zip(rows, styles):
        axes.plot([0], [row], marker=marker, color=colour, markersize=6,
                  markeredgecolor='black', markeredgewidth=0.5, transform=beside,
                  clip_on=False, linestyle='none')
    counts = axes.secondary_yaxis('right')
    counts.set_yticks(rows, [_line_count(f) for f in flights], fontsize=8)
    counts.tick_params(length=0)


def _draw_share_rows(axes, flights):
    rows = np.arange(1, len(flights) + 1)
    _flight_rows(axes, len(flights))
    shown = np.array([not f['failed'] and f['points'] > 0 for f in flights], bool)
    highest = 0.0
    for offset, name in ((-0.2, 'high'), (0.2, 'low')):
        shares = np.array([f[f'{name}_share'] for f in flights]) * 100
        axes.barh(rows[shown] + offset, shares[shown], height=0.38,
                  color=CLASS_STYLE[name]['color'])
        highest = max(highest, np.nanmax(shares[shown], initial=0))
    for row, flight in zip(rows, flights):
        if flight['failed']:
            _row_note(axes, row, 'failed')
        elif flight['points'] == 0:
            _row_note(axes, row, 'no points')
        elif flight['high_share'] == 0 and flight['low_share'] == 0:
            _row_note(axes, row, 'none high or low')
    axes.set_xlim(0, max(highest * 1.15, 1))
    axes.set_xlabel('share of points (%)')
    axes.set_title('high and low points per flight', fontsize=11)
    axes.tick_params(axis='y', labelleft=False, length=0)


def _draw_tracks(axes, flights, styles):
    """Draws the tracks; returns the indices of the flights on the map."""
    on_map = []
    for index, (flight, (colour, marker)) in enumerate(zip(flights, styles)):
        ver = flight['ver']
        if ver is None or not len(ver['time']):
            continue
        axes.plot(ver['longitude'], ver['latitude'], color=colour, linewidth=1.5, zorder=2)
        # A marker at the start keeps a short track visible among far-apart ones.
        axes.plot(ver['longitude'][:1], ver['latitude'][:1], color=colour, marker=marker,
                  markersize=7, markeredgecolor='black', markeredgewidth=0.6,
                  linestyle='none', zorder=3)
        on_map.append(index)
    if not on_map:
        _say_empty(axes, 'no nadir records')
        axes.set_xticks([])
        axes.set_yticks([])
        return on_map
    latitudes = np.concatenate([flights[i]['ver']['latitude'] for i in on_map])
    _degree_axes(axes, float(np.mean(latitudes)))
    axes.set_title('nadir tracks, numbered by row at their start', fontsize=11)
    return on_map


def _within_the_poles(figure, axes):
    """Keeps the map's latitudes within -90 to 90 degrees: near a pole, fitting
    the frame at the right aspect would widen the latitudes past it, so the
    frame narrows instead."""
    figure.draw_without_rendering()
    low, high = axes.get_ylim()
    if low < -90 or high > 90:
        axes.set_adjustable('box')
        axes.set_ylim(max(low, -90), min(high, 90))


def _draw_key(axes, flights, on_map):
    axes.axis('off')
    handles = [
        Line2D([], [], color='0.4', linewidth=1.5, label='nadir track of a flight'),
        Line2D([], [], color='0.4', marker='o', markeredgecolor='black', linestyle='none',
               label="its start and row number; its colour and marker\n"
                     'are those beside its name'),
        Line2D([], [], color=LIMIT_COLOUR, linestyle='--',
               label='sigma 3.0 m: lines below give nadir records'),
        Line2D([], [], linestyle='none',
               label='lines not drawn: sigma not a number, infinite or 0'),
        Patch(color=CLASS_STYLE['high']['color'], label=CLASS_STYLE['high']['label']),
        Patch(color=CLASS_STYLE['low']['color'], label=CLASS_STYLE['low']['label']),
    ]
    off = [str(i + 1) for i in range(len(flights)) if i not in on_map]
    if off:
        handles.append(Line2D([], [], linestyle='none', label=textwrap.fill(
            'not on the map (no nadir records or failed): '
            + ('row ' if len(off) == 1 else 'rows ') + ', '.join(off), 60)))
    axes.legend(handles=handles, loc='upper left', fontsize=8, frameon=False,
                borderaxespad=0)


def _number_tracks(figure, axes, flights, on_map):
    """Each track's row number beside its start. Tracks often start close
    together, so each number goes where it covers no other number or start,
    and its line back to the start (when it is not in the nearest ring)
    crosses none: tried round its start at growing distances, else where it
    covers least."""
    if not on_map:
        return
    renderer = FigureCanvasAgg(figure).get_renderer()
    figure.draw_without_rendering()  # settles the layout, and with it where the starts are
    scale = figure.dpi / 72
    starts = [(flights[i]['ver']['longitude'][0], flights[i]['ver']['latitude'][0])
              for i in on_map]
    dots = axes.transData.transform(starts)
    taken = np.concatenate([dots - 5 * scale, dots + 5 * scale], axis=1)
    frame = axes.get_window_extent()
    angles = np.radians(NUMBER_ANGLES)
    radii = np.array(NUMBER_RADII, float)[:, None] * scale
    dx, dy = (radii * np.cos(angles)).ravel(), (radii * np.sin(angles)).ravel()
    ring = np.repeat(np.arange(len(NUMBER_RADII)), len(angles))
    along = np.linspace(0, 1, 12)[None, :, None]
    font = FontProperties(size=NUMBER_POINTS)
    for index, start, (x, y) in zip(on_map, starts, dots):
        text = str(index + 1)
        width, height, _ = renderer.get_text_width_height_descent(text, font, ismath=False)
        width, height = width + 4 * scale, height + 2 * scale
        boxes = np.column_stack([x + dx - width / 2, y + dy - height / 2,
                                 x + dx + width / 2, y + dy + height / 2])
        inside = ((boxes[:, 0] >= frame.x0) & (boxes[:, 2] <= frame.x1)
                  & (boxes[:, 1] >= frame.y0) & (boxes[:, 3] <= frame.y1))
        cost = _overlap(boxes, taken) + np.where(inside, 0, width * height)
        # The line runs from the edge of the start's marker to the number.
        leader = np.stack([x + dx, y + dy], axis=1)[:, None, :] * along \
            + np.array([x, y]) * (1 - along)
        near = np.hypot(*(leader - [x, y]).transpose(2, 0, 1)) > 6 * scale
        crossed = _within(leader, taken) & near[:, :, None]
        cost += np.where(ring > 0, crossed.sum(axis=(1, 2)) * 20 * scale ** 2, 0)
        best = int(np.argmax(cost == 0)) if (cost == 0).any() else int(np.argmin(cost))
        taken = np.vstack([taken, boxes[best]])
        line = None
        if ring[best]:
            line = {'arrowstyle': '-', 'color': '0.3', 'linewidth': 0.6, 'shrinkA': 0,
                    'shrinkB': 4}
            points = leader[best][near[best]]
            taken = np.vstack([taken, np.hstack([points - 1.5 * scale, points + 1.5 * scale])])
        axes.annotate(text, start, xytext=(dx[best] / scale, dy[best] / scale),
                      textcoords='offset points', ha='center', va='center',
                      fontsize=NUMBER_POINTS, zorder=4, arrowprops=line, annotation_clip=False,
                      bbox={'boxstyle': 'round,pad=0.15', 'facecolor': 'white',
                            'edgecolor': 'none', 'alpha': 0.85}).set_in_layout(False)


# Upper right first, where a number is usually looked for.
NUMBER_ANGLES = (30, 150, 330, 210, 90, 270, 0, 180, 60, 120, 300, 240)
NUMBER_RADII = (9, 16, 26, 38, 52, 70, 90, 115, 145)


def _overlap(boxes, others):
    """Area of each box (x0, y0, x1, y1) covered by the others, in all."""
    width = (np.minimum(boxes[:, None, 2], others[None, :, 2])
             - np.maximum(boxes[:, None, 0], others[None, :, 0]))
    height = (np.minimum(boxes[:, None, 3], others[None, :, 3])
              - np.maximum(boxes[:, None, 1], others[None, :, 1]))
    return (np.clip(width, 0, None) * np.clip(height, 0, None)).sum(axis=1)


def _within(points, boxes):
    """Whether each point (..., 2) lies in each box."""
    x, y = points[..., 0, None], points[..., 1, None]
    return (x > boxes[:, 0]) & (x < boxes[:, 2]) & (y > boxes[:, 1]) & (y < boxes[:, 3])
