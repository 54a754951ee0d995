"""What the readers take for `source`: a file, a directory (its files), a
glob, or a list of them, turned into the files to read, in order. Errors name
the argument and the path, so a wrong one is found without guessing."""

from __future__ import annotations

import glob
import io
import os
from collections.abc import Iterable
from typing import Any

BUFFERS = (bytes, bytearray, memoryview)
SOURCE_KINDS = "a path, a directory, a glob, bytes-like data, a binary stream or a list of them"


def is_many(source: Any) -> bool:
    """Whether `source` stands for several files (a directory, a glob or a
    list), rather than one file, stream or buffer."""
    if isinstance(source, (str, os.PathLike)):
        text = os.fspath(source)
        return isinstance(text, str) and (glob.has_magic(text) or os.path.isdir(text))
    return isinstance(source, (list, tuple))


def directory_files(path: str, argument: str) -> list[str]:
    """The files of a directory, by name; hidden ones are left out and
    sub-directories are not entered."""
    try:
        names = sorted(os.listdir(path))
    except OSError as e:
        raise type(e)(e.errno, f"{argument}: cannot list directory {path}: {e.strerror}") from None
    files = [os.path.join(path, n) for n in names if not n.startswith(".") and os.path.isfile(os.path.join(path, n))]
    if not files:
        raise FileNotFoundError(f"{argument}: directory {path} holds no files")
    return files


def data_of(item: Any, argument: str = "source") -> Any | None:
    """What `item` holds when it is data rather than paths: a buffer of
    bytes (a NumPy uint8 array and array('B') too) or a binary stream's
    bytes; None for a path or a list."""
    if isinstance(item, BUFFERS):
        return item
    if isinstance(item, (str, os.PathLike)):
        return None
    if isinstance(item, io.TextIOBase):
        raise TypeError(f"{argument} is a text stream: BUFR is binary (open the file with 'rb')")
    if hasattr(item, "read"):
        return item.read()
    try:
        view = memoryview(item)
    except TypeError:
        return None
    if view.itemsize != 1:
        raise TypeError(f"{argument} is a buffer of {view.format!r} items, not bytes; it must be {SOURCE_KINDS}")
    return view.cast("B")


def checked_path(name: str, path: Any) -> str:
    """A file-system path given as `name`, as os.fsdecode gives it (a name
    that is not UTF-8 keeps its bytes)."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"{name} must be a path (str, bytes or os.PathLike), not {type(path).__name__}")
    text = os.fsdecode(path)
    if "\0" in text:
        raise ValueError("embedded null byte in path")
    return text


def check_one(source: Any, argument: str = "source") -> None:
    """A source of one file, stream or buffer, checked as expand_sources
    checks each item but without reading it: a missing file or a wrong type
    is said by the call that is given it, in the words every reader uses."""
    if isinstance(source, (str, os.PathLike)):
        text = os.fspath(source)
        if isinstance(text, str) and "\0" in text:
            raise ValueError("embedded null byte in path")
        if isinstance(text, str) and not (os.path.exists(text) or os.path.islink(text)):
            raise FileNotFoundError(f"{argument}: no such file or directory: {text}")
        return
    if isinstance(source, io.TextIOBase):
        raise TypeError(f"{argument} is a text stream: BUFR is binary (open the file with 'rb')")
    if isinstance(source, BUFFERS) or hasattr(source, "read"):
        return
    try:
        memoryview(source)
    except TypeError:
        raise TypeError(f"{argument} must be {SOURCE_KINDS}, not {type(source).__name__}") from None


def expand_sources(source: Any, argument: str = "source") -> list[Any]:
    """The files (and data, as they are) that `source` names: a path, a
    directory, a glob, bytes-like data, a binary stream or a list of them, in
    the order given, each glob's matches and each directory's files sorted; a
    file named twice is read twice. A path that names nothing is a
    FileNotFoundError naming it."""
    if (data := data_of(source, argument)) is not None:
        return [data]
    if not isinstance(source, (str, os.PathLike, Iterable)):
        raise TypeError(f"{argument} must be {SOURCE_KINDS}, not {type(source).__name__}")
    items: Iterable[Any] = [source] if isinstance(source, (str, os.PathLike)) else source
    found: list[Any] = []
    for item in items:
        if (data := data_of(item, argument)) is not None:
            found.append(data)
            continue
        if not isinstance(item, (str, os.PathLike)):
            raise TypeError(f"{argument} must be {SOURCE_KINDS}; it holds a {type(item).__name__}")
        text = os.fspath(item)
        if not isinstance(text, str):
            raise TypeError(f"{argument}: a path must be str or os.PathLike, not {type(item).__name__}")
        if glob.has_magic(text) and not os.path.exists(text):
            matches = sorted(glob.glob(text))
            if not matches:
                raise FileNotFoundError(f"{argument}: no files match {text}")
            for match in matches:
                found.extend(directory_files(match, argument) if os.path.isdir(match) else [match])
        elif os.path.isdir(text):
            found.extend(directory_files(text, argument))
        elif os.path.exists(text) or os.path.islink(text):
            found.append(text)
        else:
            raise FileNotFoundError(f"{argument}: no such file or directory: {text}")
    if not found:
        raise ValueError(f"{argument} names no files")
    return found
