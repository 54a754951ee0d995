"""The package's modules import one way: no cycle, counting the imports made
on first use, and no module reaches for another's private names."""

from __future__ import annotations

import ast
from pathlib import Path

import skyrec

PACKAGE = Path(skyrec.__file__).parent


def module_names() -> dict[str, Path]:
    found = {}
    for path in PACKAGE.rglob("*.py"):
        parts = list(path.relative_to(PACKAGE).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        found[".".join(["skyrec", *parts])] = path
    return found


MODULES = module_names()


def imported(name: str, path: Path) -> tuple[set[str], list[str]]:
    """The package modules that `name` imports anywhere in its code, and its
    uses of other modules' private names."""
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    targets: set[str] = set()
    private: list[str] = []
    aliases: set[str] = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.ImportFrom) and node.level:
            base = package.rsplit(".", node.level - 1)[0] if node.level > 1 else package
            source = f"{base}.{node.module}" if node.module else base
            for alias in node.names:
                if f"{source}.{alias.name}" in MODULES:
                    targets.add(f"{source}.{alias.name}")
                    aliases.add(alias.asname or alias.name)
                else:
                    targets.add(source)
                    if alias.name.startswith("_"):
                        private.append(f"{alias.name} from {source}")
        elif isinstance(node, ast.Import):
            targets.update(a.name for a in node.names if a.name in MODULES)
        elif (isinstance(node, ast.Attribute) and isinstance(node.value, ast.Name) and node.value.id in aliases
              and node.attr.startswith("_") and not node.attr.startswith("__")):
            private.append(f"{node.value.id}.{node.attr}")
    return targets - {name}, private


def test_the_import_graph_has_no_cycle():
    graph = {name: imported(name, path)[0] for name, path in MODULES.items()}
    assert graph["skyrec.frames"] and graph["skyrec.blocks"]  # the graph is read at all
    done: set[str] = set()

    def visit(name: str, path: tuple[str, ...]) -> None:
        assert name not in path, " -> ".join(path[path.index(name):] + (name,))
        if name in done:
            return
        for target in graph.get(name, ()):
            # A module imports its package first: that edge is not a cycle.
            if not name.startswith(target + "."):
                visit(target, path + (name,))
        done.add(name)

    for name in graph:
        visit(name, ())


def test_no_module_uses_another_modules_private_names():
    assert {name: found for name, path in MODULES.items() if (found := imported(name, path)[1])} == {}


def test_dir_lists_the_public_names_lazy_ones_included():
    listed = dir(skyrec)
    assert set(skyrec.__all__) <= set(listed)
    assert not {"Any", "TYPE_CHECKING"} & set(listed)
