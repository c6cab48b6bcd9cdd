"""An export from start to end: the runs read, their tables made, the files
written where no one sees them and put in place together."""

from .. import runs
from . import csv_tables, gis, las, place, tables


class ExportError(Exception):
    """What stops an export, said in one line."""


def require_ogr(format_name):
    try:
        gis.load_ogr()
    except ImportError:
        raise ExportError(f'--format {format_name} needs GDAL for Python (Debian: '
                          'apt-get install python3-gdal); csv and las do not') from None


def layer_names(format_name, classes):
    if format_name == 'las':
        return ('points',)
    return ('nadir', 'track', 'scan_lines') + (('points',) if classes else ())


def export(format_name, classes, flights, names, say):
    """flights: (number, NAME, prefix) of each run; names: {layer: file}.
    Returns the files written."""
    if not flights:
        raise ExportError('no flight to export: none of the campaign succeeded')
    point_classes = classes or (runs.CLASSES if format_name == 'las' else ())
    layers = {layer: [] for layer in names}
    inputs, numbers = [], []
    for number, name, prefix in flights:
        run = tables.read_run(prefix, with_points=bool(point_classes),
                              with_texts=format_name == 'csv')
        inputs += run.inputs
        numbers.append(number)
        for layer, table in tables.tables(run, name, names, point_classes).items():
            layers[layer].append(table)
    files = list(dict.fromkeys(names.values()))
    staging = None
    try:
        staging = place.stage(files, inputs)
        paths = {layer: place.written_name(staging, name) for layer, name in names.items()}
        try:
            _write(format_name, layers, paths, numbers, say, names)
        except OSError as error:
            # The error names the file by its temporary name: say the file's.
            raise ExportError(f'{", ".join(map(str, files))}: '
                              f'{error.strerror or error}') from None
        place.put_in_place(staging)
    except BaseException:
        if staging:
            place.discard(staging)
        raise
    return files


def _write(format_name, layers, paths, numbers, say, names):
    if format_name == 'csv':
        csv_tables.write(layers, paths)
    elif format_name == 'las':
        with open(paths['points'], 'wb') as stream:
            try:
                left_out = las.write(stream, list(zip(numbers, layers['points'])))
            except las.RangeError as error:
                raise ExportError(error) from None
        if left_out:
            say(f'{left_out} of the points are not in the LAS file: '
                'their position is not a number')
    else:
        without_geometry = gis.write(layers, paths, format_name)
        for layer, count in without_geometry.items():
            if count and format_name == 'fgb':
                say(f'{names[layer]}: {count} features without geometry left out '
                    '(FlatGeobuf cannot hold them; gpkg and csv keep them)')
