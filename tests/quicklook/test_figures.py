import struct

import numpy as np
import pytest
from conftest import run_quicklook
from matplotlib.image import imread

from quicklook import cli, draw, readers

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
    shown = [axes for axes in figure.axes if axes.get_label() != '<colorbar>']
    assert len(shown) == panels
    for axes in shown:
        assert data_pixels(image, axes) > 30, f'panel "{axes.get_ylabel()}" is empty'


def test_sample_flight(sample_run, tmp_path):
    done = run_quicklook(sample_run, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    png = tmp_path / 'sample_flight_quicklook.png'
    assert done.stdout.strip() == png.name
    assert png_size(png) == (1400, 1000)
    run = readers.load_run(readers.find_run(str(sample_run)))
    figure = draw.run_figure(run)
    assert_every_panel_drawn(png, figure, panels=6)
    assert draw.run_title(run).startswith('sample_flight.txt: 4,000 points, 18 fitted lines')


def test_binary_run_and_chosen_line(campaign, tmp_path):
    png = tmp_path / 'fjord.png'
    done = run_quicklook('--line', 3, '-o', png, campaign / 'fjord')
    assert done.returncode == 0, done.stderr
    figure = draw.run_figure(readers.load_run(str(campaign / 'fjord' / 'fjord')), line=2)
    assert_every_panel_drawn(png, figure, panels=6)
    cross_section = [a for a in figure.axes if a.get_xlabel() == 'sweep index'][0]
    assert cross_section.get_title().startswith('cross-section of fitted line 3 of ')


def test_campaign(campaign, tmp_path):
    png = tmp_path / 'campaign.png'
    done = run_quicklook('-o', png, campaign)
    assert done.returncode == 0, done.stderr
    assert png_size(png) == (1400, 900)
    flights = readers.load_campaign(str(campaign))
    assert_every_panel_drawn(png, draw.campaign_figure(str(campaign), flights), panels=3)
    assert 'failed: lost (status 255)' in draw.campaign_title(str(campaign), flights)


@pytest.mark.parametrize('name, start', [('c.pdf', b'%PDF'), ('c.svg', b'<?xml')])
def test_vector_formats(campaign, tmp_path, name, start):
    draw.save(draw.campaign_figure(str(campaign), readers.load_campaign(str(campaign))),
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
