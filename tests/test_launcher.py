"""The `skyrec` executable: the command lines it answers itself (copy with
header-only conditions, compare of identical files) give what `python -m
skyrec` gives, byte for byte; every other one is handed over to Python."""

from __future__ import annotations

import os
import resource
import shutil
import signal
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import _skyrec
from bufrgen import build_message
from conftest import corpus_files
from skyrec import _native
from skyrec.cli import main
from skyrec.gts import gts_header


def executable() -> Path | None:
    for candidate in (Path(_skyrec.__file__).parent / "bin" / "skyrec",
                      Path(sysconfig.get_path("scripts")) / "skyrec"):
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return candidate
    return None


SKYREC = executable()
pytestmark = pytest.mark.skipif(SKYREC is None, reason="the skyrec executable is not built (POSIX only)")

GOOD = [build_message(category=0, centre=98), build_message(category=2, centre=74, day=3),
        build_message(category=2, centre=98, local_subcategory=7)]


def damaged(message: bytes) -> bytes:
    return message[:-4] + b"7776"  # no end marker: framed as a failure


INPUTS = {
    "a.bufr": b"".join(GOOD),
    "same.bufr": b"".join(GOOD),
    "feed.bin": gts_header("ISMD01", "EDZW", "041200", sequence=1).wrapped(GOOD[1]) + b"junk" + GOOD[0],
    "bad.bufr": GOOD[0] + damaged(GOOD[1]) + GOOD[2],
    "junk.bin": b"no messages here",
}

# (command line, answered by the executable itself, exit status)
LINES = [
    ("copy a.bufr --where dataCategory=2 -o out.bufr", True, 0),
    ("copy a.bufr feed.bin -o out_[dataCategory]_[bufrHeaderCentre].bufr", True, 0),
    ("copy --no-progress a.bufr --where=typicalDate=20240102:20240102 --where bufrHeaderCentre=74/98 "
     "--output=out.bufr", True, 0),
    ("copy a.bufr --where dataCategory=2 --where dataCategory=0: -o out.bufr", True, 0),  # the later one counts
    ("copy a.bufr --where dataSubCategory=5:6 -o out.bufr", True, 0),  # nothing kept: no file
    ("copy missing.bufr a.bufr -o out.bufr", True, 1),
    ("copy bad.bufr junk.bin feed.bin -o out.bufr", True, 1),
    ("copy a.bufr -o nowhere/out.bufr", True, 74),
    ("copy a.bufr -o out_[stationNumber].bufr", False, 2),
    ("copy a.bufr --where dataCategory=3:1 -o out.bufr", False, 2),
    ("copy a.bufr -o out.bufr feed.bin", False, 2),  # files in two runs: argparse's refusal
    ("copy feed.bin --where gts_cccc=EDZW -o out.bufr", False, 0),
    ("copy feed.bin --gts -o out_[gts_ttaaii].bin", False, 0),
    ("copy a.bufr --where dataCategory=2e0/-1.5 -o out.bufr", True, 0),
    ("copy a.bufr --where dataCategory=0_2 -o out.bufr", False, 0),  # a number to Python alone
    ("compare a.bufr same.bufr", True, 0),
    ("compare a.bufr a.bufr", True, 0),
    ("compare missing.bufr a.bufr", False, 2),
]


def outcome(folder: Path, command: list[str], line: str, env: dict[str, str] | None = None, limit=None):
    folder.mkdir()
    for name, data in INPUTS.items():
        (folder / name).write_bytes(data)
    result = subprocess.run([*command, *line.split()], cwd=folder, capture_output=True, env=env, timeout=60,
                            preexec_fn=limit)
    made = {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.name not in INPUTS}
    return result.returncode, result.stdout, result.stderr, made


def python_env() -> dict[str, str]:
    return dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), PATH=f"{Path(sys.executable).parent}{os.pathsep}"
                f"{os.environ.get('PATH', '')}")


