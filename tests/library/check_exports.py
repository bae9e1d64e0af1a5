#!/usr/bin/env python3
"""Checks that a built libQOVIX_os.so exports exactly its documented symbols:
the entry point, the six data-value comparison operators, the two handle-index
accessors and the eight name strings. Everything else must stay hidden."""

import subprocess
import sys

EXPECTED = {
    "QOVIX_server_1",
    "VornDataType::operator==(VornDataType const&) const",
    "VornDataType::operator!=(VornDataType const&) const",
    "VornDataType::operator<(VornDataType const&) const",
    "VornDataType::operator<=(VornDataType const&) const",
    "VornDataType::operator>(VornDataType const&) const",
    "VornDataType::operator>=(VornDataType const&) const",
    "VORN::get_handleIndex() const",
    "VORN::set_handleIndex(int)",
    "QOVIX_nameOf_VornDataType_operatorEqual",
    "QOVIX_nameOf_VornDataType_operatorNotEqual",
    "QOVIX_nameOf_VornDataType_operatorLess",
    "QOVIX_nameOf_VornDataType_operatorLessEqual",
    "QOVIX_nameOf_VornDataType_operatorGreater",
    "QOVIX_nameOf_VornDataType_operatorGreaterEqual",
    "QOVIX_nameOf_VORN_get_handleIndex",
    "QOVIX_nameOf_VORN_set_handleIndex",
}


def exported(library: str) -> set[str]:
    output = subprocess.run(["nm", "-D", "-C", "--defined-only", library],
                            check=True, capture_output=True, text=True).stdout
    symbols = set()
    for line in output.splitlines():
        parts = line.split(maxsplit=2)
        if len(parts) == 3:
            symbols.add(parts[2].split("@")[0])
    return symbols


def main() -> int:
    found = exported(sys.argv[1])
    missing = EXPECTED - found
    extra = found - EXPECTED
    for name in sorted(missing):
        print(f"not exported: {name}")
    for name in sorted(extra):
        print(f"exported but should be hidden: {name}")
    if missing or extra:
        return 1
    print(f"{len(found)} symbols exported, as documented")
    return 0


if __name__ == "__main__":
    sys.exit(main())
