"""The Python client against a live qovixd (QOVIXD names the executable)."""

from __future__ import annotations

import gc
import os
import subprocess
import unittest

import qovix
from live_server import Server


def setUpModule() -> None:
    global server
    server = Server()


def tearDownModule() -> None:
    server.stop()


def connect(**options) -> qovix.Repository:
    return server.connect(**options)


class BuildAndReadTest(unittest.TestCase):
    def test_a_model_reads_back_as_python_values(self) -> None:
        with connect() as repo:
            bank = repo.Package.create()
            bank.name = "Bank ✓ 𝄞"  # text beyond the basic plane travels as two units
            account, savings = repo.Class.create(), repo.Class.create()
            account.construct(bank, "Account")
            savings.construct(bank, "Savings")
            account.isAbstract = True
            balance = repo.Attribute.create()
            balance.construct(account, "balance")
            balance.visibility = qovix.VisibilityKind.PRIVATE
            link = repo.Generalization.create()
            link.subtype, link.supertype = savings, account

            self.assertEqual(bank.name, "Bank ✓ 𝄞")
            self.assertIs(account.isAbstract, True)
            self.assertIs(savings.isAbstract, False)
            self.assertIs(balance.visibility, qovix.VisibilityKind.PRIVATE)
            self.assertEqual(list(account.feature), [balance])
            self.assertEqual(len(bank.ownedElement), 2)
            self.assertIn(account, bank.ownedElement)
            self.assertNotIn(link, bank.ownedElement)
            self.assertEqual([e.name for e in bank.ownedElement], ["Account", "Savings"])
            self.assertEqual(bank.ownedElement[-1], savings)
            self.assertIsInstance(bank.ownedElement[0], qovix.Class)
            with self.assertRaises(IndexError):
                bank.ownedElement[2]
            self.assertEqual(list(savings.allSupertypes()), [account])
            self.assertEqual(link.supertype, account)
            link.supertype = None
            self.assertIsNone(link.supertype)

            self.assertEqual(repo.Class.find(name="Account"), [account])
            self.assertEqual(repo.Class.find(name="Savings", isAbstract=False), [savings])
            self.assertEqual(repo.Class.find(isAbstract=True), [account])
            self.assertEqual(repo.Package.find(name="Account"), [])
            self.assertEqual(repo.Class.from_handle(account.handle), account)
            bank.ownedElement.remove(savings)
            self.assertEqual(list(bank.ownedElement), [account])

    def test_the_server_says_what_it_is(self) -> None:
        kept = Server("--history", "30-days")
        try:
            with kept.connect() as repo:
                before = repo.server_info()
                repo.Class.create().name = "Loan"
                after = repo.server_info()
        finally:
            kept.stop()
        version = subprocess.run([os.environ["QOVIXD"], "--version"], capture_output=True,
                                 text=True, check=True).stdout.split()[-1]
        self.assertEqual(after, {"release": version, "last_commit": before["last_commit"] + 2,
                                 "objects": before["objects"] + 1, "history_days": 30})
        with connect() as repo:
            self.assertEqual(repo.server_info()["history_days"], 0, "all of it, by default")

    def test_many_objects_are_read_in_one_call_and_contents_a_page_at_a_time(self) -> None:
        with connect() as repo:
            shelf = repo.Package.create()
            shelf.name = "Shelf"
            books = [repo.Class.create() for _ in range(3)]
            for index, book in enumerate(books):
                book.construct(shelf, f"Book{index}")
            books[0].isAbstract = True
            made = repo.calls_made
            first, *_, none = repo.read_objects(
                [book.object_number for book in books] + [2**32 - 1], members=0)
            self.assertEqual(repo.calls_made, made + 1)
            self.assertEqual((first["class"], first["complete"]), ("Class", True))
            self.assertEqual(first["slots"]["*.name"]["values"], ["Book0"])
            self.assertEqual(first["slots"]["QOVIXGeneralizableElement.isAbstract"]["values"], [True])
            self.assertEqual(none, {"object": 2**32 - 1, "class": None, "complete": True,
                                    "slots": {}})
            (owned,) = repo.read_objects([shelf.object_number], members=2)
            slot = owned["slots"]["QOVIXNamespace.ownedElement"]
            self.assertEqual((slot["size"], [t["name"] for t in slot["targets"]]),
                             (3, ["Book0", "Book1"]))
            size, page = repo.contents(shelf.object_number, offset=1, most=5)
            self.assertEqual((size, [m["name"] for m in page]), (3, ["Book1", "Book2"]))
            self.assertEqual([m["name"] for m in repo.all_contents_pages(shelf.object_number, 2)],
                             ["Book0", "Book1", "Book2"])
            self.assertIn(shelf.object_number, [m["object"] for m in repo.all_contents_pages(0)])

    def test_wrong_python_values_are_refused_before_sending(self) -> None:
        with connect() as repo:
            cls, attribute = repo.Class.create(), repo.Attribute.create()
            made = repo.calls_made
            for target, feature, value in ((cls, "name", 5), (cls, "isAbstract", 1),
                                           (attribute, "visibility", 2),
                                           (attribute, "visibility", qovix.ScopeKind.CLASSIFIER)):
                with self.subTest(feature=feature, value=value):
                    with self.assertRaises(TypeError):
                        setattr(target, feature, value)
            with self.assertRaises(TypeError):
                repo.Generalization.create().subtype = repo.TaggedValue.create()
            self.assertEqual(repo.calls_made, made + 4)  # the two creates and their identities
            with self.assertRaises(TypeError):
                repo.Class.find(nosuch="x")
            with self.assertRaises(AttributeError):
                cls.visibility = qovix.VisibilityKind.PUBLIC  # a Feature's, not a Class's