@pytest.mark.parametrize("line, native, status", LINES)
def test_executable_and_python_agree(tmp_path, line, native, status):
    ours = outcome(tmp_path / "executable", [str(SKYREC)], line, python_env())
    python = outcome(tmp_path / "python", [sys.executable, "-m", "skyrec"], line, python_env())
    assert ours == python
    assert ours[0] == status, ours[2]
    if status == 74:
        assert not any(tmp_path.rglob("*.part"))


@pytest.mark.parametrize("line, native, status", LINES)
def test_executable_hands_over_only_what_it_cannot_answer(tmp_path, line, native, status):
    stand_in = tmp_path / "stand_in" / "skyrec"  # a package `skyrec` that says it was run
    stand_in.mkdir(parents=True)
    (stand_in / "__init__.py").write_text("")
    (stand_in / "__main__.py").write_text("import sys\nprint(sys.argv[1:])\nsys.exit(99)\n")
    env = dict(os.environ, PYTHONPATH=str(stand_in.parent), PATH=f"{Path(sys.executable).parent}")
    code, out, _, _ = outcome(tmp_path / "run", [str(SKYREC)], line, env)
    assert (code == 99) == (not native)
    if not native:  # the same arguments, in the same order
        assert out.decode().strip() == repr(line.split())


# --where conditions and -o names that the core judges itself, as the Python command does.
CORE_LINES = [line.split() for line, native, _ in LINES if native and line.startswith("copy")] + [
    ["copy", "a.bufr", "feed.bin", "--where", condition, "-o", output]
    for condition, output in [
        (" dataCategory = 2 ", "out.b"), ("dataCategory=/2//", "out.b"), ("dataCategory=2.0", "out.b"),
        ("dataCategory=1.5:", "out.b"), ("dataCategory=:0.5", "out.b"), ("dataCategory=:", "out.b"),
        ("dataCategory=-1:2.5e0", "out.b"), ("dataSubCategory=7", "out.b"), ("typicalTime=30405", "out.b"),
        ("typicalDate=20240103/20240102", "[typicalDate]_[typicalTime].b"), ("numberOfSubsets=1:1", "a[1]c[.b"),
        ("bufrHeaderCentre=74", "[[bufrHeaderCentre]]_[edition]_[masterTablesVersionNumber].b"),
        ("compressedData=0", "x[-]y_[observedData][typicalSecond].b"),
    ]
]


@pytest.mark.parametrize("argv", CORE_LINES, ids=" ".join)
def test_core_copy_and_python_copy_agree(tmp_path, monkeypatch, capsysbinary, argv):
    """The Python command's own copy (the core refused) writes and says what the core's does."""
    answered = []

    def core(*args):
        answered.append(_native.copy_files.__wrapped__(*args))  # type: ignore[attr-defined]
        return answered[-1]

    core.__wrapped__ = _native.copy_files  # type: ignore[attr-defined]
    results = []
    for folder, copy in (("core", core), ("python", lambda *args: None)):
        (tmp_path / folder).mkdir()
        for name, data in INPUTS.items():
            (tmp_path / folder / name).write_bytes(data)
        monkeypatch.chdir(tmp_path / folder)
        monkeypatch.setattr(_native, "copy_files", copy)
        status = main(argv)
        captured = capsysbinary.readouterr()
        made = {p.name: p.read_bytes() for p in sorted(Path().iterdir()) if p.name not in INPUTS}
        results.append((status, captured.out, captured.err, made))
        monkeypatch.undo()
    assert answered and answered[0] is not None, "the core refused it"
    assert results[0] == results[1]


def test_a_file_longer_than_the_window_read_at_a_time(tmp_path, monkeypatch, capsysbinary):
    """Messages across the window's edges (a few megabytes) are found as the Python reader finds them."""
    long = (b"".join(GOOD) + b"BUF" + damaged(GOOD[1])) * 70_000  # about 12 MB
    made = []
    for folder, copy in (("core", _native.copy_files), ("python", lambda *args: None)):
        (tmp_path / folder).mkdir()
        (tmp_path / folder / "long.bufr").write_bytes(long)
        monkeypatch.chdir(tmp_path / folder)
        monkeypatch.setattr(_native, "copy_files", copy)
        status = main(["copy", "long.bufr", "-o", "out_[dataCategory].bufr"])
        made.append((status, capsysbinary.readouterr().err.splitlines()[-1], (Path("out_2.bufr")).read_bytes()))
    assert made[0] == made[1]
    assert made[0][1].startswith(b"skyrec: copy: 280000 messages read, 210000 written to 2 files, 0 skipped, 70000")


