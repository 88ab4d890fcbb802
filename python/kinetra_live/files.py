"""Reading a user's file whole, within a stated size, and only if it is a regular file: a
device such as /dev/zero would read without end, and a FIFO would block on its first read."""

from __future__ import annotations

import os
import stat
from pathlib import Path

from .quoting import one_line


class FileRefused(ValueError):
    """A file that is not read: missing, unreadable, not a regular file or too large."""


def read_bytes(path: Path | str, limit: int) -> bytes:
    """The whole of `path`, at most `limit` bytes, or FileRefused naming the file and why."""
    name = one_line(str(path), 200)
    try:
        # O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_CLOEXEC", 0))
    except OSError as exc:
        raise FileRefused(f"{name}: {exc.strerror or exc}") from None
    except ValueError:      # a NUL in the path
        raise FileRefused(f"{name}: not a file name") from None
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            raise FileRefused(f"{name}: not a regular file")
        if info.st_size > limit:
            raise FileRefused(f"{name}: larger than {limit:,} bytes")
        chunks, size = [], 0
        while size <= limit:
            chunk = os.read(fd, min(1 << 20, limit + 1 - size))
            if not chunk:
                break
            chunks.append(chunk)
            size += len(chunk)
        if size > limit:        # it grew while being read
            raise FileRefused(f"{name}: larger than {limit:,} bytes")
        return b"".join(chunks)
    except OSError as exc:
        raise FileRefused(f"{name}: {exc.strerror or exc}") from None
    finally:
        os.close(fd)


def read_text(path: Path | str, limit: int) -> str:
    """`read_bytes` decoded as UTF-8."""
    data = read_bytes(path, limit)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as exc:
        raise FileRefused(f"{one_line(str(path), 200)}: not UTF-8 text (byte {exc.start})") \
            from None
