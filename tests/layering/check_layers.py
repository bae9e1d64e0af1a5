"""Holds the tree to its layers: each folder of the product includes only
the folders its row below names (the layers under it, so the server never
includes the client), no two folders include each other, directly or round
a ring, and no two modules (a header with its source) do either. Prints
each fault it finds, and exits 1 when there is one.

    python3 tests/layering/check_layers.py SOURCE_ROOT
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

# The product's folders, each with the folders it may include: the layers
# under it. Tests and benchmarks may reach into any of them.
BELOW = {
    "utf": (),
    "wire": (),
    "cli": (),
    "xdr": ("utf", "wire"),
    "store": ("utf",),
    "model": ("store", "utf", "xdr"),
    "interchange": ("model", "store", "utf", "xdr"),
    "dispatch": ("utf", "xdr"),
    "procedures": ("dispatch", "model", "store", "utf", "xdr"),
    "values": ("dispatch", "model", "store", "utf", "xdr"),
    "admin": ("cli", "store", "utf"),
    "host": ("cli", "dispatch", "interchange", "model", "store", "utf", "wire", "xdr"),
    "client": ("cli", "utf", "wire", "xdr"),
}
FOLDERS = tuple(BELOW)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def modules(root: Path) -> dict[str, set[str]]:
    """Each module's path without its extension, and the modules it includes."""
    graph: dict[str, set[str]] = {}
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            module = path.relative_to(root).with_suffix("").as_posix()
            included = graph.setdefault(module, set())
            for name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                target = root / name
                if not target.exists():
                    target = path.parent / name  # beside it (an installed header's own)
                if target.exists() and target.relative_to(root).parts[0] in FOLDERS:
                    other = target.relative_to(root).with_suffix("").as_posix()
                    if other != module:
                        included.add(other)
    return graph


def rings(graph: dict[str, set[str]]) -> list[list[str]]:
    """The strongly connected parts of more than one node (Tarjan's)."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    on_stack: set[str] = set()
    found: list[list[str]] = []

    def visit(node: str) -> None:
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for other in sorted(graph.get(node, ())):
            if other not in index:
                visit(other)
                low[node] = min(low[node], low[other])
            elif other in on_stack:
                low[node] = min(low[node], index[other])
        if low[node] == index[node]:
            part = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                part.append(top)
                if top == node:
                    break
            if len(part) > 1:
                found.append(sorted(part))

    sys.setrecursionlimit(10000)
    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def folders_of(graph: dict[str, set[str]]) -> dict[str, set[str]]:
    """The folder graph: which folders each folder includes."""
    result: dict[str, set[str]] = {}
    for module, included in graph.items():
        mine = module.split("/")[0]
        result.setdefault(mine, set()).update(
            other.split("/")[0] for other in included if other.split("/")[0] != mine)
    return result


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        sys.exit(__doc__)
    graph = modules(Path(argv[1]))
    folders = folders_of(graph)
    wrong_way = False
    for folder, included in sorted(folders.items()):
        for other in sorted(included - set(BELOW[folder])):
            print(f"{folder} includes {other}, which is no layer under it")
            wrong_way = True
    faults = [("modules", ring) for ring in rings(graph)]
    faults += [("folders", ring) for ring in rings(folders)]
    for kind, ring in faults:
        print(f"{kind} that include one another: {' <-> '.join(ring)}")
    print(f"{len(graph)} modules, {len(folders)} folders: "
          f"{'no ring' if not faults else f'{len(faults)} rings'}"
          f"{', an include the wrong way' if wrong_way else ''}")
    return 1 if faults or wrong_way else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