class HandlesTest(unittest.TestCase):
    def test_handles_go_with_their_objects(self) -> None:
        with connect() as repo:
            base = repo.handle_count()
            made = [repo.TaggedValue.create() for _ in range(5)]
            self.assertEqual(repo.handle_count(), base + 5)
            del made
            gc.collect()
            self.assertEqual(repo.handle_count(), base)  # released before this call
            with repo.Class.create() as cls:
                cls.name = "C"
                self.assertGreater(repo.handle_count(), base)
            self.assertEqual(repo.handle_count(), base)
            with self.assertRaises(qovix.InvalidHandle):
                cls.name
            kept = repo.Class.create()
            kept.name = "kept"
            kept.allSupertypes()
        with connect() as repo:
            self.assertEqual(repo.handle_count(), base)  # closing released all of them
            self.assertEqual(len(repo.Class.find(name="kept")), 1)  # the objects stay

    def test_a_handle_that_names_nothing_raises(self) -> None:
        with connect() as repo, connect() as other:
            tv = repo.TaggedValue.create()
            tv.tag = "mine"
            self.assertTrue(other.release_handle(tv.handle))
            with self.assertRaisesRegex(qovix.InvalidHandle, "no object of class TaggedValue"):
                tv.tag
            with self.assertRaises(qovix.InvalidHandle):
                tv.tag = "again"
            for handle, wanted in ((999_999, repo.TaggedValue), (repo.Class.create().handle,
                                                                 repo.TaggedValue)):
                with self.subTest(handle=handle):
                    with self.assertRaises(qovix.InvalidHandle):
                        wanted.from_handle(handle)
            unchecked = connect(checked=False)
            stale = unchecked.TaggedValue.create()
            other.release_handle(stale.handle)
            stale.tag  # unchecked: the routine's previous answer, as the wire gives it
            unchecked.close()


class TransportsTest(unittest.TestCase):
    def test_udp_calls_and_unreachable_servers(self) -> None:
        with connect(udp=True) as repo:
            tv = repo.TaggedValue.create()
            tv.tag = "over udp"
            self.assertEqual(tv.tag, "over udp")
        with self.assertRaisesRegex(qovix.ServerUnreachable,
                                    r"no answer from qovixd at 127\.0\.0\.1:1 over UDP"):
            qovix.Repository.connect("127.0.0.1", 1, udp=True, timeout=1)
        with self.assertRaisesRegex(qovix.ServerUnreachable, r"cannot reach qovixd at \[::1\]:1"):
            qovix.Repository.connect("::1", 1)
        with self.assertRaises(qovix.QovixError):
            qovix.Repository.connect("no-such-host.invalid", 1)


if __name__ == "__main__":
    unittest.main()
