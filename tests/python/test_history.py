"""History, undo and objects by number, on every store: an object's history
is what a client did to it, step by step; undoing a set, an add at a
position, a remove, a create and a delete restores the rows exactly; an
undo a later commit conflicts with is refused and changes nothing."""

from __future__ import annotations

import os
import sqlite3
import subprocess
import tempfile
import unittest

import qovix
from live_server import Server

CONNINFO = os.environ.get("QOVIX_TEST_POSTGRES", "")
DATA_TABLES = ("object", "attribute", "reference", "member", "value_item")
MADE = iter(range(1_000_000))


def psql(conninfo: str, sql: str) -> str:
    return subprocess.run(["psql", "-XAtq", "-v", "ON_ERROR_STOP=1", "-d", conninfo, "-c", sql],
                          capture_output=True, text=True, check=True).stdout


class Store:
    """A store of one kind, with its rows as they are when asked (None
    for the memory store, which has none to read)."""

    def __init__(self, kind: str, folder: str):
        self.kind = kind
        if kind == "file":
            self.path = os.path.join(folder, "history.sqlite3")
            self.store = self.path
        elif kind == "postgres":
            name = f"h{os.getpid()}_{next(MADE)}"
            psql(f"{CONNINFO} dbname=postgres", f"CREATE DATABASE {name}")
            self.database = f"{CONNINFO} dbname={name}"
            self.store = "postgresql:" + self.database
        else:
            self.store = "memory"
        self.server = Server(store=self.store)

    def rows(self):
        if self.kind == "file":
            # The file is the server's alone while it runs.
            self.server.stop()
            with sqlite3.connect(self.path) as database:
                rows = {t: sorted(database.execute(f"SELECT * FROM {t}").fetchall())
                        for t in DATA_TABLES}
            database.close()
            self.server = Server(store=self.store)
            return rows
        if self.kind == "postgres":
            return {t: sorted(psql(self.database, f"SELECT * FROM {t}").splitlines())
                    for t in DATA_TABLES}
        return None

    def stop(self) -> None:
        self.server.stop()


def stores():
    kinds = ["memory", "file"] + (["postgres"] if CONNINFO else [])
    return kinds


