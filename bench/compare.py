"""skyrec against its peers, measured side by side in one run.

    PYTHONPATH=build/rel:python python3 bench/compare.py [--corpus DIR] [--runs N] [--slow-runs N]

Each decoder runs in a process of its own (bench/worker.py) over the same
files of messages: the real corpus (the edition 4 messages that every decoder
accepts), the corpus without its largest file, the corpus's messages of
editions 2 and 3 that every decoder accepts, a large compressed satellite
message and a large uncompressed multi-subset message (both made with
tests/bufrgen.py), and table loading. The decoders are
  skyrec      decode_values_with_tables, tables loaded once per version outside the timing
              (editions 2 and 3: skyrec._native.decode_subsets, as the package decodes)
  objects     bare objects of DecodedValue's size in lists of skyrec's result sizes:
              the limit for any decoder that makes one Python object per value
  eccodes     codes_new_from_message, unpack, numericValues and stringValues
  pybufrkit   Decoder().process
  core        the C++ decode into records (bench/decode_core.cpp), no Python
The workload "compressed values only" (the corpus's compressed messages, and
its largest file, the HIRS one, alone) compares the numbers alone:
  wide        skyrec._native.keep_columns(...).wide(): one 2-D float64 array per message
  block       skyrec._native.decode_block: read_block's long columns, one row per value
  columns     read_messages(output="columns") per message: its Columns and their value array
  columns-all the same, every array of the Columns made (one item per value)
  numeric     the eccodes package's numericValues alone (unpack, get_array)
  fill        a fresh float64 array of each message's size, filled: the memory limit
Each prints the median of its runs, values per second (skyrec's value count
over the decoder's time), what it produced, its peak memory, and skyrec's
speed as a multiple of its own.
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import sysconfig
import tempfile
from collections import Counter
from pathlib import Path

from worker import edition_aware

import _skyrec
import workloads

HERE = Path(__file__).resolve().parent
DEFAULT_CORPUS = HERE.parent.parent / "shared" / "corpus" / "real"
CANDIDATES = [os.environ.get("ECCODES_DEFINITION_PATH", ""), "/usr/share/eccodes/definitions",
              "/usr/local/share/eccodes/definitions"]
BUILD = Path(_skyrec.__file__).resolve().parent
PEERS_VENV = BUILD / "bench-peers"


def say(text):
    print(text, file=sys.stderr, flush=True)


def last_json(stdout: str):
    lines = [line for line in stdout.splitlines() if line.startswith("{")]
    return json.loads(lines[-1]) if lines else None


class Runner:
    def __init__(self, args, workdir: Path, peer_python: str | None):
        self.args = args
        self.workdir = workdir
        self.peer_python = peer_python
        env = dict(os.environ)
        # The workers import the same _skyrec as this process, whatever else is installed.
        env["PYTHONPATH"] = os.pathsep.join([str(BUILD), str(workdir), str(HERE), env.get("PYTHONPATH", "")])
        self.env = env

    def worker(self, decoder, mode, workload, runs=None, sizes=None):
        python = self.peer_python if decoder == "pybufrkit" else sys.executable
        if python is None:
            return None
        cmd = [python, str(HERE / "worker.py"), decoder, mode, str(workload)]
        if runs is not None:
            cmd.append(str(runs))
        cmd += ["--definitions", self.args.definitions]
        if sizes is not None:
            cmd += ["--sizes", str(sizes)]
        done = subprocess.run(cmd, capture_output=True, text=True, env=self.env)
        result = last_json(done.stdout)
        if done.returncode != 0 or result is None:
            say(f"{decoder} {mode} {workload.name} failed:\n{done.stderr[-2000:]}")
            return None
        return result

    def core(self, workload, runs):
        binary = BUILD / "decode_core"
        if not binary.exists():
            return None
        done = subprocess.run([str(binary), self.args.definitions, str(runs), str(workload)], capture_output=True,
                              text=True)
        return last_json(done.stdout) if done.returncode == 0 else None


def build_blank_values(workdir: Path):
    """The object-limit extension, compiled with the system compiler for this interpreter."""
    compiler = shutil.which(os.environ.get("CC", "cc")) or shutil.which("gcc")
    if compiler is None:
        say("no C compiler: the object-limit row is left out")
        return False
    target = workdir / ("blank_values" + sysconfig.get_config_var("EXT_SUFFIX"))
    cmd = [compiler, "-O2", "-shared", "-fPIC", "-I" + sysconfig.get_paths()["include"],
           str(HERE / "native" / "blank_values.c"), "-o", str(target)]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        say(f"building the object-limit extension failed:\n{done.stderr}")
        return False
    return True


def pybufrkit_python(sample: bytes, workdir: Path) -> str | None:
    """An interpreter whose pybufrkit decodes: this one, or a virtual
    environment beside the build with the older bitstring that pybufrkit
    0.2.25 needs (bitstring 4.2 dropped what it uses)."""
    probe = workdir / "probe.bufr"
    probe.write_bytes(sample)
    check = [str(HERE / "worker.py"), "pybufrkit", "check", str(probe)]
    env = dict(os.environ, PYTHONPATH=str(HERE))
    for python in (sys.executable, str(PEERS_VENV / "bin" / "python")):
        if Path(python).exists():
            done = subprocess.run([python, *check], capture_output=True, text=True, env=env)
            result = last_json(done.stdout)
            if result and result["accepted"]:
                return python
    say(f"pybufrkit does not decode with this interpreter; making {PEERS_VENV} with bitstring<4.2")
    made = subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(PEERS_VENV)])
    if made.returncode == 0:
        subprocess.run([str(PEERS_VENV / "bin" / "pip"), "install", "-q", "bitstring<4.2"])
        done = subprocess.run([str(PEERS_VENV / "bin" / "python"), *check], capture_output=True, text=True, env=env)
        result = last_json(done.stdout)
        if result and result["accepted"]:
            return str(PEERS_VENV / "bin" / "python")
    say("pybufrkit cannot decode here: its rows are left out")
    return None


def write_workload(path: Path, messages: list[bytes]) -> Path:
    path.write_bytes(b"".join(messages))
    return path


def corpus_workloads(runner: Runner, corpus: Path, workdir: Path, decoders, editions=(4,), same_counts=False):
    """The corpus messages of these editions that every decoder accepts and,
    with same_counts, decodes into as many values."""
    candidates = workloads.corpus_candidates(corpus, editions)
    everything = write_workload(workdir / f"candidates{''.join(map(str, editions))}.bufr", [m for _, m in candidates])
    accepted = set(range(len(candidates)))
    counts = {}
    for decoder in decoders:
        result = runner.worker(decoder, "check", everything)
        if result is not None:
            say(f"{decoder} accepts {len(result['accepted'])} of {len(candidates)} corpus messages")
            accepted &= set(result["accepted"])
            for i, count in zip(result["accepted"], result["counts"]):
                counts.setdefault(i, set()).add(count)
    if same_counts:
        accepted = {i for i in accepted if len(counts[i]) == 1}
    chosen = [candidates[i] for i in sorted(accepted)]
    size_by_file = Counter()
    for name, m in chosen:
        size_by_file[name] += len(m)
    largest = size_by_file.most_common(1)[0][0]
    return chosen, largest


def median(times):
    return statistics.median(times)


def mb(kb):
    return f"{kb / 1024:8.0f}"


def report(name, description, results, values):
    """One workload's table; `values` is skyrec's value count for it."""
    print(f"\n{name}: {description}")
    print(f"  {'decoder':<10} {'median s':>9} {'M values/s':>11} {'values made':>12} {'peak MB':>8}  skyrec")
    ours = results.get("skyrec")
    ours_t = median(ours["times"]) if ours else None
    for decoder in ("skyrec", "objects", "eccodes", "pybufrkit", "core"):
        r = results.get(decoder)
        if r is None:
            continue
        t = median(r["times"])
        if decoder == "skyrec":
            ratio = ""
        elif decoder == "objects":
            ratio = f"skyrec at {100 * t / ours_t:.0f} % of this limit" if ours_t else ""
        else:
            ratio = f"{t / ours_t:.2f}x its speed" if ours_t else ""
        made = r.get("values", 0)
        peak = mb(r["peak_kb"]) if "peak_kb" in r else " " * 8
        print(f"  {decoder:<10} {t:9.4f} {values / t / 1e6:11.2f} {made:12d} {peak}  {ratio}")


def check_same_messages(name, results):
    digests = {r["digest"] for d, r in results.items() if "digest" in r}
    counts = {r["messages"] for r in results.values()}
    if len(digests) > 1 or len(counts) > 1:
        sys.exit(f"{name}: the decoders were not given the same messages: {results}")


def merge(results: dict, decoder: str, r):
    """Adds one worker's runs to the decoder's: medians are taken over all of them."""
    if r is None:
        return
    if decoder not in results:
        results[decoder] = r
        return
    results[decoder]["times"] += r["times"]
    results[decoder]["peak_kb"] = max(results[decoder]["peak_kb"], r["peak_kb"])


def run_workload(runner: Runner, name, description, path: Path, decoders, runs, slow_runs):
    results = {}
    sizes = runner.workdir / (path.stem + ".sizes.json")
    sizes.write_text(json.dumps(skyrec_sizes(path, runner.args.definitions)))
    # skyrec, the object limit and the core take turns, a few rounds each, so
    # that a change in the machine's load falls on all three alike.
    for _ in range(runner.args.rounds):
        merge(results, "skyrec", runner.worker("skyrec", "time", path, runs))
        if runner.args.objects:
            merge(results, "objects", runner.worker("objects", "time", path, runs, sizes=sizes))
        merge(results, "core", runner.core(path, runs))
    for decoder in decoders:
        if decoder != "skyrec":
            merge(results, decoder, runner.worker(decoder, "time", path, slow_runs if decoder == "pybufrkit" else runs))
    if "skyrec" not in results:
        sys.exit(f"{name}: skyrec failed")
    check_same_messages(name, {d: r for d, r in results.items() if d != "core"})
    values = results["skyrec"]["values"]
    core = results.get("core")
    if core is not None and (core["messages"], core["values"]) != (results["skyrec"]["messages"], values):
        say(f"{name}: the core decoded {core['messages']} messages into {core['values']} values")
    report(name, f"{results['skyrec']['messages']} messages, {values} values ({description})", results, values)
    return results


def compressed_values_only(runner: Runner, corpus: Path, runs: int):
    """skyrec's numbers of compressed messages against eccodes' numericValues,
    on every compressed corpus message that both accept, and on the largest
    such file alone."""
    candidates = [(n, m) for n, m in workloads.corpus_candidates(corpus, (2, 3, 4)) if workloads.compressed(m)]
    everything = write_workload(runner.workdir / "compressed-candidates.bufr", [m for _, m in candidates])
    accepted = set(range(len(candidates)))
    for decoder in ("wide", "numeric"):
        result = runner.worker(decoder, "check", everything)
        accepted &= set(result["accepted"]) if result else set()
    chosen = [candidates[i] for i in sorted(accepted)]
    size_by_file = Counter()
    for name, m in chosen:
        size_by_file[name] += len(m)
    largest = size_by_file.most_common(1)[0][0]
    for name, messages in (("all", [m for _, m in chosen]), (largest, [m for n, m in chosen if n == largest])):
        path = write_workload(runner.workdir / "compressed-values.bufr", messages)
        results = {}
        for _ in range(runner.args.rounds):
            for decoder in ("wide", "block", "block-values", "columns", "columns-all", "numeric", "fill"):
                merge(results, decoder, runner.worker(decoder, "time", path, runs))
        values = results["wide"]["values"]
        wide_t = median(results["wide"]["times"])
        print(f"\ncompressed values only ({name}): {len(messages)} messages, {values} values")
        print(f"  {'decoder':<12} {'median s':>9} {'M values/s':>11} {'values made':>12} {'peak MB':>8}  wide")
        for decoder, r in results.items():
            t = median(r["times"])
            ratio = "" if decoder == "wide" else f"{t / wide_t:.2f}x its speed"
            print(f"  {decoder:<12} {t:9.4f} {values / t / 1e6:11.2f} {r['values']:12d} {mb(r['peak_kb'])}  {ratio}")


def skyrec_sizes(path: Path, definitions: str):
    wmo = Path(definitions) / "bufr" / "tables" / "0" / "wmo"
    tables = {}
    sizes = []
    decode = edition_aware(_skyrec.decode_values_with_tables)
    for m in workloads.message_bytes(path.read_bytes()):
        v = workloads.master_version(m)
        if v not in tables:
            tables[v] = _skyrec.TableSet.from_eccodes(str(wmo / str(v)))
        sizes.append(len(decode(m, tables[v])))
    return sizes


def table_loading(runner: Runner, chosen, decoders, runs):
    """One message per table version of the corpus; the first warms the peers up."""
    first = {}
    for _, m in chosen:
        first.setdefault(m[8 + 13], m)
    messages = list(first.values())
    path = write_workload(runner.workdir / "tables.bufr", messages)
    print(f"\ntable loading: {len(messages) - 1} table versions "
          f"({', '.join(str(v) for v in list(first)[1:])}), each in a fresh process; "
          "skyrec: TableSet.from_eccodes; peers: a message's first decode less its second")
    print(f"  {'decoder':<10} {'median ms/version':>18} {'total ms':>9}  skyrec")
    totals = {}
    for decoder in decoders:
        per_run = []
        for _ in range(runs):
            r = runner.worker(decoder, "tables", path)
            if r is None:
                break
            per_run.append(r["times"])
        if per_run:
            totals[decoder] = (median([sum(t) for t in per_run]), median([x for t in per_run for x in t]))
    ours = totals.get("skyrec", (None,))[0]
    for decoder, (total, each) in totals.items():
        ratio = "" if decoder == "skyrec" or not ours else f"{total / ours:.2f}x its speed"
        print(f"  {decoder:<10} {each * 1e3:18.2f} {total * 1e3:9.1f}  {ratio}")


def machine():
    cpu = "unknown processor"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return (f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, "
            f"Python {platform.python_version()}")


def versions():
    out = [f"skyrec from {BUILD}"]
    for name in ("eccodes", "pybufrkit"):
        try:
            from importlib.metadata import version
            out.append(f"{name} {version(name)}")
        except Exception:
            out.append(f"{name} absent")
    return ", ".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--corpus", default=str(DEFAULT_CORPUS))
    parser.add_argument("--definitions")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--slow-runs", type=int, default=3, help="runs of pybufrkit, the slowest")
    parser.add_argument("--rounds", type=int, default=3, help="turns that skyrec, the limit and the core take")
    parser.add_argument("--decoders", default="skyrec,eccodes,pybufrkit")
    parser.add_argument("--no-objects", dest="objects", action="store_false")
    parser.add_argument("--satellite-subsets", type=int, default=5000)
    parser.add_argument("--station-subsets", type=int, default=42000)
    parser.add_argument("--compressed-only", action="store_true", help="the workload compressed values only, alone")
    args = parser.parse_args()
    roots = [args.definitions] if args.definitions else [p for c in CANDIDATES for p in c.split(":") if p]
    args.definitions = next((r for r in roots if (Path(r) / "bufr" / "tables" / "0" / "wmo").is_dir()), None)
    if args.definitions is None:
        sys.exit("no ecCodes definitions tree found; pass --definitions")
    # The core runs whenever bench/decode_core is built beside the extension
    # (cmake --build build/rel --target decode_core); it has no worker.
    decoders = [d for d in args.decoders.split(",") if d != "core"]

    print(f"machine: {machine()}")
    print(f"decoders: {versions()}")
    with tempfile.TemporaryDirectory(prefix="skyrec-bench-") as tmp:
        workdir = Path(tmp)
        if args.objects:
            args.objects = build_blank_values(workdir)
        tables = _skyrec.TableSet.from_eccodes(str(Path(args.definitions) / "bufr" / "tables" / "0" / "wmo" /
                                                   str(workloads.MASTER_VERSION)))
        satellite = workloads.compressed_message(tables, args.satellite_subsets)
        station = workloads.uncompressed_message(tables, args.station_subsets)
        peer_python = pybufrkit_python(satellite, workdir) if "pybufrkit" in decoders else None
        runner = Runner(args, workdir, peer_python)

        corpus = Path(args.corpus)
        chosen = []
        if (corpus / "MANIFEST.tsv").is_file():
            compressed_values_only(runner, corpus, args.runs)
            if args.compressed_only:
                return
            chosen, largest = corpus_workloads(runner, corpus, workdir, decoders)
            path = write_workload(workdir / "corpus.bufr", [m for _, m in chosen])
            run_workload(runner, "corpus", "every edition 4 message that all decoders accept", path, decoders,
                         args.runs, args.slow_runs)
            path = write_workload(workdir / "corpus-small.bufr", [m for n, m in chosen if n != largest])
            run_workload(runner, "corpus without its largest file", f"{largest} left out", path, decoders,
                         args.runs, args.slow_runs)
            older, _ = corpus_workloads(runner, corpus, workdir, decoders, editions=(2, 3), same_counts=True)
            path = write_workload(workdir / "corpus-ed3.bufr", [m for _, m in older])
            run_workload(runner, "corpus of editions 2 and 3", "every such message that all decoders accept and "
                         "decode into as many values; skyrec through the package's framing", path, decoders,
                         args.runs, args.slow_runs)
        else:
            print(f"\ncorpus: skipped, no corpus at {corpus} (it is not part of a clone)")
        path = write_workload(workdir / "satellite.bufr", [satellite])
        run_workload(runner, "compressed satellite message", f"{args.satellite_subsets} subsets, made by bufrgen",
                     path, decoders, args.runs, args.slow_runs)
        path = write_workload(workdir / "stations.bufr", [station])
        run_workload(runner, "uncompressed multi-subset message", f"{args.station_subsets} subsets, made by bufrgen",
                     path, decoders, args.runs, args.slow_runs)
        if chosen:
            table_loading(runner, chosen, decoders, args.slow_runs)


if __name__ == "__main__":
    main()