@pytest.mark.skipif(not corpus_files(), reason="the real corpus (../shared/corpus/real) is not here")
def test_core_copy_and_python_copy_agree_on_the_corpus(tmp_path, monkeypatch, capsysbinary):
    """Real files: GTS headings, bytes between messages, broken and cut-short messages."""
    paths = [str(p) for p in corpus_files()]
    results = []
    for folder, copy in (("core", _native.copy_files), ("python", lambda *args: None)):
        (tmp_path / folder).mkdir()
        monkeypatch.chdir(tmp_path / folder)
        monkeypatch.setattr(_native, "copy_files", copy)
        status = main(["copy", *paths, "--where", "edition=3/4", "-o", "[dataCategory]_[typicalYear].bufr"])
        made = {p.name: p.read_bytes() for p in sorted(Path().iterdir())}
        results.append((status, capsysbinary.readouterr().err, made))
    assert results[0] == results[1]
    assert len(results[0][2]) > 10


def python_named(folder: Path, code: str) -> None:
    script = folder / f"python{sys.version_info.major}.{sys.version_info.minor}"
    script.write_text(f"#!/bin/sh\necho {code} \"$@\"\n")
    script.chmod(0o755)


@pytest.mark.parametrize("beside, on_path, chosen", [(True, True, "beside"), (False, True, "path"),
                                                     (False, False, "built")])
def test_the_interpreter_beside_the_executable_comes_first(tmp_path, beside, on_path, chosen):
    (tmp_path / "bin").mkdir()
    (tmp_path / "path").mkdir()
    shutil.copy(SKYREC, tmp_path / "bin" / "skyrec")
    if beside:
        python_named(tmp_path / "bin", "beside")
    if on_path:
        python_named(tmp_path / "path", "path")
    stand_in = tmp_path / "stand_in" / "skyrec"  # what the interpreter the build was given runs
    stand_in.mkdir(parents=True)
    (stand_in / "__init__.py").write_text("")
    (stand_in / "__main__.py").write_text("import sys\nprint('built', *sys.argv[1:])\n")
    env = dict(os.environ, PATH=str(tmp_path / "path"), PYTHONPATH=str(stand_in.parent))
    result = subprocess.run([tmp_path / "bin" / "skyrec", "ls", "a b.bufr"], capture_output=True, text=True,
                            env=env, timeout=60)
    if chosen == "built" and result.returncode == 2:  # that interpreter is gone (a build's own environment)
        assert result.stderr.startswith("skyrec: no python3.") and result.stderr.count("\n") == 1
        return
    assert result.stdout.split() == [chosen, *(["-m", "skyrec"] if chosen != "built" else []), "ls", "a", "b.bufr"]


def test_split_files_hold_the_messages_kept(tmp_path):
    """What the executable writes is the input's messages, whole and in order."""
    _, _, err, made = outcome(tmp_path / "run", [str(SKYREC)], "copy a.bufr -o out_[dataCategory].bufr",
                              python_env())
    assert made == {"out_0.bufr": GOOD[0], "out_2.bufr": GOOD[1] + GOOD[2]}
    assert err == b"skyrec: copy: 3 messages read, 3 written to 2 files, 0 skipped, 0 failed\n"


def small_disk() -> None:
    """Writes past 100 bytes fail (EFBIG), as on a disk that fills up."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))


@pytest.mark.parametrize("command", [[str(SKYREC)], [sys.executable, "-m", "skyrec"]])
def test_a_write_that_fails_leaves_no_file(tmp_path, command):
    assert len(GOOD[0] + GOOD[1]) < 100 < len(INPUTS["a.bufr"])
    code, out, err, made = outcome(tmp_path / "run", command, "copy a.bufr -o out.bufr", python_env(), small_disk)
    assert (code, out, err, made) == (74, b"", b"skyrec: out.bufr: File too large\n", {})
