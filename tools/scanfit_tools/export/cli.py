"""Command line of scanfit-export."""

import argparse
import os
import signal
import sys

from .. import runs
from . import place, write

FORMATS = ('gpkg', 'fgb', 'geojson', 'kml', 'csv', 'las')
EXTENSIONS = {'gpkg': '.gpkg', 'fgb': '.fgb', 'geojson': '.geojson', 'kml': '.kml',
              'csv': '.csv', 'las': '.las'}
# Formats whose file holds one layer: one file per layer, NAME_LAYER.EXT.
ONE_LAYER_PER_FILE = ('fgb', 'geojson', 'csv')

USAGE = ('scanfit-export [--format gpkg|fgb|geojson|kml|csv|las] [--points fit,high,low] '
         '[-o FILE] RUN|CAMPAIGN_DIR')

DESCRIPTION = """\
Write the results of a scanfit run, or of every flight of a scanfit-batch
campaign, where GIS and LiDAR tools read them. RUN is the folder or the name
prefix (folder/NAME) of one run's outputs; CAMPAIGN_DIR a scanfit-batch
folder, exported as one file whose features name their flight.

gpkg (the default), fgb, geojson and kml hold, in EPSG:4326, the layers nadir
(a point per nadir record), track (a line through the nadir records, split
where they jump), scan_lines (a line per fitted scan line, first point to
last) and, with --points, points. fgb and geojson hold one layer per file,
FILE_LAYER.EXT; so does csv, whose tables hold every value as written. las
writes the points (all classes unless --points names some) as LAS 1.4.

Without -o the file is NAME.EXT (DIR_campaign.EXT for a campaign) in the
current folder. An existing file is replaced only when the export succeeds.
The files written are listed on standard output."""


class Usage(Exception):
    """A command line that does not say what to export."""


class Stopped(Exception):
    """A stop signal, raised where the export is, so that it cleans up."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Usage(f'{message} (scanfit-export --help tells the usage)')


def parse_arguments(argv):
    parser = _Parser(prog='scanfit-export', usage=USAGE, description=DESCRIPTION,
                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('path', metavar='RUN|CAMPAIGN_DIR')
    parser.add_argument('--format', choices=FORMATS, metavar='FORMAT',
                        help='gpkg, fgb, geojson, kml, csv or las (default: from the '
                             'extension of -o, else gpkg)')
    parser.add_argument('--points', metavar='CLASSES',
                        help='also the points of these classes, any of fit,high,low '
                             '(las: only these)')
    parser.add_argument('-o', '--output', metavar='FILE',
                        help='the file to write (for one layer per file: FILE_LAYER.EXT)')
    arguments = parser.parse_args(argv)
    arguments.format = _format(arguments)
    arguments.classes = _classes(arguments.points)
    return arguments


def _format(arguments):
    by_extension = None
    if arguments.output:
        extension = os.path.splitext(arguments.output)[1].lower()
        by_extension = next((f for f, e in EXTENSIONS.items() if e == extension), None)
    if arguments.format and by_extension and by_extension != arguments.format:
        raise Usage(f'{arguments.output}: a .{by_extension} name for --format '
                      f'{arguments.format}')
    return arguments.format or by_extension or 'gpkg'


def _classes(text):
    if text is None:
        return ()
    classes = tuple(dict.fromkeys(name.strip() for name in text.split(',')))
    unknown = [name for name in classes if name not in runs.CLASSES]
    if unknown or not classes:
        raise Usage(f'--points {text}: classes are fit, high and low, '
                      'separated by commas')
    return classes


def output_names(arguments, stem, layers):
    """{layer: file} of the export (one file for all in most formats)."""
    extension = EXTENSIONS[arguments.format]
    if arguments.output:
        stem = arguments.output
        if os.path.splitext(stem)[1].lower() == extension:
            stem = stem[:-len(extension)]
    if arguments.format in ONE_LAYER_PER_FILE:
        return {layer: f'{stem}_{layer}{extension}' for layer in layers}
    name = arguments.output or stem + extension
    return {layer: name for layer in layers}


def say(message):
    """A line on standard error, names in it as their bytes."""
    sys.stderr.flush()
    sys.stderr.buffer.write(f'scanfit-export: {message}\n'.encode('utf-8', 'surrogateescape'))
    sys.stderr.flush()


def _stop(signal_number, frame):
    raise Stopped(signal_number)


def main(argv=None):
    for signal_number in place.STOP_SIGNALS:
        signal.signal(signal_number, _stop)
    try:
        arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
        written = export(arguments)
        for path in written:
            sys.stdout.buffer.write(os.fsencode(path) + b'\n')
        sys.stdout.flush()
    except Stopped as stop:
        signal.signal(stop.args[0], signal.SIG_DFL)
        os.kill(os.getpid(), stop.args[0])
        return 128 + stop.args[0]
    except Usage as error:
        say(error)
        return 2
    except (write.ExportError, runs.OutputError, place.PlaceError, OSError,
            RuntimeError) as error:
        say(error)
        return 1
    except MemoryError:
        say('out of memory')
        return 1
    return 0


def export(arguments):
    """Reads the run or campaign, writes the export, and returns its files."""
    if arguments.format not in ('csv', 'las'):
        write.require_ogr(arguments.format)
    if runs.is_campaign(arguments.path):
        flights = _campaign_flights(arguments.path)
        stem = os.path.basename(os.path.normpath(arguments.path)) + '_campaign'
    else:
        prefix = runs.find_run(arguments.path)
        flights = [(0, runs.run_name(prefix), prefix)]
        stem = runs.run_name(prefix)
    layers = write.layer_names(arguments.format, arguments.classes)
    names = output_names(arguments, stem, layers)
    return write.export(arguments.format, arguments.classes, flights, names, say)


def _campaign_flights(folder):
    """(number, NAME, prefix) of the flights that succeeded; the others are
    named on standard error."""
    flights = []
    for number, flight in enumerate(runs.campaign_flights(folder), 1):
        if flight['succeeded']:
            flights.append((number, flight['name'], flight['prefix']))
        else:
            say(f'{flight["name"]}: left out, its run is not done ({flight["reason"]})')
    return flights
