"""The web view's speed on a real model: every JSON page the view asks for,
its class diagram, and an element's page drawn in headless Chromium, each
with p50 and p95, against floors this run measures itself: the web server
answering a small file, and the Python client reading the same element
directly.

The repository is imported from a generated XMI document into qovixd's
repository file: packages Pkg0, Pkg1, ... of 100 classes, each class with
two attributes and an operation with a parameter, and a subtype of its
package's first (7 objects a class), and a package Big of 10,000 such
classes, whose contents come a page at a time.

    PYTHONPATH=build/python QOVIXD=build/qovixd QOVIX_TOOL=build/qovix \\
        python3 bench/web_bench.py

QOVIX_WEB_BENCH_ELEMENTS sets the size (100,000 by default; 1000000 for
a million), QOVIX_WEB_BENCH_STORE the store qovixd keeps it in (a
postgresql:// address, say; the repository file by default), and
QOVIX_WEB_BENCH_BROWSER=0 leaves Chromium out.
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

CLASSES = 100
BIG = 10_000
OBJECTS_A_CLASS = 7  # the class, two attributes, an operation, its parameter, a generalization


def package(out, name: str, classes: int) -> None:
    out.write(f'<UML:Package xmi.id="{name}" name="{name}"><UML:Namespace.ownedElement>\n')
    for c in range(classes):
        at = f"{name}c{c}"
        out.write(f'<UML:Class xmi.id="{at}" name="C{c}" isAbstract="{"true" if c == 0 else "false"}">'
                  f'<UML:Classifier.feature><UML:Attribute xmi.id="{at}a" name="size" '
                  f'visibility="private"/><UML:Attribute xmi.id="{at}b" name="label"/>'
                  f'<UML:Operation xmi.id="{at}o" name="resize"><UML:BehavioralFeature.parameter>'
                  f'<UML:Parameter xmi.id="{at}p" name="by" kind="in"/>'
                  f'</UML:BehavioralFeature.parameter></UML:Operation></UML:Classifier.feature>')
        if c:
            out.write(f'<UML:GeneralizableElement.generalization><UML:Generalization xmi.idref="{at}g"/>'
                      f'</UML:GeneralizableElement.generalization></UML:Class>'
                      f'<UML:Generalization xmi.id="{at}g"><UML:Generalization.child>'
                      f'<UML:Class xmi.idref="{at}"/></UML:Generalization.child>'
                      f'<UML:Generalization.parent><UML:Class xmi.idref="{name}c0"/>'
                      f'</UML:Generalization.parent></UML:Generalization>\n')
        else:
            out.write("</UML:Class>\n")
    out.write("</UML:Namespace.ownedElement></UML:Package>\n")


def document(path: str, elements_wanted: int) -> tuple[int, int]:
    """Writes the model; answers how many packages of 100 it holds, and
    about how many elements in all."""
    packages = max(1, (elements_wanted - BIG * OBJECTS_A_CLASS) // (CLASSES * OBJECTS_A_CLASS))
    with open(path, "w", encoding="utf-8") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<XMI xmi.version="1.2" '
                  'xmlns:UML="org.omg.xmi.namespace.UML"><XMI.header><XMI.metamodel '
                  'xmi.name="UML" xmi.version="1.4"/></XMI.header><XMI.content>\n')
        package(out, "Big", BIG)
        for p in range(packages):
            package(out, f"Pkg{p}", CLASSES)
        out.write("</XMI.content></XMI>\n")
    return packages, (packages * CLASSES + BIG) * OBJECTS_A_CLASS - packages - 1


def timed(action, times: int) -> list[float]:
    spent = []
    for _ in range(times):
        started = time.perf_counter()
        action()
        spent.append(time.perf_counter() - started)
    return spent


def drawn_in_chromium(url: str, paths: list[str]) -> list[float]:
    """Each page opened afresh, from navigation start to the end of the last
    request it made (the changes feed, which stays open, aside), once the
    page says it has drawn."""
    from selenium.webdriver.support.ui import WebDriverWait
    from headless_chromium import headless_chromium

    browser = headless_chromium()
    spent = []
    try:
        browser.get(url + "/")  # the static files cached, as a returning modeller has them
        for path in paths:
            browser.get(url + path)
            WebDriverWait(browser, 60).until(lambda b: b.execute_script(
                "return document.readyState === 'complete' && !document.documentElement.dataset.drawing"
                " && document.querySelector('h1') !== null"))
            spent.append(browser.execute_script(
                "const ends = performance.getEntriesByType('resource')"
                "  .filter((r) => !r.name.includes('/changes/stream')).map((r) => r.responseEnd);"
                "const page = performance.getEntriesByType('navigation')[0];"
                "return Math.max(page.responseEnd, ...ends) / 1000;"))
    finally:
        browser.quit()
    return spent


def main() -> int:
    wanted = int(os.environ.get("QOVIX_WEB_BENCH_ELEMENTS", "100000"))
    documents = tempfile.TemporaryDirectory()
    store = os.environ.get("QOVIX_WEB_BENCH_STORE") or os.path.join(documents.name, "repository.sqlite3")
    web = WebView("--documents", documents.name, store=store)
    try:
        with tempfile.TemporaryDirectory() as folder, web.connect() as repo:
            path = os.path.join(folder, "large.xmi")
            packages, made = document(path, wanted)
            started = time.perf_counter()
            repo.import_model(path)
            print(f"imported about {made:,} elements ({packages:,} packages of {CLASSES} classes and "
                  f"one of {BIG:,}) in {time.perf_counter() - started:.1f} s")
            big = repo.Package.find(name="Big")[0].object_number
            middle = repo.Package.find(name=f"Pkg{packages // 2}")[0]
            drawn = middle.object_number
            named = repo.Class.find(name="C50")
            number = named[len(named) // 2].object_number

            def direct() -> None:
                elements.detail(repo.by_number(number))

            rows = [
                ("the floor: a small file over HTTP", timed(lambda: web.request("/static/style.css"), 200)),
                ("the floor: the element read by the client", timed(direct, 200)),
                ("/api/repository", timed(lambda: web.get("/api/repository"), 200)),
                ("an element's page (JSON)", timed(lambda: web.get(f"/api/elements/{number}"), 200)),
                (f"a package of {BIG:,}: its first page", timed(
                    lambda: web.get(f"/api/elements/{big}/contents?offset=0&limit=100"), 100)),
                (f"a package of {BIG:,}: a page at 9,900", timed(
                    lambda: web.get(f"/api/elements/{big}/contents?offset=9900&limit=100"), 100)),
                ("an element's history", timed(lambda: web.get(f"/api/elements/{number}/history"), 100)),
                ("search 'C50' (within, ranked)", timed(lambda: web.get("/api/search?name=C50"), 100)),
                ("search 'pkg1' (by prefix)", timed(lambda: web.get("/api/search?name=pkg1"), 100)),
                ("the commits since the last", timed(lambda: web.get("/api/commits?since=1"), 100)),
                (f"a diagram of {CLASSES} classes (SVG)", timed(
                    lambda: web.request(f"/api/elements/{drawn}/diagram.svg"), 10)),
            ]
            if os.environ.get("QOVIX_WEB_BENCH_BROWSER", "1") != "0":
                rows.append(("an element's page drawn in Chromium", drawn_in_chromium(
                    web.url, [f"/element/{number}", f"/element/{drawn}"] * 10)))
            floor = statistics.median(rows[0][1])
            print(f"{'':44} {'p50 ms':>8} {'p95 ms':>8} {'max ms':>8} {'x HTTP floor':>13}")
            for name, spent in rows:
                spent.sort()
                p50, p95 = statistics.median(spent), spent[max(0, int(len(spent) * 0.95) - 1)]
                print(f"{name:44} {p50 * 1000:8.1f} {p95 * 1000:8.1f} {spent[-1] * 1000:8.1f} "
                      f"{p50 / floor:13.1f}")
    finally:
        web.stop()
        documents.cleanup()
    return 0


if __name__ == "__main__":
    sys.exit(main())
