"""Reading scanfit's runs and scanfit-batch's campaigns: NAME of an input, a
run's folder and whether it is done, where a run's outputs are, and a
campaign's summary. Every companion tool reads runs through this module, so
the keys of scanfit's report and the columns of the summary are named here
only. It needs only the standard library; decoding the output files
themselves (numpy) is rows.py's, loaded when outputs are read.

Names and paths are str as Python gets them from the system (bytes that are
not UTF-8 held as lone surrogates); os.fsencode gives their bytes back."""

import json
import math
import os
import stat
import time

CLASSES = ('fit', 'high', 'low')

# The files of one run's folder, DIR/NAME/, beside scanfit's outputs. A NAME
# holds no '.', so none of these is ever an output's name.
REPORT = 'report.json'
LOG = 'scanfit.log'
RECORD = 'run.json'   # the campaign's note of the run: exit status, host, reason

# The files of a campaign, DIR/, beside the run folders: each holds a '.'.
SUMMARY_JSON = 'summary.json'
SUMMARY_TSV = 'summary.tsv'


class OutputError(Exception):
    """An output that is missing or does not read as scanfit writes it."""


# --- names -------------------------------------------------------------------

def run_name(path):
    """NAME of an input: its file name up to the first '.', as scanfit names
    its outputs. Taken on the bytes, so any name splits the same way; str in,
    str out, bytes in, bytes out."""
    name = os.path.basename(os.fsencode(path)).split(b'.')[0]
    return name if isinstance(path, bytes) else os.fsdecode(name)


def _escaped_byte(byte):
    return f'\\x{byte:02x}'


def printable(text):
    """A name as one line for people: control characters and bytes that are
    not UTF-8 written as \\n, \\t, \\r or \\xHH; the rest as it is."""
    if text.isprintable():      # no control character, no byte that is not UTF-8
        return text
    out = []
    for char in text:
        code = ord(char)
        if 0xdc80 <= code <= 0xdcff:      # a byte that is not UTF-8
            out.append(_escaped_byte(code - 0xdc00))
        elif char in '\n\t\r':
            out.append({'\n': '\\n', '\t': '\\t', '\r': '\\r'}[char])
        elif code < 0x20 or code == 0x7f:
            out.append(_escaped_byte(code))
        else:
            out.append(char)
    return ''.join(out)


def tsv_field(text):
    """A field of summary.tsv: backslash, tab, newline and carriage return
    written as \\\\, \\t, \\n and \\r, other control characters and bytes
    that are not UTF-8 as \\xHH (the byte), so that every row is one line of
    UTF-8 and reads back exactly."""
    return printable(text.replace('\\', '\\\\'))


# --- one run's folder -----------------------------------------------------------

def _utc(nanoseconds):
    seconds, fraction = divmod(nanoseconds, 10**9)
    return time.strftime('%Y-%m-%dT%H:%M:%S', time.gmtime(seconds)) + f'.{fraction:09d}Z'


def input_identity(path):
    """What scanfit's report says of an input it was given by this path now:
    its absolute path, and size and modification time for a regular file
    (None for a pipe or a device). Raises OSError when it cannot be read."""
    info = os.stat(path)
    regular = stat.S_ISREG(info.st_mode)
    return {'path': os.path.abspath(path),
            'size': info.st_size if regular else None,
            'modified': _utc(info.st_mtime_ns) if regular else None}


def read_json(path):
    """The JSON object in a file, or None when it is not there or not one."""
    try:
        with open(path, 'rb') as stream:
            value = json.load(stream)
    except (OSError, ValueError):
        return None
    return value if isinstance(value, dict) else None


def read_record(folder):
    return read_json(os.path.join(folder, RECORD)) or {}


def write_record(folder, record):
    with open(os.path.join(folder, RECORD), 'w', encoding='ascii') as stream:
        stream.write(json.dumps(record, ensure_ascii=True) + '\n')


def _same_bytes(a, b):
    return isinstance(a, str) and isinstance(b, str) and os.fsencode(a) == os.fsencode(b)


def _names_its_input(report, record, input_path):
    """Why the report is not of this input, or None when it is. A run on
    another host read a copy: its record names the input instead, and the
    report the copy's file name."""
    given = report.get('input')
    if not isinstance(given, dict) or 'path' not in given:
        return 'its report names no input path'
    try:
        identity = input_identity(input_path)
    except OSError as error:
        return f'its input cannot be read: {error.strerror}'
    if record.get('host') is not None:
        if not (_same_bytes(record.get('input'), identity['path'])
                and _same_bytes(given.get('file'), os.path.basename(identity['path']))):
            return f'it is of another input: {record.get("input")}'
    elif not _same_bytes(given['path'], identity['path']):
        return f'its report is of another input: {given["path"]}'
    if (given.get('size'), given.get('modified')) != (identity['size'], identity['modified']):
        return 'its input changed after it ran'
    return None


