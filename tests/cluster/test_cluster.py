"""Several qovixd on one PostgreSQL repository: what each client is told
is what every server then shows, in an order a one-at-a-time run could
give; nothing is half kept when a server or the database goes.

QOVIX_TEST_POSTGRES reaches the test PostgreSQL server (a conninfo);
POSTGRES_SERVER is scripts/postgres-server, with which the tests that stop
a database run one of their own."""

from __future__ import annotations

import os
import random
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))

import qovix  # noqa: E402
from live_server import Server  # noqa: E402

CONNINFO = os.environ.get("QOVIX_TEST_POSTGRES", "")
# How much slower than a release build the servers are (a sanitizer build's).
SLOWER = float(os.environ.get("QOVIX_SLOWER", "1"))
MADE = iter(range(1_000_000))


def psql(conninfo: str, sql: str) -> str:
    done = subprocess.run(["psql", "-XAtq", "-v", "ON_ERROR_STOP=1", "-d", conninfo, "-c", sql],
                          capture_output=True, text=True, check=True)
    return done.stdout.strip()


def fresh_database(server: str = CONNINFO) -> str:
    """A new, empty database; its conninfo."""
    name = f"c{os.getpid()}_{next(MADE)}"
    psql(f"{server} dbname=postgres", f"CREATE DATABASE {name}")
    return f"{server} dbname={name}"


def dangling_rows(database: str) -> int:
    """Rows that name an object the repository no longer has."""
    return int(psql(database, """
        SELECT (SELECT count(*) FROM attribute WHERE object NOT IN (SELECT id FROM object))
             + (SELECT count(*) FROM reference WHERE object NOT IN (SELECT id FROM object)
                                                 OR target NOT IN (SELECT id FROM object))
             + (SELECT count(*) FROM member WHERE object NOT IN (SELECT id FROM object)
                                              OR member NOT IN (SELECT id FROM object))
             + (SELECT count(*) FROM value_item WHERE object NOT IN (SELECT id FROM object))"""))


def names(members) -> list[str]:
    return [each.name for each in members]


