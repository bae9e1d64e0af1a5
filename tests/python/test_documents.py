"""Documents travel with the client: a model file or its bytes imported
through qovixd's document folder, with the server's reason for a refusal
and nothing left behind; a package exported back to a file here."""

from __future__ import annotations

import io
import os
import tempfile
import unittest
import zipfile

import qovix
from live_server import Server

SAMPLES = os.path.join(os.path.dirname(__file__), "..", "platform", "xmi")


class DocumentsTravel(unittest.TestCase):
    def setUp(self) -> None:
        self.folder = tempfile.TemporaryDirectory()
        self.documents = os.path.join(self.folder.name, "documents")
        os.mkdir(self.documents)
        self.server = Server("--documents", self.documents)
        self.repo = self.server.connect()

    def tearDown(self) -> None:
        self.repo.close()
        self.server.stop()
        self.folder.cleanup()

    def test_a_file_or_bytes_are_imported_and_a_package_exported(self) -> None:
        package, report = self.repo.import_model(
            os.path.join(SAMPLES, "uml13_xmi11_rose_style.xmi"))
        self.assertEqual(package.name, "Orders")
        self.assertIn("XMI 1.1, UML 1.3", report)

        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as zipped:
            zipped.write(os.path.join(SAMPLES, "uml14_xmi12_magicdraw_style.xmi"), "shop.xmi")
            zipped.writestr("shop.argo", "<argo/>")
        shop, report = self.repo.import_model(archive.getvalue(), into=package, title="shop.zargo")
        self.assertEqual(shop.name, "Shop")
        self.assertIn("read from the archive's entry 'shop.xmi'", report)
        self.assertEqual([e.name for e in package.ownedElement if e.name == "Shop"], ["Shop"])

        out = os.path.join(self.folder.name, "orders.xmi")
        package.export(out, format="xmi 1.0")
        with open(out, "rb") as written:
            self.assertIn(b'xmi.version="1.0"', written.read(400))
        self.assertTrue(shop.export(None).startswith(b"<?xml"))
        self.assertEqual(os.listdir(self.documents), [])

    def test_an_imports_commit_names_each_object_made_and_undoes_whole(self) -> None:
        package, _ = self.repo.import_model(os.path.join(SAMPLES, "uml13_xmi11_rose_style.xmi"))
        commit = self.repo.commit(self.repo.last_commit())
        made = {number for number, _, how in commit.objects if how == "created"}
        self.assertIn(package.object_number, made)
        self.assertEqual([c.object for c in commit.changes if c.kind == "created"], sorted(made))
        self.assertEqual([c for c in commit.changes if c.kind != "created"], [])
        self.repo.undo(commit.seq)
        self.assertEqual(self.repo.Package.find(), [])

    def test_a_commit_larger_than_its_page_says_what_it_leaves_out(self) -> None:
        classes = "".join(f'<UML:Class xmi.id="c{i}" name="C{i}"/>' for i in range(10_010))
        self.repo.import_model(
            ('<XMI xmi.version="1.2" xmlns:UML="org.omg.xmi.namespace.UML"><XMI.content>'
             f'<UML:Model xmi.id="m" name="M"><UML:Namespace.ownedElement>{classes}'
             '</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>').encode(),
            title="many.xmi")
        commit = self.repo.commit(self.repo.last_commit())
        self.assertEqual(len(commit.changes), 10_000)
        self.assertEqual(len(commit.objects), 10_000)  # listed; the rest counted
        self.assertEqual(len(commit.changes) + commit.changes_left,
                         len(commit.objects) + commit.objects_left)
        self.repo.Package.create()
        self.assertEqual(self.repo.commit(self.repo.last_commit()).changes_left, 0)

    def test_a_refusal_says_why_and_leaves_nothing(self) -> None:
        before = len(self.repo.Package.find())
        with self.assertRaisesRegex(qovix.DocumentRefused,
                                    r"'broken.xmi': XMI document 'broken.xmi' line 2:"):
            self.repo.import_model(b'<XMI xmi.version="1.2"><XMI.content>\n<oops></XMI>',
                                   title="broken.xmi")
        # Refused once objects were made: they are undone with the call.
        long_name = ('<XMI xmi.version="1.2"><XMI.content><UML:Model xmi.id="m" name="M"/>'
                     '<UML:Class xmi.id="c" name="' + "n" * 131073 + '"/></XMI.content></XMI>')
        with self.assertRaisesRegex(qovix.DocumentRefused, "holds 131073 UTF-16 units"):
            self.repo.import_model(long_name.encode(), title="long.xmi")
        self.assertEqual(len(self.repo.Package.find()), before)
        self.assertEqual(len(self.repo.Class.find()), 0)
        self.assertEqual(os.listdir(self.documents), [])
        bare = Server()
        try:
            with bare.connect() as repo, self.assertRaisesRegex(qovix.DocumentRefused,
                                                                "no document folder"):
                repo.import_model(b"<XMI/>")
        finally:
            bare.stop()


if __name__ == "__main__":
    unittest.main()
