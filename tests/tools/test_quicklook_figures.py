import itertools
import json
import os
import shutil
import struct

import numpy as np
import pytest
from conftest import run_quicklook
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.colors import to_rgb
from matplotlib.image import imread
from matplotlib.text import Text
from matplotlib.transforms import Bbox

from scanfit_tools import runs
from scanfit_tools.quicklook import cli, draw

PNG_SIGNATURE = b'\x89PNG\r\n\x1a\n'
# Panels whose data has one colour are checked for that colour; the others for
# any saturated colour (text, axes and grid lines are grey or black).
PANEL_COLOURS = {'sigma of each fitted line': draw.SIGMA_COLOUR,
                 'slope of each fitted line': draw.SLOPE_COLOUR,
                 'intercept of each fitted line': draw.INTERCEPT_COLOUR}


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == PNG_SIGNATURE and data[12:16] == b'IHDR'
    return struct.unpack('>II', data[16:24])


def data_pixels(image, axes):
    """Pixels of drawn data inside a panel, its frame and legend left out."""
    height = image.shape[0]
    box = axes.get_window_extent()
    rows = slice(height - int(box.y1) + 3, height - int(box.y0) - 3)
    region = image[rows, int(box.x0) + 3:int(box.x1) - 3, :3].copy()
    legend = axes.get_legend()
    if legend:
        shown = legend.get_window_extent()
        region[max(0, int(box.y1) - int(shown.y1)):int(box.y1) - int(shown.y0) + 1,
               max(0, int(shown.x0 - box.x0)):int(shown.x1 - box.x0) + 1] = 1.0
    colour = PANEL_COLOURS.get(axes.get_title(loc='left'))
    if colour:
        wanted = np.array([int(colour[i:i + 2], 16) / 255 for i in (1, 3, 5)])
        return int((np.abs(region - wanted).max(axis=2) < 0.1).sum())
    return int((region.max(axis=2) - region.min(axis=2) > 0.2).sum())


def assert_every_panel_drawn(png, figure, panels):
    figure.draw_without_rendering()
    image = imread(png)
    shown = [axes for axes in figure.axes if axes.get_label() != '<colorbar>' and axes.axison]
    assert len(shown) == panels
    for axes in shown:
        assert data_pixels(image, axes) > 30, f'panel "{axes.get_ylabel()}" is empty'


def test_sample_flight(sample_run, tmp_path):
    done = run_quicklook(sample_run, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    png = tmp_path / 'sample_flight_quicklook.png'
    assert done.stdout.strip() == png.name
    assert png_size(png) == (1400, 1000)
    run = runs.load_run(runs.find_run(str(sample_run)))
    figure = draw.run_figure(run)
    assert_every_panel_drawn(png, figure, panels=6)
    assert draw.run_title(run).startswith('sample_flight.txt: 4,000 points, 18 fitted lines')


def test_binary_run_and_chosen_line(campaign, tmp_path):
    png = tmp_path / 'fjord.png'
    done = run_quicklook('--line', 3, '-o', png, campaign / 'fjord')
    assert done.returncode == 0, done.stderr
    figure = draw.run_figure(runs.load_run(str(campaign / 'fjord' / 'fjord')), line=2)
    assert_every_panel_drawn(png, figure, panels=6)
    cross_section = [a for a in figure.axes if a.get_xlabel() == 'sweep index'][0]
    assert cross_section.get_title().startswith('cross-section of fitted line 3 of ')


def panel(figure, title):
    return next(axes for axes in figure.axes if axes.get_title() == title)


def test_campaign(campaign, tmp_path):
    png = tmp_path / 'campaign.png'
    done = run_quicklook('-o', png, campaign)
    assert done.returncode == 0, done.stderr
    assert png_size(png) == (1400, 900)
    flights = runs.load_campaign(str(campaign))
    figure = draw.campaign_figure(str(campaign), flights)
    assert_every_panel_drawn(png, figure, panels=3)
    assert 'failed: lost (status 255)' in draw.campaign_title(str(campaign), flights)
    # Rows 4 to 6 have no sigma box, each for its own reason; the failed
    # flight is not drawn from the outputs an earlier run left in its folder.
    notes = {round(text.get_position()[1]): text.get_text()
             for text in panel(figure, 'sigma of the fitted lines per flight').texts}
    assert notes == {4: 'no points', 5: '2 points, no fitted lines',
                     6: 'failed (status 255): not drawn'}
    map_axes = panel(figure, 'nadir tracks, numbered by row at their start')
    assert sorted(text.get_text() for text in map_axes.texts) == ['1', '2', '3']


def block_of_strips(count):
    """Flights of a survey block: strips 111 m apart, all flown east from one
    edge, with long dated names; the last one failed."""
    flights = []
    for row in range(1, count + 1):
        longitude = np.linspace(10, 10.1, 40)
        latitude = np.full(40, 60 + 0.001 * row)
        sigma = np.geomspace(0.01, 0.5, 30)
        flights.append({
            'name': f'flight_2024-06-{row}_survey_strip_north_block', 'status': '0',
            'failed': False, 'points': 3000.0, 'fitted_lines': 30.0, 'high_share': 0.05,
            'low_share': 0.01,
            'ver': {'time': np.arange(40.0), 'longitude': longitude, 'latitude': latitude},
            'fit': {'sigma': sigma}})
    flights[-1].update(status='no report', failed=True, ver=None, fit=None)
    return flights


def text_boxes(figure):
    """Where every piece of text is drawn, legends as one piece."""
    renderer = FigureCanvasAgg(figure).get_renderer()
    texts = [figure._suptitle]
    for axes in figure.axes + [child for a in figure.axes for child in a.child_axes]:
        if axes.get_legend():
            texts.append(axes.get_legend())
        if not axes.axison:
            continue
        texts += [axes.title, axes.xaxis.label, axes.yaxis.label] + axes.texts
        for axis in (axes.xaxis, axes.yaxis):
            low, high = sorted(axis.get_view_interval())
            texts += [label for tick in axis.get_major_ticks() if low <= tick.get_loc() <= high
                      for label in (tick.label1, tick.label2)
                      if label.get_visible() and label.get_text()]
    # An annotation's own extent takes in its leader line too: only its text.
    return [(text, (Text if isinstance(text, Text) else type(text)).get_window_extent(
        text, renderer)) for text in texts]


def contrast_on_white(colour):
    linear = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
              for c in to_rgb(colour)]
    luminance = 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]
    return 1.05 / (luminance + 0.05)


