"""Seeds for the archive fuzz target: project archives in the shapes the
UML tools write (.zargo, .zuml, .xml.zip, .mdzip), each holding one of the
XMI samples beside a diagram and the tool's own data, deflated and stored.

    make_archive_seeds.py SAMPLES_FOLDER SEEDS_FOLDER
"""

import pathlib
import sys
import zipfile


def main(samples: pathlib.Path, seeds: pathlib.Path) -> None:
    seeds.mkdir(parents=True, exist_ok=True)
    diagram = b'<?xml version="1.0"?>\n<pgml name="Class Diagram"/>'
    for number, sample in enumerate(sorted(samples.glob("*.xmi"))):
        model = sample.read_bytes()
        shapes = {
            "zargo": [("model.argo", b"<argo/>"), ("model_Diagram.pgml", diagram),
                      ("model.xmi", model)],
            "zuml": [("model.proj", b"<project/>"), ("model.xmi", model)],
            "xml.zip": [("model.xml", model)],
            "mdzip": [("com.nomagic.magicdraw.uml_model.model", model)],
        }
        for kind, entries in shapes.items():
            for method in (zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED):
                target = seeds / f"{number}-{method}.{kind}"
                with zipfile.ZipFile(target, "w", compression=method) as archive:
                    for name, data in entries:
                        archive.writestr(name, data)


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
