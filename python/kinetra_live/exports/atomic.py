"""Files that appear whole or not at all.

An export is written to a hidden `.NAME.XXXXXXXX.part` beside its target, on the same file
system, and renamed over the target in one step once it is complete and on disk. On any
error or interruption the part is removed and the target is left as it was. (Only a kill
that Python cannot see, SIGKILL or a power cut, can leave a part behind; never a half file
under the target's name.)
"""

from __future__ import annotations

import contextlib
import os
import secrets
import signal
from pathlib import Path


class Interrupted(Exception):
    """A termination signal arrived while an export was being written."""

    def __init__(self, signum: int):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


def _sync_directory(directory: Path) -> None:
    # the rename itself on disk; some file systems cannot sync a directory, which is no fault
    with contextlib.suppress(OSError):
        fd = os.open(directory, os.O_RDONLY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)


@contextlib.contextmanager
def replacing(target: Path | str):
    """A binary file object that becomes `target` when the block ends normally; on any
    exception (KeyboardInterrupt too) the target is left untouched and the part removed. The
    new file has the permissions of any new file (0o666 less the umask)."""
    target = Path(target)
    part = target.with_name(f".{target.name}.{secrets.token_hex(4)}.part")
    # a signal between making the part and owning it, or during its removal, would leave it
    with _signals_held():
        fd = os.open(part, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    try:
        with os.fdopen(fd, "wb", closefd=False) as file:
            yield file
            file.flush()
            os.fsync(fd)
        os.replace(part, target)
        part = None
        _sync_directory(target.parent)
    finally:
        with _signals_held():
            os.close(fd)
            if part is not None:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(part)


HELD = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


@contextlib.contextmanager
def _signals_held():
    """Termination signals wait until the block is done (their handlers run after it)."""
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, HELD)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


@contextlib.contextmanager
def signals_raise(signums=(signal.SIGTERM, signal.SIGHUP)):
    """Within the block, a termination signal raises `Interrupted`, so every `replacing`
    cleans up as it would for Ctrl-C. Outside the main thread there is nothing to install.

    The block gets a `check()` to call between units of work: a handler that happens to run
    inside a finaliser has its exception swallowed, and `check()` raises it again."""
    arrived: list[int] = []

    def interrupt(signum, _frame):
        arrived.append(signum)
        raise Interrupted(signum)

    def check() -> None:
        if arrived:
            raise Interrupted(arrived[0])

    saved = {}
    try:
        for signum in signums:
            saved[signum] = signal.signal(signum, interrupt)
    except ValueError:
        pass
    try:
        yield check
    finally:
        for signum, handler in saved.items():
            signal.signal(signum, handler)
