import json
import os

import pytest

from scanfit_tools import runs

# 1700000000 s after 1970 is 2023-11-14 22:13:20 UTC.
MODIFIED_NS = 1_700_000_000_123_456_789
MODIFIED = '2023-11-14T22:13:20.123456789Z'


@pytest.mark.parametrize('path, name', [
    ('flights.d/north.strip.txt', 'north'),
    ('/data/.hidden.txt', ''),
    ('plain', 'plain'),
    (b'in\xff.d/\xfe\xff.x.txt', b'\xfe\xff'),
    (os.fsdecode(b'dir/c\xff$\\{$.txt'), os.fsdecode(b'c\xff$\\{$')),
])
def test_name_is_the_file_name_up_to_its_first_dot(path, name):
    assert runs.run_name(path) == name


def test_summary_escapes_its_tsv_and_keeps_every_byte_in_json(tmp_path):
    given = os.fsdecode(b'in\ndir/a\tb\\c\xff"d.txt')
    entry = dict.fromkeys(runs.SUMMARY_KEYS)
    entry.update(name=runs.run_name(given), input=given, done=True, status=0, points=8,
                 fittedLines=1, highPoints=2, lowPoints=0, sigmaMedian=0.25, seconds=1.5)
    failed = dict(dict.fromkeys(runs.SUMMARY_KEYS), name='x', input="'x.txt", done=False,
                  reason='Cannot read from: x\n.txt: No such file or directory')
    runs.write_summary(str(tmp_path), [entry, failed])
    rows = (tmp_path / 'summary.tsv').read_bytes().split(b'\n')
    assert rows[0] == b'\t'.join(c.encode() for c in runs.TSV_COLUMNS)
    assert rows[1] == (b'in\\ndir/a\\tb\\\\c\\xff"d.txt\ta\\tb\\\\c\\xff"d\tyes\t0\t\t8\t1\t'
                       b'0.250000\t0.000000\t0.25\t1.500\t')
    assert rows[2] == (b"'x.txt\tx\tno\t\tCannot read from: x\\n.txt: No such file or "
                       b"directory\t\t\t\t\t\t\t")
    assert rows[3:] == [b'']
    text = (tmp_path / 'summary.json').read_bytes()
    assert text.isascii() and b'\\udcff' in text
    back = json.loads(text)
    assert [os.fsencode(e['input']) for e in back] == [b'in\ndir/a\tb\\c\xff"d.txt', b"'x.txt"]
    assert os.fsencode(back[0]['name']) == b'a\tb\\c\xff"d'


@pytest.fixture
def finished_run(tmp_path):
    """An input and a run folder as scanfit leaves them: a report naming the
    input, and two outputs of the sizes it lists."""
    flight = tmp_path / 'in' / 'flight.txt'
    flight.parent.mkdir()
    flight.write_bytes(b'12345')
    os.utime(flight, ns=(MODIFIED_NS, MODIFIED_NS))
    folder = tmp_path / 'camp' / 'flight'
    folder.mkdir(parents=True)
    (folder / 'flight.fit').write_bytes(b'abc')
    (folder / 'flight_fit.ver').write_bytes(b'')
    report = {'input': {'name': str(flight), 'file': 'flight.txt', 'path': str(flight),
                        'size': 5, 'modified': MODIFIED},
              'outputs': [{'name': 'elsewhere/flight.fit', 'bytes': 3},
                          {'name': 'flight_fit.ver', 'bytes': 0}]}
    (folder / 'report.json').write_text(json.dumps(report))
    return flight, folder, report


def rewrite(folder, report):
    (folder / 'report.json').write_text(json.dumps(report))


def test_a_run_is_done_when_report_and_outputs_agree(finished_run):
    flight, folder, report = finished_run
    assert runs.verify_run(str(folder), str(flight)) is None
    (folder / 'flight.fit').write_bytes(b'abcd')
    assert runs.verify_run(str(folder), str(flight)) == \
        'output flight.fit holds 4 bytes, its report says 3'
    (folder / 'flight.fit').unlink()
    assert runs.verify_run(str(folder), str(flight)) == 'output flight.fit is missing'
    (folder / 'report.json').write_text('{"input":')
    assert runs.verify_run(str(folder), str(flight)) == 'its report does not read'
    (folder / 'report.json').unlink()
    assert runs.verify_run(str(folder), str(flight)) == 'no report'


def test_a_run_is_of_its_own_input_only(finished_run, tmp_path):
    flight, folder, report = finished_run
    other = tmp_path / 'other' / 'flight.txt'
    other.parent.mkdir()
    other.write_bytes(b'12345')
    os.utime(other, ns=(MODIFIED_NS, MODIFIED_NS))
    assert runs.verify_run(str(folder), str(other)) == \
        f'its report is of another input: {flight}'
    os.utime(flight, ns=(MODIFIED_NS + 1, MODIFIED_NS + 1))
    assert runs.verify_run(str(folder), str(flight)) == 'its input changed after it ran'
    os.utime(flight, ns=(MODIFIED_NS, MODIFIED_NS))
    # A run on another host read a copy; its record names the input.
    report['input'].update(path='/home/u/.scanfit-batch/1/flight.txt', name='flight.txt')
    rewrite(folder, report)
    runs.write_record(str(folder), {'status': 0, 'host': 'h1', 'input': str(flight)})
    assert runs.verify_run(str(folder), str(flight)) is None
    assert runs.verify_run(str(folder), str(other)) == f'it is of another input: {flight}'
