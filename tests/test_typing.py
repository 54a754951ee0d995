"""The type stubs of _skyrec and skyrec._native and the package's annotations:
mypy --strict accepts a typed use and catches misuse, and the stubs say what
the modules have (names, order of __all__, parameter names)."""

from __future__ import annotations

import ast
import inspect
import os
import re
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import _skyrec
import skyrec
from skyrec import _native

pytest.importorskip("mypy", reason="mypy is in the test extra: pip install .[test]")

ROOT = Path(__file__).resolve().parent.parent
TYPED = Path(__file__).resolve().parent / "typed"
INSTALLED = {Path(sysconfig.get_paths()[key]).resolve() for key in ("purelib", "platlib")}


def stub_path(module) -> Path:
    """The .pyi of the module under test, where it was installed or built: in
    its package's folder (skyrec._native lives in _skyrec's binary)."""
    package, _, name = module.__name__.rpartition(".")
    beside = Path(sys.modules[package].__file__ if package else module.__file__)
    path = beside.with_name(name + ".pyi")
    assert path.is_file(), f"no stub {path}"
    return path


def run_mypy(tmp_path: Path, *targets: str, tool: str = "mypy") -> subprocess.CompletedProcess:
    """mypy with the project's settings, finding the modules under test as
    Python imports them: installed ones by itself, a build tree through MYPYPATH."""
    env = dict(os.environ)
    env.pop("MYPYPATH", None)
    where = Path(_skyrec.__file__).resolve().parent
    if where not in INSTALLED:
        env["MYPYPATH"] = str(where)
    if tool == "mypy":
        options = ["--config-file", str(ROOT / "pyproject.toml"), "--cache-dir", str(tmp_path / "cache")]
    else:
        options = ["--mypy-config-file", str(ROOT / "pyproject.toml")]
    return subprocess.run([sys.executable, "-m", tool, *targets, *options], capture_output=True, text=True,
                          env=env, cwd=ROOT, timeout=600)


@pytest.fixture(scope="module")
def mypy_tmp(tmp_path_factory) -> Path:
    return tmp_path_factory.mktemp("mypy")


def test_the_package_and_its_stubs_pass_strict_mypy(mypy_tmp):
    result = run_mypy(mypy_tmp, "-p", "skyrec", "-m", "_skyrec")
    assert result.returncode == 0, result.stdout + result.stderr


def test_typed_use_passes_strict_mypy_and_runs(mypy_tmp, monkeypatch):
    result = run_mypy(mypy_tmp, str(TYPED / "usage.py"))
    assert result.returncode == 0, result.stdout + result.stderr
    monkeypatch.chdir(ROOT)
    namespace = {"__name__": "usage"}
    exec(compile((TYPED / "usage.py").read_text(), "usage.py", "exec"), namespace)
    namespace["main"]()


def test_misuse_is_caught_line_by_line(mypy_tmp):
    source = (TYPED / "misuse.py").read_text().splitlines()
    expected = {(n, m.group(1)) for n, line in enumerate(source, 1) if (m := re.search(r"# E: (\S+)$", line))}
    result = run_mypy(mypy_tmp, str(TYPED / "misuse.py"))
    reported = set(re.findall(r"misuse\.py:(\d+): error: .*\[([\w-]+)\]$", result.stdout, re.M))
    assert {(int(n), code) for n, code in reported} == expected, result.stdout


def test_stubtest_finds_the_stubs_true_to_the_modules(mypy_tmp):
    result = run_mypy(mypy_tmp, "_skyrec", "skyrec._native", tool="mypy.stubtest")
    assert result.returncode == 0, result.stdout + result.stderr


def stub_tree(module) -> ast.Module:
    return ast.parse(stub_path(module).read_text())


def stub_all(tree: ast.Module) -> list[str]:
    for node in tree.body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in node.targets):
            return list(ast.literal_eval(node.value))
    raise AssertionError("the stub has no __all__")


def stub_functions(tree: ast.Module) -> dict[str, list[str]]:
    """Parameter names of every function and method, by dotted name."""
    found = {}
    for node in tree.body:
        scopes = [(node.name + ".", child) for child in node.body] if isinstance(node, ast.ClassDef) else [("", node)]
        for prefix, item in scopes:
            if isinstance(item, ast.FunctionDef):
                args = item.args
                found[prefix + item.name] = [a.arg for a in args.posonlyargs + args.args + args.kwonlyargs]
    return found


def runtime_parameters(module, dotted: str) -> list[str] | None:
    """Parameter names from the runtime's text signature; None where there is none."""
    owner, _, name = dotted.rpartition(".")
    target = getattr(getattr(module, owner), name) if owner else getattr(module, name)
    if name == "__new__":
        target = getattr(module, owner)  # its signature is the class's own (tp_doc)
    if getattr(target, "__text_signature__", None) is None or not callable(target):
        return None
    parameters = list(inspect.signature(target).parameters)
    return ["cls", *parameters] if name == "__new__" else parameters


def test_stub_all_is_the_modules_all():
    assert stub_all(stub_tree(_skyrec)) == list(_skyrec.__all__)


@pytest.mark.parametrize("module", [_skyrec, _native], ids=["_skyrec", "skyrec._native"])
def test_stub_signatures_follow_the_text_signatures(module):
    functions = stub_functions(stub_tree(module))
    checked = 0
    for dotted, stub_parameters in functions.items():
        runtime = runtime_parameters(module, dotted)
        if runtime is None:
            continue
        assert [p for p in stub_parameters if p != "self"] == [p for p in runtime if p != "self"], dotted
        checked += 1
    public = [name for name in dir(module) if not name.startswith("_") and callable(getattr(module, name))
              and not isinstance(getattr(module, name), type)]
    assert set(public) <= set(functions) and checked >= len(public)


def test_the_package_is_marked_typed():
    assert (Path(skyrec.__file__).parent / "py.typed").is_file()
    assert stub_path(_native).is_file()
