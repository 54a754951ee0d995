"""Reads the sanitizer reports that `dev/sanitize --leaks` collects, one file
per process, and fails when a leak was allocated in project code or when any
process reported a memory error. A process whose leak check could not run
(the checker failed by itself) is named, not failed.

    python3 dev/leak_reports.py build/asan/leaks
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

LEAK = re.compile(r"^(Direct|Indirect) leak of (\d+) byte")
ERROR = re.compile(r"ERROR: AddressSanitizer(?!: detected memory leaks)|runtime error:|Sanitizer CHECK failed")
UNCHECKED = re.compile(r"LeakSanitizer has encountered a fatal error")
# Frames of our code: the core and the binding live in namespace skyrec.
PROJECT_FRAME = re.compile(r"\bskyrec::|PyInit__skyrec")


def leaks(report: str):
    """(header, frames) for every leak in one report."""
    block = None
    for line in report.splitlines():
        if LEAK.match(line):
            block = (line, [])
        elif block is not None and line.strip().startswith("#"):
            block[1].append(line.strip())
        elif block is not None:
            yield block
            block = None
    if block is not None:
        yield block


def main(directory: Path) -> int:
    files = sorted(directory.glob("report*"))
    total, total_bytes, ours, errors, unchecked = 0, 0, [], [], []
    for path in files:
        report = path.read_text(errors="replace")
        if ERROR.search(report):
            errors.append((path.name, report))
        elif UNCHECKED.search(report):
            unchecked.append(path.name)
        for header, frames in leaks(report):
            total += 1
            total_bytes += int(LEAK.match(header).group(2))
            if any(PROJECT_FRAME.search(f) for f in frames):
                ours.append((path.name, header, frames))
    print(f"leak reports: {len(files)} processes reported {total} leaks ({total_bytes} bytes); "
          f"{len(ours)} allocated in project code")
    if unchecked:
        print(f"the leak check failed by itself in {len(unchecked)} processes, whose leaks are not known: "
              + ", ".join(unchecked))
    for name, header, frames in ours:
        print(f"\n{name}: {header}")
        for frame in frames[:20]:
            print("   ", frame)
    for name, report in errors:
        print(f"\n{name}: memory error\n" + "\n".join(report.splitlines()[:60]))
    return 1 if ours or errors else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1])))
