"""Putting an export's files in place. Each is written into a private folder
beside the name it goes to, and all are renamed to their names only once
every one is complete, so that an export that fails or is stopped leaves
files of those names as they were and nothing half-written."""

import os
import shutil
import signal
import stat
import tempfile

STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class PlaceError(Exception):
    """A name that an export may not write."""


def stage(targets, inputs):
    """{target: path to write it at} for every target, refusing a target that
    exists and is not a regular file, or that is one of the files read. A
    target that is a symbolic link replaces the file it links to; the link
    stays."""
    staged, folders = {}, {}
    try:
        for target in targets:
            final = _final_name(target, inputs)
            parent = os.path.dirname(final) or '.'
            if parent not in folders:
                try:
                    folders[parent] = tempfile.mkdtemp(prefix='.scanfit-export-', dir=parent)
                except OSError as error:
                    raise PlaceError(f'{target}: cannot write into {parent}: '
                                     f'{error.strerror}') from None
            staged[target] = (os.path.join(folders[parent], os.path.basename(final)), final)
    except BaseException:
        discard({'folders': list(folders.values())})
        raise
    return {'files': staged, 'folders': list(folders.values())}


def _final_name(target, inputs):
    final = os.path.realpath(target) if os.path.islink(target) else target
    try:
        mode = os.stat(final).st_mode
    except FileNotFoundError:
        return final
    if not stat.S_ISREG(mode):
        raise PlaceError(f'{target}: exists and is not a regular file')
    for path in inputs:
        if os.path.exists(path) and os.path.samefile(path, final):
            raise PlaceError(f'{target}: is one of the files the export reads')
    return final


def written_name(staging, target):
    """Where to write target until it is put in place."""
    return staging['files'][target][0]


def put_in_place(staging):
    """Renames every file to its name. A stop signal that comes meanwhile
    waits until all are there."""
    blocked = signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
    try:
        for staged, final in staging['files'].values():
            os.replace(staged, final)
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
    discard(staging)


def discard(staging):
    for folder in staging['folders']:
        shutil.rmtree(folder, ignore_errors=True)
