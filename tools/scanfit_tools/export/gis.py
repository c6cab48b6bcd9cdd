"""Writing the tables through OGR (GDAL's Python bindings, Debian's
python3-gdal): GeoPackage, FlatGeobuf, GeoJSON and KML, in EPSG:4326 with
longitude first.

OGR writes each file in memory (GDAL's /vsimem/), and the bytes are then
written to the file here: some drivers do not report a write that fails (a
full disk leaves a short file that reads as complete), Python's writes do."""

import os
import struct

import numpy as np

DRIVERS = {'gpkg': 'GPKG', 'fgb': 'FlatGeobuf', 'geojson': 'GeoJSON', 'kml': 'KML'}
# GeoJSON as RFC 7946 has it: WGS 84 longitude and latitude, no crs member.
LAYER_OPTIONS = {'geojson': ['RFC7946=YES']}
# Rows turned into Python values at once: a few, not millions.
ROWS_AT_ONCE = 1 << 14
COPY_BYTES = 1 << 20
# A GDAL message this long (a whole SQL statement) is cut to its end.
MESSAGE_CHARACTERS = 200


def load_ogr():
    """GDAL's modules, raising errors as exceptions (ImportError when
    python3-gdal is missing)."""
    from osgeo import gdal, ogr, osr
    for module in (gdal, ogr, osr):
        module.UseExceptions()
    return gdal, ogr, osr


def write(layers, paths, format_name):
    """layers: {layer name: [Table of each flight]}; paths: {layer name: file}
    (one file for all layers in formats that hold several). Returns the
    features of each layer that have no geometry."""
    gdal, ogr, osr = load_ogr()
    driver = ogr.GetDriverByName(DRIVERS[format_name])
    # Latitude comes first in EPSG:4326's own axis order; the traditional GIS
    # order keeps x the longitude whatever the driver does with the axes.
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(4326)
    srs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    folder = f'/vsimem/scanfit-export-{os.getpid()}'
    memory = {path: f'{folder}/{n}{os.path.splitext(os.fsdecode(path))[1]}'
              for n, path in enumerate(dict.fromkeys(paths.values()))}
    failures = []
    gdal.PushErrorHandler(lambda level, number, message: failures.append(message)
                          if level >= gdal.CE_Failure else None)
    datasets, without_geometry = {}, {}
    try:
        for name, chunks in layers.items():
            path = paths[name]
            if path not in datasets:
                datasets[path] = driver.CreateDataSource(memory[path])
            without_geometry[name] = _write_layer(ogr, datasets[path], srs, name, chunks,
                                                  LAYER_OPTIONS.get(format_name, []))
        datasets.clear()  # closes the files: some drivers write them only now
        if failures:
            raise RuntimeError(_shortened(failures[0]))
        for path, written in memory.items():
            _copy(gdal, written, path)
    finally:
        datasets.clear()
        gdal.PopErrorHandler()
        _remove(gdal, folder)
    return without_geometry


def _remove(gdal, folder):
    """Frees GDAL's memory of the files it wrote (and any of their side files)."""
    for name in gdal.ReadDirRecursive(folder) or []:
        try:
            gdal.Unlink(f'{folder}/{name}')
        except RuntimeError:
            pass  # a folder, or already gone


def _shortened(message):
    message = ' '.join(message.split())
    if len(message) <= MESSAGE_CHARACTERS:
        return message
    return '...' + message[-MESSAGE_CHARACTERS:]


def _copy(gdal, source, path):
    """A file of GDAL's memory written to path, a write that fails raising."""
    handle = gdal.VSIFOpenL(source, 'rb')
    try:
        with open(path, 'wb') as stream:
            while True:
                data = gdal.VSIFReadL(1, COPY_BYTES, handle)
                if not data:
                    break
                stream.write(data)
    finally:
        gdal.VSIFCloseL(handle)


def _write_layer(ogr, dataset, srs, name, chunks, options):
    geometry = ogr.wkbPoint if chunks[0].starts is None else ogr.wkbLineString
    layer = dataset.CreateLayer(name, srs, geometry, options=options)
    kinds = [('flight', 'text')] + [(c.name, c.kind) for c in chunks[0].columns]
    # 32-bit integers: counts and row numbers fit them, and KML has no others.
    types = {'text': ogr.OFTString, 'integer': ogr.OFTInteger, 'real': ogr.OFTReal}
    for field, kind in kinds:
        layer.CreateField(ogr.FieldDefn(field, types[kind]))
    # Fields by name: a driver may put fields of its own before ours (KML).
    definition = layer.GetLayerDefn()
    index = {field: definition.GetFieldIndex(field) for field, _ in kinds}
    transaction = dataset.TestCapability(ogr.ODsCTransactions)
    if transaction:
        dataset.StartTransaction()
    without_geometry = sum(_write_features(ogr, layer, definition, index, chunk)
                           for chunk in chunks)
    if transaction:
        dataset.CommitTransaction()
    return without_geometry


def _write_features(ogr, layer, definition, index, table):
    """Writes a table's rows; returns how many have no geometry."""
    flight = os.fsencode(table.flight).decode('utf-8', 'backslashreplace')
    without_geometry = 0
    for start in range(0, len(table), ROWS_AT_ONCE):
        rows = slice(start, start + ROWS_AT_ONCE)
        columns = [(index[c.name], _field_values(c, rows)) for c in table.columns]
        for geometry, values in zip(_geometries(ogr, table, rows), zip(*(v for _, v in columns))):
            feature = ogr.Feature(definition)
            feature.SetField(index['flight'], flight)
            for (field, _), value in zip(columns, values):
                if value is None:
                    feature.SetFieldNull(field)
                else:
                    feature.SetField(field, value)
            if geometry is not None:
                feature.SetGeometryDirectly(geometry)
            else:
                without_geometry += 1
            layer.CreateFeature(feature)
    return without_geometry


def _field_values(column, rows):
    """Python values of some rows of a column; None where there is none (a
    real that is not finite: not every format can hold NaN or infinity)."""
    if column.kind == 'text':
        return [value.decode('utf-8', 'backslashreplace')
                for value in column.values[rows].tolist()]
    values = np.asarray(column.values[rows], np.float64)
    finite = np.isfinite(values)
    if column.kind == 'integer':
        numbers = np.where(finite, values, 0).astype(np.int64).tolist()
    else:
        numbers = values.tolist()
    return [n if known else None for n, known in zip(numbers, finite.tolist())]


def _geometries(ogr, table, rows):
    """The geometry of each of some rows, None where its coordinates are not
    numbers, made as they are written."""
    x, y = np.asarray(table.x, np.float64), np.asarray(table.y, np.float64)
    finite = np.isfinite(x) & np.isfinite(y)
    if table.starts is None:
        for a, b, known in zip(x[rows].tolist(), y[rows].tolist(), finite[rows].tolist()):
            yield _point(ogr, a, b) if known else None
        return
    for start, end in zip(table.starts[rows].tolist(), table.ends[rows].tolist()):
        keep = np.flatnonzero(finite[start:end]) + start
        if len(keep) < 2:
            yield None
            continue
        vertices = np.column_stack((x[keep], y[keep])).astype('<f8').tobytes()
        yield ogr.CreateGeometryFromWkb(struct.pack('<BII', 1, 2, len(keep)) + vertices)


def _point(ogr, x, y):
    point = ogr.Geometry(ogr.wkbPoint)
    point.AddPoint_2D(x, y)
    return point