class HistoryTest(unittest.TestCase):
    def on_each_store(self, test) -> None:
        for kind in stores():
            with self.subTest(store=kind), tempfile.TemporaryDirectory() as folder:
                store = Store(kind, folder)
                try:
                    test(store)
                finally:
                    store.stop()

    def test_an_objects_history_is_what_was_done_to_it_step_by_step(self):
        self.on_each_store(self.history_on)

    def history_on(self, store: Store) -> None:
        with store.server.connect() as repo:
            bank = repo.Package.create()
            bank.name = "Bank"
            account = repo.Class.create()
            account.construct(bank, "Account")
            account.name = "Ledger"
            balance, owner = repo.Attribute.create(), repo.Attribute.create()
            balance.construct(account, "balance")
            owner.construct(account, "owner")
            account.feature.remove(balance)
            account.feature.insert(1, balance)
            account.isAbstract = True
            seen = [[str(change) for change in commit.changes]
                    for commit in reversed(account.history())]
            n, b, o = account.object_number, balance.object_number, owner.object_number
            self.assertEqual(seen, [
                [f"created #{n} (Class)"],
                [f"#{n} name: (unset) -> 'Account'"],
                [f"#{n} name: 'Account' -> 'Ledger'"],
                [f"#{n} Classifier.feature: added #{b} at 0"],
                [f"#{n} Classifier.feature: added #{o} at 1"],
                [f"#{n} Classifier.feature: removed #{b} from 0"],
                [f"#{n} Classifier.feature: added #{b} at 1"],
                [f"#{n} GeneralizableElement.isAbstract: (unset) -> True"]])
            commits = account.history()
            self.assertEqual([c.seq for c in commits],
                             sorted((c.seq for c in commits), reverse=True))
            self.assertTrue(all(c.principal == "127.0.0.1" for c in commits))
            self.assertIn((n, "Class", "changed"), commits[0].objects)
            # The feed lists every commit once, in order, with what it touched.
            feed = list(repo.changes())
            self.assertEqual([c.seq for c in feed], list(range(1, len(feed) + 1)))
            self.assertEqual(feed[-1].seq, repo.last_commit())
            self.assertEqual(list(repo.changes(since=feed[-2].seq)), feed[-1:])
            # Numbers find objects again, on a new connection too.
            self.assertIs(repo.by_number(n), account)
            self.assertIsNone(repo.by_number(10**9))
        with store.server.connect() as again:
            found = again.by_number(n)
            self.assertIsInstance(found, qovix.Class)
            self.assertEqual(found.name, "Ledger")
            self.assertEqual([f.name for f in found.feature], ["owner", "balance"])

    def test_undo_restores_exactly_and_a_conflicting_undo_changes_nothing(self):
        self.on_each_store(self.undo_on)

    def undo_on(self, store: Store) -> None:
        with store.server.connect() as repo:
            bank = repo.Package.create()
            bank.name = "Bank"
            account, party = repo.Class.create(), repo.Class.create()
            account.construct(bank, "Account")
            party.construct(bank, "Party")
            for name in ("balance", "owner"):
                repo.Attribute.create().construct(account, name)
            link = repo.Generalization.create()
            link.subtype, link.supertype = account, party
            spare = repo.Attribute.create()
            numbers = {"bank": bank.object_number, "account": account.object_number,
                       "spare": spare.object_number, "link": link.object_number}

        def step(name: str, change) -> None:
            before = store.rows()
            with store.server.connect() as repo:
                change(repo)
                made = repo.last_commit()
                self.assertGreater(repo.undo(made), made, name)
                self.assertEqual(repo.commit(made + 1).principal, "127.0.0.1")
            self.assertEqual(store.rows(), before, name)

        def the(repo, what):
            return repo.by_number(numbers[what])

        step("set", lambda repo: setattr(the(repo, "account"), "name", "Ledger"))
        step("add at a position",
             lambda repo: the(repo, "account").feature.insert(1, the(repo, "spare")))
        step("remove", lambda repo: the(repo, "account").feature.remove(
            the(repo, "account").feature[0]))
        step("create", lambda repo: repo.Class.create())
        step("delete", lambda repo: the(repo, "account").delete())

        with store.server.connect() as repo:
            account = the(repo, "account")
            self.assertEqual([f.name for f in account.feature], ["balance", "owner"])
            self.assertEqual(the(repo, "link").supertype.name, "Party")
            self.assertIs(the(repo, "link").subtype, account)
            account.name = "Ledger"
            renamed = repo.last_commit()
            account.name = "Book"
            before = store.rows() if store.kind != "file" else None
            last = repo.last_commit()
            with self.assertRaisesRegex(qovix.UndoRefused,
                                        f"commit {last} changed \\*.name of object "
                                        f"{account.object_number} after commit {renamed}"):
                repo.undo(renamed)
            self.assertEqual(repo.last_commit(), last, "nothing was committed")
            self.assertEqual(account.name, "Book")
            if before is not None:
                self.assertEqual(store.rows(), before)
            with self.assertRaisesRegex(qovix.UndoRefused, "there is no commit"):
                repo.undo(last + 100)

            # Nor may an undo bring back a member or a reference to an object
            # deleted since: it names that object, and changes nothing.
            orphan, stranger = repo.Attribute.create(), repo.Class.create()
            account.feature.insert(0, orphan)
            account.feature.remove(orphan)
            removed = repo.last_commit()
            link = the(repo, "link")
            party = link.supertype
            link.supertype = stranger
            link.supertype = party
            retargeted = repo.last_commit()
            targets = {removed: orphan.object_number, retargeted: stranger.object_number}
            orphan.delete()
            stranger.delete()
            before = store.rows() if store.kind != "file" else None
            last = repo.last_commit()
            for undone, target in targets.items():
                with self.subTest(undo=undone), self.assertRaisesRegex(
                        qovix.UndoRefused, f"commit \\d+ deleted object {target} after commit "
                                           f"{undone}, and undoing it would make .* refer to it"):
                    repo.undo(undone)
            self.assertEqual(repo.last_commit(), last, "nothing was committed")
            self.assertIs(the(repo, "link").supertype, party)
            if before is not None:
                self.assertEqual(store.rows(), before)

    def test_a_history_of_long_values_comes_in_pages_within_every_bound(self):
        server = Server()
        try:
            with server.connect() as repo:
                tagged = repo.TaggedValue.create()
                longest = 131_072
                for i in range(12):
                    tagged.tag = chr(ord("a") + i) * longest
                commits = tagged.history()
                self.assertEqual(len(commits), 13)
                values = [c.changes[0].after for c in commits[:-1]]
                self.assertEqual([v[0] for v in values], [chr(ord("a") + i) for i in range(11, -1, -1)])
                self.assertTrue(all(len(v) == longest for v in values))
                self.assertEqual(repo.commit(commits[0].seq).changes[0].before, "k" * longest)
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main()
