"""Command line of scanfit-quicklook."""

import argparse
import os
import sys

from .. import runs

FORMATS = ('.png', '.pdf', '.svg')

USAGE = """\
scanfit-quicklook [--line K] [-o FIGURE] RUN
       scanfit-quicklook [-o FIGURE] CAMPAIGN_DIR"""

DESCRIPTION = """\
Draw one figure from scanfit's outputs. RUN is the folder or the name prefix
(folder/NAME) of one run's outputs: the figure shows the track, sigma, slope
and intercept of the fitted lines along the flight, the shares of high and
low points, and the cross-section of one scan line. CAMPAIGN_DIR is a
scanfit-batch output folder (with summary.json): every flight's nadir track,
its sigma distribution and its shares of high and low points."""


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog='scanfit-quicklook', usage=USAGE,
                                     description=DESCRIPTION)
    parser.add_argument('path', metavar='RUN|CAMPAIGN_DIR')
    parser.add_argument('--line', type=int, metavar='K',
                        help='cross-section of the K-th fitted line (1 = first row of '
                             'NAME.fit); default: the line with the median sigma')
    parser.add_argument('--dpi', type=int, default=100, metavar='N',
                        help='dots per inch of a PNG (default 100: 1400 by 1000 pixels '
                             'for a run)')
    parser.add_argument('-o', '--output', metavar='FIGURE',
                        help='figure file, .png, .pdf or .svg (default: '
                             'NAME_quicklook.png in the current directory)')
    arguments = parser.parse_args(argv)
    if arguments.output and os.path.splitext(arguments.output)[1].lower() not in FORMATS:
        parser.error(f'{arguments.output}: the figure must end in .png, .pdf or .svg')
    if not 20 <= arguments.dpi <= 600:
        parser.error('--dpi: from 20 to 600')
    return parser, arguments


def main(argv=None):
    parser, arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    from . import draw  # loads matplotlib, which takes a while: only after the options are good
    try:
        if runs.is_campaign(arguments.path):
            if arguments.line is not None:
                parser.error('--line applies to one run, not to a campaign')
            name = os.path.basename(os.path.normpath(arguments.path)) + '_campaign'
            figure = draw.campaign_figure(arguments.path,
                                          runs.load_campaign(arguments.path))
        else:
            run = runs.load_run(runs.find_run(arguments.path))
            name = run['name'] + '_quicklook'
            lines = len(run['fit']['time'])
            if arguments.line is not None and not 1 <= arguments.line <= lines:
                parser.error(f'--line {arguments.line}: the run has {lines} fitted lines')
            line = arguments.line - 1 if arguments.line is not None else None
            figure = draw.run_figure(run, line)
        output = arguments.output or name + '.png'
        draw.save(figure, output, arguments.dpi)
    except (runs.OutputError, OSError) as error:
        print(f'scanfit-quicklook: {error}', file=sys.stderr)
        return 1
    # The figure's name as bytes: it may come from a name that is not UTF-8.
    sys.stdout.buffer.write(os.fsencode(output) + b'\n')
    return 0