@unittest.skipUnless(CONNINFO, "no test PostgreSQL (QOVIX_TEST_POSTGRES)")
class SharedRepositoryTest(unittest.TestCase):
    def servers(self, database: str, count: int, *options: str) -> list[Server]:
        started = [Server(*options, store="postgresql:" + database) for _ in range(count)]
        for server in started:
            self.addCleanup(server.stop)
        return started

    def test_interleaved_writes_on_three_servers_keep_every_acknowledged_change(self):
        database = fresh_database()
        servers = self.servers(database, 3)
        with servers[0].connect() as repo:
            shared = repo.Constraint.create()
            shared.name = "Shared"
            for name in ("Left", "Right"):
                made = repo.Class.create()
                made.name = name
            tagged = repo.TaggedValue.create()
            tagged.tag = "Tagged"
            link = repo.Generalization.create()
            link.name = "Link"

        acknowledged: dict[str, list] = {}
        failures: list[str] = []

        def client(number: int) -> None:
            ops = acknowledged.setdefault(f"client{number}", [])
            rng = random.Random(number)
            with servers[number % 3].connect() as repo:
                order = repo.Constraint.find(name="Shared")[0].constrainedElement
                tagged = repo.TaggedValue.find(tag="Tagged")[0]
                targets = [repo.Class.find(name=n)[0] for n in ("Left", "Right")]
                link = repo.Generalization.find(name="Link")[0]
                mine: list = []
                for step in range(40):
                    roll = rng.random()
                    try:
                        if roll < 0.45 or not mine:
                            made = repo.Class.create()
                            made.name = f"c{number}_{step}"
                            # At the front: a position every server agrees on, however
                            # the others change the list meanwhile.
                            order.insert(0, made)
                            mine.append(made)
                            ops.append(("add", made.name))
                        elif roll < 0.6:
                            gone = mine.pop(rng.randrange(len(mine)))
                            order.remove(gone)
                            ops.append(("remove", gone.name))
                        elif roll < 0.7:
                            gone = mine.pop(rng.randrange(len(mine)))
                            name = gone.name
                            gone.delete()
                            ops.append(("delete", name))
                        elif roll < 0.85:
                            value = f"n{number}_{step}"
                            began = time.monotonic()
                            tagged.umlValue = value
                            ops.append(("tag", value, began, time.monotonic()))
                        else:
                            target = targets[step % 2]
                            link.supertype = target
                            ops.append(("link", target.name))
                    except qovix.QovixError as error:
                        failures.append(f"client {number} step {step}: {error}")

        threads = [threading.Thread(target=client, args=(n,)) for n in range(6)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [], "a conflict reached a client")

        answers = []
        for server in servers:
            with server.connect() as repo:
                order = repo.Constraint.find(name="Shared")[0].constrainedElement
                answers.append((names(order), repo.TaggedValue.find(tag="Tagged")[0].umlValue,
                                repo.Generalization.find(name="Link")[0].supertype.name,
                                [c.name for c in repo.Class.all()]))
        self.assertEqual(answers[0], answers[1])
        self.assertEqual(answers[0], answers[2])
        contents, tag, supertype, classes = answers[0]

        for client_ops in acknowledged.values():
            gone = {op[1] for op in client_ops if op[0] in ("remove", "delete")}
            deleted = {op[1] for op in client_ops if op[0] == "delete"}
            added = [op for op in client_ops if op[0] == "add"]
            kept = [op[1] for op in added if op[1] not in gone]
            for name in kept:
                self.assertEqual(contents.count(name), 1, name)
            for name in gone:
                self.assertNotIn(name, contents)
            for name in deleted:
                self.assertNotIn(name, classes, "a deleted class is still reachable")
            # Each insert at the front went before every earlier one.
            order = [name for name in contents if name in set(kept)]
            self.assertEqual(order, list(reversed(kept)))

        # The value kept is one written by a call that no other call began
        # after (in real time): whichever server took them, later calls win.
        tags = [op for ops in acknowledged.values() for op in ops if op[0] == "tag"]
        kept = [op for op in tags if op[1] == tag]
        self.assertEqual(len(kept), 1, tag)
        overtaken = [op[1] for op in tags if op[2] > kept[0][3]]
        self.assertEqual(overtaken, [], f"{tag} outlived writes begun after it was acknowledged")
        self.assertIn(supertype, ("Left", "Right"))
        self.assertEqual(dangling_rows(database), 0)

    def test_a_read_on_one_server_sees_a_write_just_acknowledged_by_another(self):
        database = fresh_database()
        one, two = self.servers(database, 2)
        with one.connect() as writer, two.connect() as reader:
            written = writer.Class.create()
            written.name = "v0"
            seen = reader.Class.find(name="v0")[0]
            stale = []
            for i in range(1, 2001):
                written.name = f"v{i}"
                if seen.name != f"v{i}":
                    stale.append(i)
            self.assertEqual(stale, [], "a read missed the write acknowledged before it")

    def test_a_long_call_on_one_server_stalls_no_reading_client_of_another(self):
        database = fresh_database()
        documents = tempfile.TemporaryDirectory()
        self.addCleanup(documents.cleanup)
        classes = int(30_000 / SLOWER)
        with open(os.path.join(documents.name, "big.xmi"), "w", encoding="utf-8") as document:
            document.write('<?xml version="1.0"?>\n<XMI xmi.version="1.2" '
                           'xmlns:UML="org.omg.xmi.namespace.UML"><XMI.content>'
                           '<UML:Model xmi.id="m" name="Big"><UML:Namespace.ownedElement>')
            for i in range(classes):
                document.write(f'<UML:Class xmi.id="c{i}" name="C{i}"/>')
            document.write("</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>\n")
        builder, quiet = self.servers(database, 2, "--documents", documents.name)
        with builder.connect(timeout=120) as repo:
            repo.Package.create().internalize("xmi", "big.xmi")
        # A server that has read nothing yet exports the whole model: one
        # call that reads every element from the database.
        busy, = self.servers(database, 1, "--documents", documents.name)
        with busy.connect(timeout=120) as repo, quiet.connect() as other:
            big = repo.Package.find(name="Big")[0]
            probe = other.Class.find(name="C7")[0]
            done = threading.Event()
            latencies: list[float] = []

            def long_call() -> None:
                try:
                    big.externalize("xmi", "out.xmi")
                finally:
                    done.set()

            runner = threading.Thread(target=long_call)
            started = time.monotonic()
            runner.start()
            while not done.is_set():
                before = time.perf_counter()
                self.assertEqual(probe.name, "C7")
                latencies.append(time.perf_counter() - before)
            runner.join()
            took = time.monotonic() - started
        self.assertGreater(took, 0.1, "the long call was not long")
        # Counted, not timed: a reader stalled by the long call gets one or
        # two reads done while it runs; one that is not gets many, whatever
        # else keeps the machine busy.
        self.assertGreaterEqual(len(latencies), 20,
                                f"{len(latencies)} reads while a call of {took:.2f} s ran")
        self.assertLess(sorted(latencies)[len(latencies) // 2], took / 4,
                        "the typical read waited for a good part of the long call")


    def test_a_script_goes_on_through_another_server_when_its_server_is_killed(self):
        first, second = self.servers(fresh_database(), 2)
        script = f"""
import qovix
repo = qovix.Repository.connect(hosts=["127.0.0.1:{first.port}", "127.0.0.1:{second.port}"],
                                timeout=5)
lending = repo.Package.create()
lending.name = "Lending"
print("ready", flush=True)
made = []
for i in range(600):
    each = repo.Class.create()
    each.construct(lending, f"C{{i}}")
    made.append(each)
    if i == 200:
        print("under way", flush=True)
names = sorted(c.name for c in made)
print(len(set(names)), len(lending.ownedElement), repo._port,
      repo.by_number(lending.object_number).name, flush=True)
"""
        env = dict(os.environ)
        script_run = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True, env=env)
        self.assertEqual(script_run.stdout.readline().strip(), "ready")
        self.assertEqual(script_run.stdout.readline().strip(), "under way")
        first.process.kill()  # with 400 classes still to make
        out, err = script_run.communicate(timeout=120)
        script_run.stdout.close()
        script_run.stderr.close()
        self.assertEqual(script_run.returncode, 0, err)
        distinct, owned, port, name = out.split()
        self.assertEqual((distinct, owned, port, name), ("600", "600", str(second.port), "Lending"))
        with second.connect() as repo:
            self.assertEqual(len(repo.Package.find(name="Lending")[0].ownedElement), 600)


