"""Reading scanfit's runs and scanfit-batch's campaigns: where a run's outputs
are, its report, and a campaign's summary. Every companion tool reads runs
through this module. It needs only the standard library; decoding the output
files themselves (numpy) is rows.py's, loaded when outputs are read."""

import csv
import json
import math
import os

CLASSES = ('fit', 'high', 'low')

SUMMARY_COLUMNS = ('input', 'status', 'points', 'fitted_lines', 'high_share',
                   'low_share', 'median_sigma', 'seconds')


class OutputError(Exception):
    """An output that is missing or does not read as scanfit writes it."""


# --- one run -------------------------------------------------------------

def run_name(input_file):
    """NAME of scanfit's outputs for an input path/NAME.ext: up to the first dot."""
    return os.path.basename(input_file).split('.')[0]


def find_run(path):
    """Prefix (folder/NAME) of one run's outputs, from a folder or a prefix."""
    if os.path.isdir(path):
        names = sorted(entry[:-len('.fit')] for entry in os.listdir(path)
                       if entry.endswith('.fit')
                       and os.path.isfile(os.path.join(path, entry[:-len('.fit')] + '_fit.ver')))
        if len(names) != 1:
            found = ', '.join(names) if names else 'none'
            raise OutputError(f'{path}: need the outputs of exactly one run '
                              f'(NAME.fit with NAME_fit.ver), found: {found}; give the prefix')
        return os.path.join(path, names[0])
    if os.path.isfile(path + '.fit'):
        return path
    raise OutputError(f'{path}: neither a folder of scanfit outputs nor a run prefix '
                      f'(no {path}.fit)')


def point_files(prefix):
    """('text' or 'binary', {class: path}) of a run's point files. When a text and
    a binary run of the same NAME left both kinds, the newer kind goes with the
    .fit and .ver files, which the later run replaced."""
    kinds = {}
    for kind, suffix in (('text', '.scn'), ('binary', '.sbi')):
        paths = {name: f'{prefix}_{name}{suffix}' for name in CLASSES}
        if all(os.path.isfile(p) for p in paths.values()):
            kinds[kind] = paths
    if not kinds:
        raise OutputError(f'{prefix}: no point files ({prefix}_fit.scn or {prefix}_fit.sbi '
                          'with its _high and _low companions)')
    kind = max(kinds, key=lambda k: os.path.getmtime(kinds[k]['fit']))
    return kind, kinds[kind]


def find_report(prefix):
    """The run report beside the outputs (report.json, as scanfit-batch leaves
    it), when it is there and is about this run; else None."""
    path = os.path.join(os.path.dirname(prefix), 'report.json')
    try:
        with open(path) as stream:
            report = json.load(stream)
        if run_name(report['input']['file']) == os.path.basename(prefix):
            return report
    except (OSError, ValueError, KeyError, TypeError):
        pass
    return None


def load_run(prefix):
    """Everything the run figure is drawn from."""
    from . import rows
    kind, paths = point_files(prefix)
    read_points = rows.open_text_points if kind == 'text' else rows.read_sbi
    return {
        'prefix': prefix,
        'name': os.path.basename(prefix),
        'kind': kind,
        'ver': rows.read_fixed_width(prefix + '_fit.ver', rows.VER_LAYOUT),
        'fit': rows.read_fixed_width(prefix + '.fit', rows.FIT_LAYOUT),
        'points': {name: read_points(path) for name, path in paths.items()},
        'report': find_report(prefix),
    }


# --- a campaign ----------------------------------------------------------

def _number(text):
    try:
        return float(text)
    except (TypeError, ValueError):
        return math.nan


def read_summary(path):
    """Rows of a campaign's summary.tsv, numbers as floats (NaN where empty).
    'status' stays text, as scanfit-batch writes it: 0, a run's exit status,
    'no report', or nothing for an input that never ran."""
    # Input names are bytes: those that are not UTF-8 read as the file
    # system's own str of them, which finds their folders.
    with open(path, newline='', encoding='utf-8', errors='surrogateescape') as stream:
        reader = csv.DictReader(stream, delimiter='\t')
        missing = [c for c in SUMMARY_COLUMNS if c not in (reader.fieldnames or ())]
        if missing:
            raise OutputError(f'{path}: missing columns: {", ".join(missing)}')
        rows = []
        for row in reader:
            entry = {column: _number(row[column]) for column in SUMMARY_COLUMNS[2:]}
            entry['input'] = row['input']
            entry['status'] = (row['status'] or '').strip()
            entry['failed'] = entry['status'] != '0'
            rows.append(entry)
    return rows


def is_campaign(path):
    """Whether path is a scanfit-batch folder rather than one run."""
    return os.path.isfile(os.path.join(path, 'summary.tsv'))


def campaign_flights(folder):
    """The flights of a campaign in the summary's order: its rows, each with
    its run's NAME, the prefix of its outputs and whether it succeeded. A
    failed run leaves no outputs of its own, so any in its folder are an
    earlier run's and are not the flight's."""
    flights = read_summary(os.path.join(folder, 'summary.tsv'))
    for flight in flights:
        flight['name'] = run_name(flight['input'])
        flight['prefix'] = os.path.join(folder, flight['name'], flight['name'])
        flight['succeeded'] = not flight['failed']
    return flights


def load_campaign(folder):
    """The summary rows, each with its run's nadir track and fitted lines when
    it succeeded and its outputs are there."""
    from . import rows
    flights = campaign_flights(folder)
    for flight in flights:
        flight['ver'] = flight['fit'] = None
        prefix = flight['prefix']
        if not flight['succeeded'] or not (os.path.isfile(prefix + '.fit')
                                           and os.path.isfile(prefix + '_fit.ver')):
            continue
        flight['ver'] = rows.read_fixed_width(prefix + '_fit.ver', rows.VER_LAYOUT)
        flight['fit'] = rows.read_fixed_width(prefix + '.fit', rows.FIT_LAYOUT)
    return flights
