"""Runs the CSV record reader directly, through tests/native/csv_probe.cpp,
compiled once per session with the system's C++ compiler."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


def build_probe(directory):
    compiler = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++") or shutil.which("clang++")
    if compiler is None:
        pytest.skip("no C++ compiler to build the CSV reader probe")
    sources = [ROOT / "tests" / "native" / "csv_probe.cpp", ROOT / "src" / "tables" / "csv_reader.cpp",
               ROOT / "src" / "tables" / "text_file.cpp",
               *sorted((ROOT / "src" / "message").glob("*.cpp"))]
    exe = Path(directory) / "csv_probe"
    cmd = [compiler, "-std=c++20", "-O1", f"-I{ROOT / 'src'}", "-o", str(exe), *map(str, sources)]
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        pytest.fail("building the CSV reader probe failed:\n" + result.stderr[:3000])
    return exe


class Probe:
    def __init__(self, exe, directory):
        self.exe = exe
        self.directory = Path(directory)

    def read(self, dialect, content):
        """(records as lists of bytes fields, error message or None) for a file
        holding `content`, read in dialect "wmo" or "element"."""
        path = self.directory / "input.csv"
        path.write_bytes(content)
        out = subprocess.run([str(self.exe), dialect, str(path)], capture_output=True, check=True).stdout
        records, error = [], None
        for line in out.split(b"\n")[:-1]:
            kind, *rest = line.split(b"\t")
            if kind == b"R":
                records.append([bytes.fromhex(f.decode()) for f in rest])
            elif kind == b"E":
                error = b"\t".join(rest).decode("utf-8", "replace")
            else:
                assert kind == b"END"
        return records, error