def _outputs_in_place(report, folder):
    """Why the outputs are not all there as the report lists them, or None.
    Each is looked for by its file name in the folder, since a run made on
    another host wrote them under another path."""
    outputs = report.get('outputs')
    if not isinstance(outputs, list) or not outputs:
        return 'its report lists no outputs'
    for output in outputs:
        if not isinstance(output, dict) or not isinstance(output.get('name'), str):
            return 'its report lists an output without a name'
        name = os.fsdecode(os.path.basename(os.fsencode(output['name'])))
        try:
            info = os.stat(os.path.join(folder, name))
        except OSError:
            return f'output {name} is missing'
        if not stat.S_ISREG(info.st_mode) or info.st_size != output.get('bytes'):
            return (f'output {name} holds {info.st_size} bytes, '
                    f'its report says {output.get("bytes")}')
    return None


def check_run(folder, input_path, record=None):
    """(why the run folder is not a finished run of this input, or None when
    it is; its report). A run is finished when its report names this input
    (path, size, modification time) and every output the report lists is in
    the folder with that size. This is the one test of "done" for resuming,
    summaries and exit statuses."""
    report = read_json(os.path.join(folder, REPORT))
    if report is None:
        there = os.path.exists(os.path.join(folder, REPORT))
        return ('its report does not read' if there else 'no report'), None
    record = read_record(folder) if record is None else record
    return (_names_its_input(report, record, input_path)
            or _outputs_in_place(report, folder)), report


def verify_run(folder, input_path):
    """Why the run folder is not a finished run of this input, or None."""
    return check_run(folder, input_path)[0]


def last_message(folder, limit=400):
    """The last message scanfit wrote on standard error: the reason it
    failed. "Cannot read from: NAME" and the like name a file on one line
    (a name may hold line ends) and give the reason on the last one."""
    try:
        with open(os.path.join(folder, LOG), 'rb') as stream:
            stream.seek(0, os.SEEK_END)
            stream.seek(max(0, stream.tell() - 8192))
            tail = stream.read().rstrip(b'\n')
    except OSError:
        return None
    lines = tail.split(b'\n')
    starts = [k for k, line in enumerate(lines[:-1]) if line.startswith(b'Cannot ')]
    if starts:
        message = b'\n'.join(lines[starts[-1]:-1]) + b': ' + lines[-1]
    else:
        message = lines[-1]
    return os.fsdecode(message)[:limit] if message.strip() else None


# --- one run's outputs, for the figures ------------------------------------------

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
    """What the figures take from the run report beside the outputs
    (report.json, as scanfit-batch leaves it), when it is there and is about
    this run: the input's file name and form, and the points read; else None."""
    report = read_json(os.path.join(os.path.dirname(prefix), REPORT))
    try:
        given = report['input']
        if run_name(given['file']) == os.path.basename(prefix):
            return {'file': given['file'], 'form': given.get('form'),
                    'points': report.get('points')}
    except (KeyError, TypeError):
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


# --- a campaign's summary ---------------------------------------------------------

# summary.json: one object per input, in the order of the inputs. status is
# the run's exit status (null when it never ran), reason why it is not done
# (null when it is), the numbers come from the report of a run that is done.
SUMMARY_KEYS = ('name', 'input', 'done', 'status', 'reason', 'points', 'fittedLines',
                'highPoints', 'lowPoints', 'sigmaMedian', 'seconds', 'compression')

# summary.tsv: the same for people and spreadsheets, the classes as shares.
TSV_COLUMNS = ('input', 'name', 'done', 'status', 'reason', 'points', 'fitted_lines',
               'high_share', 'low_share', 'median_sigma', 'seconds', 'compression')


def _numbers(report):
    classes = report.get('classes') or {}
    sigma = report.get('sigma') or {}
    return {'points': report.get('points'), 'fittedLines': report.get('fittedLines'),
            'highPoints': classes.get('high'), 'lowPoints': classes.get('low'),
            'sigmaMedian': sigma.get('median'),
            'seconds': (report.get('seconds') or {}).get('wall'),
            'compression': (report.get('input') or {}).get('compression')}


def why_not_done(folder, status, reason, why):
    """The reason of a run that is not done, from what is known of it."""
    if reason:
        return reason
    if status is None:
        return 'did not finish' if os.path.isdir(folder) else 'never ran'
    if status != 0:
        return last_message(folder) or f'ended with status {status}, with no message'
    return f'ended with status 0, but {why}'


