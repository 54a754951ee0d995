"""The everyday tools against Debian's ecCodes tools, in CPU time (user and
system: the machine is shared, wall time says more of the others than of
these), the best of a few runs: each tool as a user runs it (a fresh
process: the `skyrec` executable, and `python -m skyrec` with the package's
bytecode compiled as an installed package has it) and skyrec also
in-process once imported (what a service, a notebook or a loop over files
pays). The interpreter's own start is shown as the floor of any Python
process, and skyrec's (`python -m skyrec copy --help`) beside it:

- `skyrec copy --where dataCategory=N` of the whole corpus in one run
  against `bufr_copy -f -w dataCategory=N` (header-only: skyrec decodes no
  section 4);
- `skyrec compare` against `bufr_compare`: the corpus's largest file with
  itself and with a copy of one header key changed, and a SYNOP file of 44
  messages with a copy of one value changed in each (every value decoded
  and compared).

    PYTHONPATH=$PWD/build/rel:$PWD/python python3 bench/bench_tools.py [CATEGORY]

The executable is the one built beside the module imported (build/rel/bin/skyrec),
else the `skyrec` on PATH.
"""

from __future__ import annotations

import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

import _skyrec
from skyrec.cli import main as skyrec_main

CORPUS = Path(__file__).resolve().parents[1] / ".." / "shared" / "corpus" / "real"
SYNOP = "Z__C_EDZW_20210516120400_bda01,synop_bufr_GER_999999_999999__MW_466.bufr"  # 44 messages
LARGEST = "M02-HIRS-HIRxxx1B-NA-1.0-20181122114854.000000000Z-20181122132602-1304602.bufr"
RUNS = 7
# As an installed package runs: bytecode written once (here to a folder of its own) and read after.
ENVIRONMENT = {k: v for k, v in os.environ.items() if k != "PYTHONDONTWRITEBYTECODE"}
# The executable hands what it does not answer to the python3.X on PATH: this one, as in its activated venv.
ENVIRONMENT["PATH"] = os.pathsep.join((str(Path(sys.executable).parent), os.environ.get("PATH", "")))


def executable() -> str:
    built = Path(_skyrec.__file__).parent / "bin" / "skyrec"
    found = str(built) if built.is_file() else shutil.which("skyrec")
    if found is None:
        sys.exit("needs the skyrec executable: build it, or install the package")
    return found


def best_seconds(run: Callable[[], float]) -> float:
    run()  # the first run writes the bytecode and fills the page cache
    return min(run() for _ in range(RUNS))


def process(*args: str) -> Callable[[], float]:
    """The CPU time of a run of the command (user and system, its children included)."""
    def run() -> float:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run(list(args), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=ENVIRONMENT)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return run


def in_process(*args: str) -> Callable[[], float]:
    """The CPU time of skyrec's main() on `args`, already imported."""
    def run() -> float:
        out, err = sys.stdout, sys.stderr
        with open(os.devnull, "w") as null:
            sys.stdout = sys.stderr = null
            start = time.process_time()
            try:
                skyrec_main(list(args))
            finally:
                sys.stdout, sys.stderr = out, err
            return time.process_time() - start
    return run


def line(what: str, ours: float, theirs: float, peer: str) -> None:
    print(f"  {what:44} {ours * 1e3:9.1f} ms   {peer} {theirs * 1e3:9.1f} ms   {theirs / ours:6.1f}x")


def main(category: str) -> None:
    files = sorted(str(p) for p in CORPUS.iterdir() if p.is_file() and p.name != "MANIFEST.tsv")
    size = sum(os.path.getsize(f) for f in files)
    skyrec = executable()
    with tempfile.TemporaryDirectory() as folder:
        ENVIRONMENT["PYTHONPYCACHEPREFIX"] = f"{folder}/bytecode"
        floor = best_seconds(process(sys.executable, "-c", "pass"))
        print(f"the interpreter alone (python -c pass): {floor * 1e3:.1f} ms")
        start = best_seconds(process(sys.executable, "-m", "skyrec", "copy", "--help"))
        print(f"skyrec's start (skyrec copy --help, fresh): {start * 1e3:.1f} ms")
        ours_out, theirs_out = f"{folder}/ours.bufr", f"{folder}/theirs.bufr"
        print(f"copy --where dataCategory={category}: {len(files)} files, {size / 1e6:.1f} MB")
        copy = ("copy", *files, "--where", f"dataCategory={category}", "-o", ours_out)
        theirs = best_seconds(process("bufr_copy", "-f", "-w", f"dataCategory={category}", *files, theirs_out))
        line("skyrec copy (the executable)", best_seconds(process(skyrec, *copy)), theirs, "bufr_copy")
        line("python -m skyrec copy (fresh process)", best_seconds(process(sys.executable, "-m", "skyrec", *copy)),
             theirs, "bufr_copy")
        line("skyrec copy (in-process)", best_seconds(in_process(*copy)), theirs, "bufr_copy")
        ours_bytes, theirs_bytes = Path(ours_out).read_bytes(), Path(theirs_out).read_bytes()
        print(f"  written: skyrec {len(ours_bytes)} bytes, bufr_copy {len(theirs_bytes)} bytes")

        largest, synop = str(CORPUS / LARGEST), str(CORPUS / SYNOP)
        changed, values = f"{folder}/changed.bufr", f"{folder}/values.bufr"
        in_process("set", "bufrHeaderSubCentre=1", largest, "-o", changed)()
        in_process("set", "#1#airTemperature=250.5", synop, "-o", values)()
        for name, a, b in ((f"{LARGEST[:20]}... with itself", largest, largest),
                           (f"{LARGEST[:20]}... a header key changed", largest, changed),
                           (f"{SYNOP[:20]}... a value changed", synop, values)):
            print(f"compare: {name}")
            theirs = best_seconds(process("bufr_compare", a, b))
            line("the executable", best_seconds(process(skyrec, "compare", a, b)), theirs, "bufr_compare")
            line("python -m skyrec (fresh process)",
                 best_seconds(process(sys.executable, "-m", "skyrec", "compare", a, b)), theirs, "bufr_compare")
            line("in-process", best_seconds(in_process("compare", a, b)), theirs, "bufr_compare")

if __name__ == "__main__":
    if not CORPUS.is_dir() or shutil.which("bufr_copy") is None:
        sys.exit(f"needs the corpus at {CORPUS} and Debian's libeccodes-tools")
    main(sys.argv[1] if len(sys.argv) > 1 else "2")
