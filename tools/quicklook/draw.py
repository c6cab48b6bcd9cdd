"""The run figure and the campaign figure (matplotlib, Agg backend)."""

import math
import os

import matplotlib
matplotlib.use('Agg')
import numpy as np  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402
from matplotlib.ticker import ScalarFormatter  # noqa: E402

from . import stats  # noqa: E402
from .readers import CLASSES, select_points  # noqa: E402

# Okabe-Ito colours, readable with the common colour-vision deficiencies; the
# classes also differ by marker so that they read in grey too.
OKABE_ITO = ('#E69F00', '#56B4E9', '#009E73', '#F0E442', '#0072B2', '#D55E00',
             '#CC79A7', '#000000')
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
    figure.suptitle(run_title(run), fontsize=13)
    return figure


def run_title(run):
    report = run['report'] or {'input': {}}
    counts = stats.class_counts(run['points'])
    in_files = sum(counts.values())
    points = report.get('points', in_files)
    name = report['input'].get('file', run['name'])
    form = report['input'].get('form', run['kind'])
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

def _flight_colours(count):
    if count <= len(OKABE_ITO):
        return OKABE_ITO[:count]
    return [matplotlib.colormaps['viridis'](i / max(count - 1, 1)) for i in range(count)]


def campaign_figure(folder, flights):
    figure = _new_figure(CAMPAIGN_FIGURE_INCHES)
    grid = figure.add_gridspec(2, 2, width_ratios=(1, 1.1))
    colours = dict(zip((f['name'] for f in flights), _flight_colours(len(flights))))
    _draw_tracks(figure.add_subplot(grid[:, 0]), flights, colours)
    _draw_sigma_boxes(figure.add_subplot(grid[0, 1]), flights, colours)
    _draw_campaign_shares(figure.add_subplot(grid[1, 1]), flights)
    figure.suptitle(campaign_title(folder, flights), fontsize=13)
    return figure


def campaign_title(folder, flights):
    failed = [f for f in flights if f['status'] != 0]
    done = [f for f in flights if f['status'] == 0]
    points = int(np.nansum([f['points'] for f in done]))
    lines = int(np.nansum([f['fitted_lines'] for f in done]))
    title = (f'campaign {os.path.basename(os.path.normpath(folder))}: {len(flights)} flights, '
             f'{points:,} points, {lines:,} fitted lines')
    if failed:
        title += '\nfailed: ' + ', '.join(f'{f["name"]} (status {f["status"]})' for f in failed)
    return title


def _draw_tracks(axes, flights, colours):
    latitudes = []
    for flight in flights:
        ver = flight['ver']
        if ver is None or not len(ver['time']):
            continue
        colour = colours[flight['name']]
        axes.plot(ver['longitude'], ver['latitude'], color=colour, linewidth=1.5)
        # A marker at the start keeps a short track visible among far-apart ones.
        axes.plot(ver['longitude'][:1], ver['latitude'][:1], color=colour, marker='o',
                  markersize=7, markeredgecolor='black', linestyle='none',
                  label=f'{flight["name"]} ({len(ver["time"]):,} nadir records)')
        axes.annotate(flight['name'], (ver['longitude'][0], ver['latitude'][0]),
                      xytext=(6, 4), textcoords='offset points', fontsize=9)
        latitudes.append(ver['latitude'])
    if not latitudes:
        _say_empty(axes, 'no nadir records')
        return
    _degree_axes(axes, float(np.mean(np.concatenate(latitudes))))
    axes.set_title('nadir tracks (dot: start of each track)', fontsize=11)
    axes.legend(loc='best', fontsize=8, framealpha=0.85)


# Flights whose sigma boxes are labelled with their line counts too.
MOST_LABELLED_FLIGHTS = 6


def _flight_labels(axes, flights, labels=None):
    axes.set_xticks(range(1, len(flights) + 1))
    rotation = 0 if len(flights) <= 5 else 30
    axes.set_xticklabels(labels or [f['name'] for f in flights], rotation=rotation,
                         ha='center' if rotation == 0 else 'right', fontsize=9)


def _draw_sigma_boxes(axes, flights, colours):
    axes.set_ylabel('sigma (m)')
    axes.set_title('sigma of the fitted lines per flight', fontsize=11)
    axes.grid(axis='y', color='0.9', linewidth=0.6)
    positions, samples, box_colours, labels = [], [], [], []
    for position, flight in enumerate(flights, start=1):
        sigma = flight['fit']['sigma'] if flight['fit'] is not None else np.zeros(0)
        drawable = sigma[np.isfinite(sigma) & (sigma > 0)]
        if flight['fit'] is None:
            labels.append(f'{flight["name"]}\n' + ('failed' if flight['status'] else 'no outputs'))
        else:
            not_drawn = len(sigma) - len(drawable)
            # One fact a line, so that neighbouring labels never meet.
            labels.append(f'{flight["name"]}\n{_lines(len(sigma))}'
                          + (f'\n{not_drawn} not a number' if not_drawn else ''))
        if len(drawable):
            positions.append(position)
            samples.append(drawable)
            box_colours.append(colours[flight['name']])
    if not samples:
        _say_empty(axes, 'no fitted lines')
    else:
        boxes = axes.boxplot(samples, positions=positions, widths=0.6, patch_artist=True,
                             manage_ticks=False, flierprops={'marker': '.', 'markersize': 3},
                             medianprops={'color': 'black'})
        for box, colour in zip(boxes['boxes'], box_colours):
            box.set_facecolor(colour)
            box.set_alpha(0.8)
        axes.set_yscale('log')
        axes.axhline(stats.NADIR_SIGMA_LIMIT, color=LIMIT_COLOUR, linestyle='--', linewidth=1)
        axes.legend(handles=[Line2D([], [], color=LIMIT_COLOUR, linestyle='--',
                                    label='3.0 m: lines below give nadir records')],
                    loc='upper left', fontsize=8)
    # Many flights leave no room for more than their names.
    _flight_labels(axes, flights, labels if len(flights) <= MOST_LABELLED_FLIGHTS else None)
    axes.set_xlim(0.5, len(flights) + 0.5)


def _draw_campaign_shares(axes, flights):
    axes.set_ylabel('share of points (%)')
    axes.set_title('high and low points per flight', fontsize=11)
    axes.grid(axis='y', color='0.9', linewidth=0.6)
    positions = np.arange(1, len(flights) + 1)
    for offset, name in ((-0.2, 'high'), (0.2, 'low')):
        shares = np.array([f[f'{name}_share'] for f in flights]) * 100
        axes.bar(positions + offset, np.nan_to_num(shares), width=0.4,
                 color=CLASS_STYLE[name]['color'], label=CLASS_STYLE[name]['label'])
    for position, flight in zip(positions, flights):
        if flight['status'] != 0:
            axes.text(position, 0.04, f'failed\n(status {flight["status"]})', ha='center',
                      va='bottom', fontsize=8, transform=axes.get_xaxis_transform())
    _flight_labels(axes, flights)
    axes.set_xlim(0.5, len(flights) + 0.5)
    axes.set_ylim(0, max(axes.get_ylim()[1], 0.1) * 1.2)
    axes.set_axisbelow(True)
    axes.legend(loc='upper right', fontsize=8)
