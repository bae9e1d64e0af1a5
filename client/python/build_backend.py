"""Builds the qovix package (PEP 517) with the standard library alone, so
that `pip install client/python` needs nothing from the network.

The model classes (`qovix/_model.py`) and the protocol's constants
(`qovix/_protocol.py`) are generated from the catalogue and the protocol
records by the same generator as the C++ sources, at build time; a source
archive carries them already made.
"""

from __future__ import annotations

import base64
import hashlib
import io
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
NAME, VERSION = "qovix", "1.0.0"
TAG = "py3-none-any"
GENERATOR = HERE.parent.parent / "schema" / "generator" / "generate.py"
CATALOGUE = HERE.parent.parent / "schema" / "catalogue.txt"


# The generated modules of the package, by the generator's name for them.
GENERATED = {"_model.py": "python_model.py", "_protocol.py": "python_protocol.py",
             "_records.py": "python_records.py"}


def _generated_sources() -> dict[str, str]:
    if GENERATOR.exists():
        with tempfile.TemporaryDirectory() as out:
            only = [arg for name in GENERATED.values() for arg in ("--only", name)]
            subprocess.run([sys.executable, str(GENERATOR), "--catalogue", str(CATALOGUE),
                            "--out", out, *only], check=True)
            return {module: (Path(out) / name).read_text(encoding="utf-8")
                    for module, name in GENERATED.items()}
    made = {module: HERE / NAME / module for module in GENERATED}  # from a source archive
    if not all(path.exists() for path in made.values()):
        raise RuntimeError("neither the generator nor the generated modules "
                           f"({', '.join(GENERATED)}) are here")
    return {module: path.read_text(encoding="utf-8") for module, path in made.items()}


def _package_files() -> dict[str, bytes]:
    files = {f"{NAME}/{p.name}": p.read_bytes() for p in sorted((HERE / NAME).iterdir())
             if p.suffix in (".py", ".typed") and p.name not in GENERATED}
    files.update({f"{NAME}/{module}": text.encode("utf-8")
                  for module, text in _generated_sources().items()})
    return files


def _metadata() -> str:
    readme = (HERE / "README.md").read_text(encoding="utf-8")
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {VERSION}\n"
            "Summary: Python client for qovixd, a UML model repository served over ONC RPC\n"
            "Requires-Python: >=3.9\nDescription-Content-Type: text/markdown\n\n" + readme)


def _record_line(path: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def _write_wheel(directory: str, files: dict[str, bytes]) -> str:
    info = f"{NAME}-{VERSION}.dist-info"
    files = dict(files)
    files[f"{info}/METADATA"] = _metadata().encode("utf-8")
    files[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: qovix build_backend\n"
                              f"Root-Is-Purelib: true\nTag: {TAG}\n").encode()
    record = [_record_line(path, data) for path, data in files.items()] + [f"{info}/RECORD,,"]
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
    name = f"{NAME}-{VERSION}-{TAG}.whl"
    with zipfile.ZipFile(Path(directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files.items():
            wheel.writestr(path, data)
    return name


def get_requires_for_build_wheel(config_settings=None) -> list[str]:
    return []


def get_requires_for_build_sdist(config_settings=None) -> list[str]:
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None) -> str:
    return _write_wheel(wheel_directory, _package_files())


def build_sdist(sdist_directory, config_settings=None) -> str:
    root = f"{NAME}-{VERSION}"
    files = {f"{root}/{p}": (HERE / p).read_bytes()
             for p in ("pyproject.toml", "build_backend.py", "README.md")}
    files.update({f"{root}/{path}": data for path, data in _package_files().items()})
    files[f"{root}/PKG-INFO"] = _metadata().encode("utf-8")
    name = f"{root}.tar.gz"
    with tarfile.open(Path(sdist_directory) / name, "w:gz") as archive:
        for path, data in files.items():
            entry = tarfile.TarInfo(path)
            entry.size = len(data)
            archive.addfile(entry, io.BytesIO(data))
    return name
