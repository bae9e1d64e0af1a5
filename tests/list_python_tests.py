"""Prints the id of every test case of a folder's test_*.py files, one a
line (module.Class.test_name), read from the source without importing it,
so that the build can give each case a test of its own before anything it
imports is built."""

from __future__ import annotations

import ast
import pathlib
import sys


def cases(folder: pathlib.Path) -> list[str]:
    classes: dict[str, tuple[str, list[str], list[str]]] = {}  # name: (module, bases, tests)
    for path in sorted(folder.glob("test_*.py")):
        tree = ast.parse(path.read_text(), str(path))
        for node in tree.body:
            if isinstance(node, ast.ClassDef):
                bases = [b.id if isinstance(b, ast.Name) else getattr(b, "attr", "")
                         for b in node.bases]
                tests = [f.name for f in node.body
                         if isinstance(f, (ast.FunctionDef, ast.AsyncFunctionDef))
                         and f.name.startswith("test")]
                classes[node.name] = (path.stem, bases, tests)

    def tests_of(name: str, seen: frozenset[str] = frozenset()) -> list[str]:
        module, bases, tests = classes[name]
        inherited = [t for b in bases if b in classes and b not in seen
                     for t in tests_of(b, seen | {name})]
        return list(dict.fromkeys(inherited + tests))

    return [f"{module}.{name}.{test}" for name, (module, _, _) in classes.items()
            for test in tests_of(name)]


if __name__ == "__main__":
    print("\n".join(cases(pathlib.Path(sys.argv[1]))))
