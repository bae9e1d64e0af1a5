"""Deleting from the repository, on both stores: what goes with an element
and what stays, durably, with nothing left pointing at what went."""

from __future__ import annotations

import os
import tempfile
import unittest

import qovix
from live_server import Server


def build(repo: qovix.Repository) -> dict[str, qovix.ModelObject]:
    """A package with classes, a feature with a parameter, generalizations
    inside it and to a class outside, an association and a dependency with
    the outside class, a tagged value and an element reference."""
    made: dict[str, qovix.ModelObject] = {}
    package, outside = repo.Package.create(), repo.Package.create()
    package.name, outside.name = "Lending", "Elsewhere"
    for name, owner in (("Loan", package), ("Mortgage", package), ("Party", outside)):
        made[name] = repo.Class.create()
        made[name].construct(owner, name)
    amount = repo.Attribute.create()
    amount.construct(made["Loan"], "amount")
    repay = repo.Operation.create()
    repay.construct(made["Loan"], "repay")
    share = repo.Parameter.create()
    share.construct("share", repay)
    for sub, sup in (("Mortgage", "Loan"), ("Party", "Loan")):
        link = repo.Generalization.create()
        link.subtype, link.supertype = made[sub], made[sup]
        made[f"{sub}->{sup}"] = link
    association = repo.Association.create()
    association.construct(package, "borrows")
    for name, typed in (("borrower", "Party"), ("loan", "Loan")):
        end = repo.AssociationEnd.create()
        end.construct(association, name)
        end.type = made[typed]
        made[name] = end
    dependency = repo.Dependency.create()
    dependency.construct(package, "uses")
    dependency.client.add(made["Loan"])
    dependency.supplier.add(made["Party"])
    tagged = repo.TaggedValue.create()
    tagged.tag = "author"
    tagged.modelElement = made["Loan"]
    reference = repo.ElementReference.create()
    reference.package, reference.modelElement = package, made["Party"]
    made.update(Lending=package, Elsewhere=outside, amount=amount, repay=repay, share=share,
                borrows=association, uses=dependency, author=tagged, imports=reference)
    return made


class DeleteTest(unittest.TestCase):
    def check_on(self, store: str, folder: str) -> None:
        server = Server(store=store)
        try:
            with server.connect() as repo:
                made = build(repo)
                numbers = {name: each.object_number for name, each in made.items()}
                # Asked first, what would go changes nothing.
                would = made["Loan"].deletion()
                self.assertEqual(would["QOVIXClass"], 1)
                self.assertEqual(would["QOVIXGeneralization"], 2)
                self.assertEqual(sum(would.values()), 11)
                self.assertEqual(made["Loan"].name, "Loan")
                with server.connect() as other:
                    held = other.by_number(numbers["Loan"])
                    self.assertEqual(held.name, "Loan")
                    self.assertEqual(made["Loan"].delete(), 11)
                    # Another client holding it finds it gone.
                    self.assertIsNone(other.by_number(numbers["Loan"]))
                with self.assertRaises(qovix.InvalidHandle):
                    made["Loan"].name  # noqa: B018: unusable once deleted
            # Another client, and (for the file) a restart, see the same.
            if store != "memory":
                self.assertIn("deleted object", server.stop())
                server = Server(store=store)
            with server.connect() as repo:
                gone = {"Loan", "amount", "repay", "share", "Mortgage->Loan", "Party->Loan",
                        "borrows", "borrower", "loan", "uses", "author"}
                left = {o.object_number for kind in (repo.ModelElement, repo.TaggedValue,
                                                     repo.ElementReference)
                        for o in kind.all()}
                for name, number in numbers.items():
                    self.assertEqual(number in left, name not in gone, name)
                mortgage = repo.Class.find(name="Mortgage")[0]
                party = repo.Class.find(name="Party")[0]
                lending = repo.Package.find(name="Lending")[0]
                # Nothing that stays names what went.
                self.assertEqual(list(mortgage.generalization), [])
                self.assertEqual(list(party.generalization), [])
                self.assertEqual(list(party.allSupertypes()), [])
                self.assertEqual([e.name for e in lending.ownedElement], ["Mortgage"])
                self.assertEqual(len(repo.ElementReference.all()), 1)
                # The whole package: its class and its element reference.
                self.assertEqual(lending.delete(), 3)
                self.assertEqual(sorted(e.name for e in repo.Package.all()), ["Elsewhere"])
        finally:
            server.stop()

    def test_an_element_goes_with_what_it_owns_and_what_needs_it(self) -> None:
        for store in ("memory", "repository.sqlite3"):
            with self.subTest(store), tempfile.TemporaryDirectory() as folder:
                self.check_on(store if store == "memory" else os.path.join(folder, store), folder)

    def test_readers_may_not_delete_and_nothing_else_is_deletable(self) -> None:
        with tempfile.TemporaryDirectory() as folder:
            access = os.path.join(folder, "access")
            with open(access, "w", encoding="utf-8") as file:
                file.write("read 127.0.0.1\n")
            server = Server("--access", access)
            try:
                with server.connect() as repo:
                    with self.assertRaises(qovix.AccessDenied):
                        repo.Package.create().delete()
            finally:
                server.stop()
        # What one client deletes, another's handles no longer name.
        server = Server()
        try:
            with server.connect() as alice, server.connect() as bob:
                made = alice.Class.create()
                made.name = "Temporary"
                seen = bob.Class.find(name="Temporary")[0]
                self.assertEqual(made.delete(), 1)
                with self.assertRaises(qovix.InvalidHandle):
                    seen.name  # noqa: B018
                with self.assertRaises(qovix.InvalidHandle):
                    seen.delete()
        finally:
            server.stop()

    def test_a_multiplicity_set_anew_or_removed_leaves_nothing_behind(self) -> None:
        server = Server()
        try:
            with server.connect() as repo:
                made = build(repo)
                for text, shown in (("0..*", "0..*"), ("1..3, 5", "1..3,5"), ("1", "1")):
                    repo.set_multiplicity(made["loan"], text)
                    self.assertEqual(made["loan"].multiplicity.getValue(), shown)
                    self.assertEqual(len(repo.MultiplicityRange.all()), shown.count(",") + 1,
                                     "the ranges it replaced are gone")
                repo.set_multiplicity(made["amount"], "0..1")
                refusals = (("amount", "3..1", "no multiplicity range"),
                            ("amount", "x", "no multiplicity bound or range"),
                            ("Loan", "1", "a Class has no multiplicity"))
                for name, text, says in refusals:
                    with self.subTest(text), self.assertRaisesRegex(ValueError, says):
                        repo.set_multiplicity(made[name], text)
                self.assertEqual(made["amount"].multiplicity.getValue(), "0..1")
                repo.set_multiplicity(made["loan"], "")
                self.assertIsNone(made["loan"].multiplicity)
                self.assertEqual((len(repo.Multiplicity.all()), len(repo.MultiplicityRange.all())),
                                 (1, 1), "amount's alone")
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main()
