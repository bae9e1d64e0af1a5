#!/usr/bin/env python3
"""Build-time generator: reads the model class catalogue and writes the
generated C++ sources into an output folder of the build tree.

    generate.py --catalogue schema/catalogue.txt --out BUILD/generated
                [--protocol protocol/protocol.txt]
    generate.py ... --only python_model.py     # one file only

A faulty catalogue or protocol record stops the build with a message naming the record at fault.
Files whose content did not change are left alone, so the build only
recompiles what the catalogue change touched.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from qovixgen.catalogue import load  # noqa: E402
from qovixgen.catalogue_records import CatalogueError  # noqa: E402
from qovixgen.emitters import EMITTERS, PROTOCOL_EMITTERS  # noqa: E402
from qovixgen.numbering import number_classes  # noqa: E402
from qovixgen.protocol import load as load_protocol  # noqa: E402

PROTOCOL = Path(__file__).resolve().parents[2] / "protocol" / "protocol.txt"


def write_if_changed(path: Path, text: str) -> None:
    if path.exists() and path.read_text(encoding="utf-8") == text:
        return
    path.write_text(text, encoding="utf-8")


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--catalogue", type=Path, required=True)
    parser.add_argument("--protocol", type=Path, default=PROTOCOL)
    parser.add_argument("--out", type=Path, required=True)
    parser.add_argument("--only", action="append", choices=sorted(EMITTERS | PROTOCOL_EMITTERS),
                        help="write only this file (may be repeated)")
    args = parser.parse_args(argv)
    wanted = set(args.only) if args.only else set(EMITTERS) | set(PROTOCOL_EMITTERS)
    try:
        catalogue = load(args.catalogue)
        protocol = load_protocol(args.protocol)
        numbered = number_classes(catalogue)
        # Every file first, so that a fault an emitter finds writes nothing.
        texts = {name: emit(catalogue, numbered) for name, emit in EMITTERS.items()
                 if name in wanted}
        texts |= {name: emit(protocol, catalogue, numbered)
                  for name, emit in PROTOCOL_EMITTERS.items() if name in wanted}
    except CatalogueError as error:
        print(f"error: {error}", file=sys.stderr)
        return 1
    args.out.mkdir(parents=True, exist_ok=True)
    for name, text in texts.items():
        write_if_changed(args.out / name, text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
