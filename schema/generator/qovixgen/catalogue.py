"""The model class catalogue: typed records read from schema/catalogue.txt
and checked, as the generator's emitters take it. The records are in
catalogue_records.py, their reading in catalogue_reader.py, their rules and
queries in catalogue_checks.py.
"""

from __future__ import annotations

from pathlib import Path

from .catalogue_checks import validate
from .catalogue_reader import read_catalogue
from .catalogue_records import Catalogue


def parse(text: str, path: str = "<catalogue>") -> Catalogue:
    catalogue = read_catalogue(text, path)
    validate(catalogue)
    return catalogue


def load(path: Path) -> Catalogue:
    return parse(path.read_text(encoding="utf-8"), str(path))
