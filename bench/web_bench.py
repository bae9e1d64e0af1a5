"""The web view's speed on a repository of 100,000 elements: an element's
page as JSON, the first page of a package of 11,100 classes, and the class
diagram of a package of 100 classes, each against floors this run measures
itself: the web server answering a small file, and the Python client
reading the same element directly.

The repository is imported from a generated XMI document: a package of
11,100 classes with 8 attributes each (99,900 elements), and a package of
100 classes with generalizations and attributes for the diagram, in qovixd's
repository file.

    PYTHONPATH=build/python QOVIXD=build/qovixd QOVIX_TOOL=build/qovix \\
        python3 bench/web_bench.py
"""

from __future__ import annotations

import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "web"))
from web_server import WebView  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "web"))
from qovix_web import elements  # noqa: E402


def document(path: str) -> int:
    """Writes the model; answers how many elements it holds."""
    count = 3
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<XMI xmi.version="1.2" '
                  'xmlns:UML="org.omg.xmi.namespace.UML"><XMI.content>'
                  '<UML:Model xmi.id="m" name="Large"><UML:Namespace.ownedElement>'
                  '<UML:DataType xmi.id="t" name="int"/>'
                  '<UML:Package xmi.id="big" name="Big"><UML:Namespace.ownedElement>\n')
        for c in range(11_100):
            out.write(f'<UML:Class xmi.id="c{c}" name="Class{c}"><UML:Classifier.feature>')
            for a in range(8):
                out.write(f'<UML:Attribute xmi.id="c{c}a{a}" name="attribute{a}" type="t"/>')
            out.write("</UML:Classifier.feature></UML:Class>\n")
            count += 9
        out.write('</UML:Namespace.ownedElement></UML:Package>'
                  '<UML:Package xmi.id="small" name="Drawn"><UML:Namespace.ownedElement>\n')
        count += 1
        for c in range(100):
            out.write(f'<UML:Class xmi.id="d{c}" name="Drawn{c}"><UML:Classifier.feature>'
                      f'<UML:Attribute xmi.id="d{c}a" name="value" type="t"/>'
                      f'</UML:Classifier.feature></UML:Class>\n')
            count += 2
            if c % 10:
                out.write(f'<UML:Generalization xmi.id="g{c}" child="d{c}" parent="d{c - c % 10}"/>\n')
                count += 1
        out.write("</UML:Namespace.ownedElement></UML:Package>"
                  "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>\n")
    return count


def timed(action, times: int) -> list[float]:
    spent = []
    for _ in range(times):
        started = time.perf_counter()
        action()
        spent.append(time.perf_counter() - started)
    return spent


def main() -> int:
    documents = tempfile.TemporaryDirectory()
    web = WebView("--documents", documents.name,
                  store=os.path.join(documents.name, "repository.sqlite3"))
    try:
        with tempfile.TemporaryDirectory() as folder, web.connect() as repo:
            path = os.path.join(folder, "large.xmi")
            made = document(path)
            started = time.perf_counter()
            repo.import_model(path)
            print(f"imported {made} elements in {time.perf_counter() - started:.1f} s")
            big = repo.Package.find(name="Big")[0].object_number
            drawn = repo.Package.find(name="Drawn")[0].object_number
            account = repo.Class.find(name="Class5000")[0]
            number = account.object_number

            def direct() -> None:
                elements.detail(repo.by_number(number))

            rows = [
                ("the floor: a small file over HTTP", timed(lambda: web.request("/static/style.css"), 200)),
                ("the floor: the element read by the client", timed(direct, 200)),
                ("an element's page (JSON)", timed(lambda: web.get(f"/api/elements/{number}"), 200)),
                ("a package of 11,100: its first page", timed(
                    lambda: web.get(f"/api/elements/{big}/contents?offset=0&limit=100"), 20)),
                ("a diagram of 100 classes (SVG)", timed(
                    lambda: web.request(f"/api/elements/{drawn}/diagram.svg"), 5)),
            ]
            floor = statistics.median(rows[0][1])
            print(f"{'':44} {'p50 ms':>8} {'p90 ms':>8} {'x HTTP floor':>13}")
            for name, spent in rows:
                spent.sort()
                p50, p90 = statistics.median(spent), spent[int(len(spent) * 0.9) - 1]
                print(f"{name:44} {p50 * 1000:8.1f} {p90 * 1000:8.1f} {p50 / floor:13.1f}")
    finally:
        web.stop()
        documents.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
