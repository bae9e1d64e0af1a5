#!/usr/bin/env python3
"""Runs the README's walkthrough as a user would, so it cannot rot.

The walkthrough lies between `<!-- walkthrough -->` and
`<!-- end of walkthrough -->`. In it, a ```console block holds commands
(`$ ...`), each followed by exactly what it prints (standard output and
error); a ```python block under `<!-- file: NAME -->` is saved as NAME
first. The commands run in order in one bash session, in a fresh folder
where `build` is the build tree, against a fresh qovixd whose port is in
$QOVIX_PORT (which qovix and the Python client take as their default).
The guide to `qovix` must show its `--help` as it is.

    walkthrough_test.py README.md BUILD_DIR
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

SENTINEL = "__walkthrough_status__"


def steps(readme: str) -> list[tuple[str, str, str]]:
    """("file", name, text) and ("command", command, expected output)."""
    start = readme.index("<!-- walkthrough -->")
    end = readme.index("<!-- end of walkthrough -->")
    text = readme[start:end]
    found = []
    for match in re.finditer(r"(?:<!-- file: (?P<file>\S+) -->\s*)?```(?P<kind>console|python)\n"
                             r"(?P<body>.*?)```", text, re.S):
        body = match.group("body")
        if match.group("kind") == "python":
            if match.group("file"):
                found.append(("file", match.group("file"), body))
            continue
        command, output = None, []
        for line in body.splitlines():
            if line.startswith("$ "):
                if command is not None:
                    found.append(("command", command, "\n".join(output)))
                command, output = line[2:], []
            else:
                output.append(line)
        if command is not None:
            found.append(("command", command, "\n".join(output)))
    return found


def main(argv: list[str]) -> int:
    readme, build = Path(argv[0]).read_text(encoding="utf-8"), Path(argv[1]).resolve()
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        (work / "build").symlink_to(build)
        server = subprocess.Popen([str(build / "qovixd"), "--bind", "127.0.0.1", "--port", "0",
                                   "--store", str(work / "repository.sqlite3")],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = re.search(r":(\d+) ", server.stdout.readline()).group(1)
        # Only what a reader has: the port of this test's qovixd stands in
        # for the default one.
        environment = {name: value for name, value in os.environ.items()
                       if not name.startswith(("PYTHON", "QOVIX_", "VIRTUAL_ENV"))}
        environment["QOVIX_PORT"] = port
        shell = subprocess.Popen(["bash", "--norc", "--noprofile"], cwd=work, env=environment,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
        failures = 0
        try:
            for kind, what, text in steps(readme):
                if kind == "file":
                    (work / what).write_text(text, encoding="utf-8")
                    continue
                shell.stdin.write(f"{what}\necho {SENTINEL} $?\n")
                shell.stdin.flush()
                lines = []
                while not (line := shell.stdout.readline()).startswith(SENTINEL):
                    if not line:
                        raise RuntimeError(f"the shell ended at: {what}")
                    lines.append(line.rstrip("\n"))
                printed = "\n".join(lines)
                if printed != text:
                    failures += 1
                    print(f"--- $ {what}\n--- the README says:\n{text}\n--- it printed:\n{printed}\n")
        finally:
            shell.stdin.close()
            shell.wait()
            server.terminate()
            server.wait()
    # The tool's guide shows its --help whole.
    shown = re.search(r"## The `qovix` tool\n\n```\n(.*?)```", readme, re.S)
    help_text = subprocess.run([str(build / "qovix"), "--help"], capture_output=True,
                               text=True).stdout
    if shown is None or shown.group(1) != help_text:
        failures += 1
        print("--- the README's qovix guide does not show what qovix --help prints")
    count = sum(1 for kind, _, _ in steps(readme) if kind == "command")
    print(f"{count} commands, {failures} printed something else than the README says")
    return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