@unittest.skipUnless(CONNINFO and os.environ.get("POSTGRES_SERVER"), "no PostgreSQL to stop")
class FailuresTest(unittest.TestCase):
    """On a PostgreSQL server of the test's own, which it stops and starts."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qovix-pgown-")
        self.script = os.environ["POSTGRES_SERVER"]
        self.conninfo = self.postgres("start")
        self.addCleanup(self.postgres, "remove")

    def postgres(self, command: str) -> str:
        done = subprocess.run([self.script, command, self.folder], capture_output=True, text=True,
                              check=True)
        return done.stdout.strip()

    def test_a_killed_server_leaves_nothing_of_its_call(self):
        database = fresh_database(self.conninfo)
        doomed = Server(store="postgresql:" + database)
        with doomed.connect() as repo:
            big = repo.Package.create()
            big.name = "Big"
            for i in range(1000):
                repo.Class.create().construct(big, f"B{i}")
            repo.Package.create().name = "Copies"
        before = int(psql(database, "SELECT count(*) FROM object"))

        def copy() -> None:
            try:
                with doomed.connect(timeout=5) as repo:
                    repo.Package.find(name="Big")[0].copyModel(repo.Package.find(name="Copies")[0])
            except qovix.QovixError:
                pass

        runner = threading.Thread(target=copy)
        runner.start()
        time.sleep(0.1)
        doomed.process.send_signal(signal.SIGKILL)
        runner.join()
        doomed.stop()
        after = int(psql(database, "SELECT count(*) FROM object"))
        self.assertIn(after, (before, before + 1001), "a part of the copy was kept")
        self.assertEqual(dangling_rows(database), 0)

    def test_a_database_stopped_at_once_under_load_loses_no_acknowledged_write(self):
        # With the default options: a colleague's acknowledged change is kept.
        database = fresh_database(self.conninfo)
        server = Server(store="postgresql:" + database)
        self.addCleanup(server.stop)
        acknowledged: list[str] = []
        refused: list[str] = []
        stop = threading.Event()

        def writer() -> None:
            with server.connect() as repo:
                for i in range(1_000_000):
                    if stop.is_set():
                        return
                    try:
                        made = repo.Class.create()
                        made.name = f"w{i}"
                        acknowledged.append(f"w{i}")
                    except qovix.ServerSystemError:
                        refused.append(f"w{i}")
                        time.sleep(0.01)

        thread = threading.Thread(target=writer)
        thread.start()
        time.sleep(0.5)
        self.postgres("crash")
        time.sleep(0.5)
        self.postgres("start")
        during = len(acknowledged)
        time.sleep(1.0)
        stop.set()
        thread.join()
        self.assertTrue(refused, "no call saw the database gone")
        self.assertGreater(len(acknowledged), during, "the server did not recover by itself")
        kept = set(psql(database, "SELECT name FROM named_object WHERE name LIKE 'w%'").split())
        lost = [name for name in acknowledged if name not in kept]
        self.assertEqual(lost, [], "acknowledged writes were lost")
        self.assertEqual(dangling_rows(database), 0)

    def test_an_unreachable_database_at_start_stops_qovixd_saying_why(self):
        self.postgres("stop")
        done = subprocess.run([os.environ["QOVIXD"], "--port", "0",
                               "--store", f"postgresql:{self.conninfo} dbname=postgres"],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn("cannot connect to PostgreSQL", done.stderr)


if __name__ == "__main__":
    unittest.main()
