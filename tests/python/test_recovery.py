"""The Python client when things go wrong: text it cannot send exactly, a
server that stalls, closes idle connections or restarts, and threads that
share one Repository (QOVIXD names the executable)."""

from __future__ import annotations

import os
import re
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest
from unittest import mock

import qovix
from qovix import _rpc


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Server:
    def __init__(self, *options: str, port: int = 0) -> None:
        self.process = subprocess.Popen(
            [os.environ["QOVIXD"], "--bind", "127.0.0.1", "--port", str(port), *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        found = re.search(r"listening on [\d.]+:(\d+)", self.process.stdout.readline())
        if not found:
            self.process.kill()
            raise RuntimeError("qovixd did not start")
        self.port = int(found.group(1))

    def stop(self) -> None:
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()


class TextTest(unittest.TestCase):
    def test_text_is_stored_exactly_or_refused_before_sending(self) -> None:
        server = Server("--store", "memory")
        self.addCleanup(server.stop)
        with qovix.Repository.connect("127.0.0.1", server.port) as repo:
            element = repo.Class.create()
            element.name = "old"
            sent = repo.calls_made
            for text in ("ab\x00cd", "a\ud800b", "\udc00", "x" * (_rpc.MOST_TEXT_UNITS + 1)):
                with self.assertRaises(ValueError, msg=repr(text[:10])):
                    element.name = text
                with self.assertRaises(ValueError):
                    repo.Class.find(name=text)
            self.assertEqual(repo.calls_made, sent, "nothing was sent")
            self.assertEqual(element.name, "old")
            longest = "\U0001D11E" * (_rpc.MOST_TEXT_UNITS // 2)  # two units each
            element.name = longest
            self.assertEqual(element.name, longest)
            # The server's bound is the client's: one unit more does not decode.
            tagged = repo.TaggedValue.create()
            set_tag = _rpc.Call(_rpc.MODEL_PROGRAM, 2, 6,  # TaggedValue.set_tag, a QOVIXName
                                (("h", tagged.handle),
                                 ("v", _rpc.Value(1, "x" * (_rpc.MOST_TEXT_UNITS + 1)))),
                                _rpc.no_result)
            with mock.patch.object(_rpc, "MOST_TEXT_UNITS", _rpc.MOST_TEXT_UNITS + 1):
                with self.assertRaises(qovix.DecodeError):
                    repo._make([set_tag])


class RecoveryTest(unittest.TestCase):
    def test_a_timed_out_call_never_hands_its_reply_to_the_next(self) -> None:
        server = Server("--store", "memory")
        self.addCleanup(server.stop)
        with qovix.Repository.connect("127.0.0.1", server.port, timeout=0.5) as repo:
            first, second = repo.Class.create(), repo.Class.create()
            first.name, second.name = "first", "second"
            os.kill(server.process.pid, signal.SIGSTOP)
            try:
                with self.assertRaises(qovix.Timeout):
                    _ = first.name
            finally:
                os.kill(server.process.pid, signal.SIGCONT)
            self.assertEqual(second.name, "second")
            self.assertEqual(first.name, "first")

    def test_a_connection_the_server_closed_when_idle_is_made_again(self) -> None:
        server = Server("--store", "memory", "--idle-seconds", "1")
        self.addCleanup(server.stop)
        with qovix.Repository.connect("127.0.0.1", server.port) as repo:
            element = repo.Class.create()
            element.name = "kept"
            time.sleep(2.5)
            self.assertEqual(element.name, "kept")
            element.name = "changed"
            self.assertEqual(element.name, "changed")

    def test_objects_whose_handles_went_with_a_restart_raise_invalid_handle(self) -> None:
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        store = os.path.join(folder.name, "repository.sqlite3")
        port = free_port()
        server = Server("--store", store, port=port)
        repo = qovix.Repository.connect("127.0.0.1", port)
        first, second = repo.Class.create(), repo.Class.create()
        first.name, second.name = "first", "second"
        server.stop()
        server = Server("--store", store, port=port)
        self.addCleanup(server.stop)
        # Another client takes the handles the first one held before.
        with qovix.Repository.connect("127.0.0.1", port) as other:
            made = [other.Class.create() for _ in range(4)]
            made[0].name = "other"
            with self.assertRaises(qovix.InvalidHandle):
                _ = first.name
            with self.assertRaises(qovix.InvalidHandle):
                second.name = "never"
            found, = repo.Class.find(name="second")
            self.assertEqual(found.object_number, second.object_number)
        repo.close()

    def test_threads_share_one_repository(self) -> None:
        server = Server("--store", "memory")
        self.addCleanup(server.stop)
        failures: list[BaseException] = []
        with qovix.Repository.connect("127.0.0.1", server.port) as repo:
            def work(number: int) -> None:
                try:
                    element = repo.Class.create()
                    for round in range(100):
                        element.name = f"t{number}-{round}"
                        if element.name != f"t{number}-{round}":
                            raise AssertionError(f"thread {number} read another's value")
                except BaseException as error:  # reported below
                    failures.append(error)
            threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            self.assertEqual(failures, [])
            self.assertEqual(len(repo.Class.all()), 8)


if __name__ == "__main__":
    unittest.main()