@pytest.mark.parametrize('count', [3, 30])
def test_flights_read_apart(count):
    flights = block_of_strips(count)
    figure = draw.campaign_figure('block', flights)
    figure.draw_without_rendering()
    boxes = text_boxes(figure)
    for (a, box_a), (b, box_b) in itertools.combinations(boxes, 2):
        assert not box_a.overlaps(box_b), (str(a), str(b))
    # No number covers the start of another track.
    map_axes = panel(figure, 'nadir tracks, numbered by row at their start')
    starts = map_axes.transData.transform([(f['ver']['longitude'][0], f['ver']['latitude'][0])
                                           for f in flights[:-1]])
    numbers = [box for text, box in boxes if text in map_axes.texts]
    assert len(numbers) == count - 1
    for box in numbers:
        assert not any(box.overlaps(Bbox.from_extents(x - 3, y - 3, x + 3, y + 3))
                       for x, y in starts)
    # Colour and marker together tell 56 flights apart, neighbours differ in
    # colour, and no colour is faint on white (Okabe-Ito yellow is 1.3).
    styles = draw.flight_styles(56)
    assert len(set(styles)) == 56
    assert all(a[0] != b[0] for a, b in zip(styles, styles[1:]))
    assert min(contrast_on_white(colour) for colour, _ in styles) > 2


@pytest.mark.parametrize('name, start', [('c.pdf', b'%PDF'), ('c.svg', b'<?xml')])
def test_vector_formats(campaign, tmp_path, name, start):
    draw.save(draw.campaign_figure(str(campaign), runs.load_campaign(str(campaign))),
              tmp_path / name)
    assert (tmp_path / name).read_bytes().startswith(start)


@pytest.mark.parametrize('arguments, message', [
    (['--line', '0'], 'the run has 18 fitted lines'),
    (['--line', '19'], 'the run has 18 fitted lines'),
    (['-o', 'figure.jpg'], '.png, .pdf or .svg'),
])
def test_refused_arguments(sample_run, capsys, arguments, message):
    with pytest.raises(SystemExit) as stop:
        cli.main([*arguments, str(sample_run)])
    assert stop.value.code == 2 and message in capsys.readouterr().err


def test_missing_outputs(tmp_path, capsys):
    assert cli.main([str(tmp_path / 'nothing')]) == 1
    assert 'no ' in capsys.readouterr().err


def test_names_are_drawn_as_they_are(campaign, tmp_path):
    """Names that matplotlib would read as mathematics (or fail to), and names
    with a tab, a line end, a leading quote or a byte that is not UTF-8."""
    names = ['c$\\foo{$', 'tab\there', 'new\nline', "'quote", os.fsdecode(b'b\xffad')]
    entries = []
    for name in names:
        folder = tmp_path / name
        folder.mkdir()
        for path in (campaign / 'ridge').iterdir():
            shutil.copy(path, folder / path.name.replace('ridge', name))
        entries.append(dict(json.loads((campaign / 'summary.json').read_text())[0],
                            name=name, input=name + '.txt'))
    entries.append(dict(entries[0], name='$gone$', input='$gone$.txt', done=False, status=255))
    (tmp_path / 'summary.json').write_text(json.dumps(entries))
    png = tmp_path / 'names.png'
    done = run_quicklook('-o', png, tmp_path)
    assert done.returncode == 0, done.stderr
    assert png_size(png)[0] == 1400
    figure = draw.campaign_figure(str(tmp_path), runs.load_campaign(str(tmp_path)))
    labels = panel(figure, 'sigma of the fitted lines per flight').get_yticklabels()
    assert [label.get_text() for label in labels] == [
        '1  c$\\foo{$', '2  tab\\there', '3  new\\nline', "4  'quote", '5  b\\xffad', '6  $gone$']
    assert not any(label.get_parse_math() for label in labels)
    assert figure._suptitle.get_text().endswith('failed: $gone$ (status 255)')
    assert not figure._suptitle.get_parse_math()


def test_a_map_near_the_pole_keeps_within_90_degrees():
    flights = block_of_strips(3)
    for row, flight in enumerate(flights[:-1]):
        flight['ver'].update(longitude=np.linspace(-170, 170, 40),
                             latitude=np.full(40, 89.9 - 0.01 * row))
    figure = draw.campaign_figure('pole', flights)
    figure.draw_without_rendering()
    low, high = panel(figure, 'nadir tracks, numbered by row at their start').get_ylim()
    assert -90 <= low < 89.88 and 89.9 < high <= 90