def summary_entry(name, given, path, folder, status=None, reason=None):
    """The summary of one input: `given` as the user gave it, `path` to read it
    by, its run folder, and what this campaign knows of its last run: exit
    status and reason (a failed transfer, a stop), else from its record."""
    record = read_record(folder)
    if status is None and reason is None:
        status, reason = record.get('status'), record.get('reason')
    why, report = check_run(folder, path, record)
    done = why is None and not reason and status in (0, None)
    entry = dict.fromkeys(SUMMARY_KEYS)
    entry.update(name=name, input=given, done=done)
    if done:
        entry.update(_numbers(report), status=0)
    else:
        entry.update(status=status, reason=why_not_done(folder, status, reason, why))
    return entry


def _tsv_number(value, form='{}'):
    return '' if value is None else form.format(value)


def _share(part, points):
    if part is None or points is None:
        return ''
    return f'{part / points if points else 0:.6f}'


def tsv_row(entry):
    values = (entry['input'], entry['name'], 'yes' if entry['done'] else 'no',
              _tsv_number(entry['status']), entry['reason'] or '',
              _tsv_number(entry['points']), _tsv_number(entry['fittedLines']),
              _share(entry['highPoints'], entry['points']),
              _share(entry['lowPoints'], entry['points']),
              _tsv_number(entry['sigmaMedian'], '{!r}'), _tsv_number(entry['seconds'], '{:.3f}'),
              entry['compression'] or '')
    return '\t'.join(tsv_field(str(value)) for value in values)


def _replace(path, text):
    """Writes the file under a name of its own and puts it in place, so that a
    reader never sees half of it and a failed write leaves the old one."""
    temporary = path + '.new'
    try:
        with open(temporary, 'w', encoding='utf-8') as stream:
            stream.write(text)
        os.replace(temporary, path)
    except OSError:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def write_summary(folder, entries):
    """DIR/summary.json (ASCII: a byte that is not UTF-8 as \\udcXX) and
    DIR/summary.tsv (UTF-8, escaped as tsv_field says)."""
    _replace(os.path.join(folder, SUMMARY_JSON),
             json.dumps(entries, ensure_ascii=True, indent=1) + '\n')
    _replace(os.path.join(folder, SUMMARY_TSV),
             '\n'.join(['\t'.join(TSV_COLUMNS)] + [tsv_row(e) for e in entries]) + '\n')


def _number(value):
    return float(value) if isinstance(value, (int, float)) and not isinstance(value, bool) \
        else math.nan


def read_summary_entries(folder):
    """The entries of a campaign's summary.json as written, or None."""
    try:
        with open(os.path.join(folder, SUMMARY_JSON), 'rb') as stream:
            entries = json.load(stream)
    except (OSError, ValueError):
        return None
    if not isinstance(entries, list) or not all(
            isinstance(e, dict) and isinstance(e.get('name'), str) for e in entries):
        return None
    return entries


def read_summary(folder):
    """Entries of a campaign's summary.json, for the figures: the numbers as
    floats (NaN where unknown), with the shares of high and low points and
    'failed' for an input that is not done."""
    entries = read_summary_entries(folder)
    if entries is None:
        raise OutputError(f'{os.path.join(folder, SUMMARY_JSON)}: no list of runs '
                          'with their names')
    flights = []
    for entry in entries:
        points = _number(entry.get('points'))
        flight = {'name': entry['name'], 'input': entry.get('input'),
                  'status': entry.get('status'), 'reason': entry.get('reason'),
                  'failed': entry.get('done') is not True, 'points': points,
                  'fitted_lines': _number(entry.get('fittedLines'))}
        for share, key in (('high_share', 'highPoints'), ('low_share', 'lowPoints')):
            flight[share] = _number(entry.get(key)) / points if points else \
                (0.0 if points == 0 else math.nan)
        flights.append(flight)
    return flights


def is_campaign(path):
    """Whether path is a scanfit-batch folder rather than one run."""
    return os.path.isfile(os.path.join(path, SUMMARY_JSON))


def campaign_flights(folder):
    """The flights of a campaign in the summary's order, each with the prefix
    of its outputs and whether its run is done. A run that is not done has no
    outputs of its own, so any in its folder are an earlier run's and are not
    the flight's."""
    flights = read_summary(folder)
    for flight in flights:
        flight['prefix'] = os.path.join(folder, flight['name'], flight['name'])
        flight['succeeded'] = not flight['failed']
    return flights


def load_campaign(folder):
    """The summary's flights, each with its run's nadir track and fitted lines
    when it is done and its outputs are there."""
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
