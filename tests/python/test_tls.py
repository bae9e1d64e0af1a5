"""RPC-with-TLS, principals, access and scoped handles, against a live
qovixd that requires TLS from clients with a certificate of its CA."""

from __future__ import annotations

import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import qovix
from qovix import _records, _rpc
from qovix._protocol import HOST_ACT_FOR

HERE = Path(__file__).resolve().parent
ALICE, BOB, WEB = "CN=alice,O=Modelling", "CN=bob,O=Modelling", "CN=qovix-web,O=Modelling"


# Long enough for a reconnect on a busy machine. A connection within the
# grace takes the handles up again, so the release can only be seen by
# connecting after it: the test waits well past it (RELEASE_WAIT).
GRACE_SECONDS = 4
RELEASE_WAIT = GRACE_SECONDS + 6


def setUpModule() -> None:
    global folder, certificates, server
    folder = tempfile.TemporaryDirectory()
    certificates = Path(folder.name)
    subprocess.run([sys.executable, str(HERE.parent / "tls" / "make_certificates.py"),
                    str(certificates)], check=True)
    (certificates / "access").write_text(f"write {ALICE}\nread  {BOB}\nvouch {WEB}\n"
                                         "write user:carol\nread user:dave\n")
    server = subprocess.Popen(
        [os.environ["QOVIXD"], "--bind", "127.0.0.1", "--port", "0", "--store", "memory",
         "--tls-cert", str(certificates / "server.pem"), "--tls-key",
         str(certificates / "server-key.pem"), "--tls-ca", str(certificates / "ca.pem"),
         "--tls-require", "--access", str(certificates / "access"),
         "--principal-grace-seconds", str(GRACE_SECONDS)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    server.ready = server.stdout.readline()
    server.port = int(re.search(r":(\d+) ", server.ready).group(1))


def tearDownModule() -> None:
    server.terminate()
    server.wait(10)
    server.stdout.close()
    folder.cleanup()


def connect(who: str, **options) -> qovix.Repository:
    return qovix.Repository.connect(
        "127.0.0.1", server.port, ca=str(certificates / "ca.pem"),
        cert=str(certificates / f"{who}.pem"), key=str(certificates / f"{who}-key.pem"), **options)


def record(socket_: socket.socket) -> bytes:
    mark = socket_.recv(4, socket.MSG_WAITALL)
    return socket_.recv(struct.unpack(">I", mark)[0] & 0x7FFFFFFF, socket.MSG_WAITALL)


def plain_call(flavor: int, procedure: int = 0) -> bytes:
    """A host-program call in plain text, and the reply's bytes."""
    with socket.create_connection(("127.0.0.1", server.port), timeout=5) as plain:
        call = struct.pack(">10I", 0x51, 0, 2, _rpc.HOST_PROGRAM, 1, procedure, flavor, 0, 0, 0)
        plain.sendall(struct.pack(">I", 0x80000000 | len(call)) + call)
        return record(plain)


class HandshakeTest(unittest.TestCase):
    def test_the_probe_is_answered_with_starttls_and_plain_calls_are_refused(self) -> None:
        # xid, REPLY, MSG_ACCEPTED, verifier AUTH_NONE "STARTTLS", SUCCESS.
        self.assertEqual(plain_call(7), struct.pack(">5I", 0x51, 1, 0, 0, 8) + b"STARTTLS" +
                         struct.pack(">I", 0))
        # xid, REPLY, MSG_DENIED, AUTH_ERROR, AUTH_TOOWEAK.
        self.assertEqual(plain_call(0), struct.pack(">5I", 0x51, 1, 1, 1, 5))
        self.assertEqual(plain_call(0, 1), struct.pack(">5I", 0x51, 1, 1, 1, 5))
        with self.assertRaisesRegex(qovix.AccessDenied, "requires TLS"):
            qovix.Repository.connect("127.0.0.1", server.port)
        self.assertIn("(tcp)", server.ready, "no UDP where TLS is required")

    def test_only_valid_certificates_of_the_ca_get_in(self) -> None:
        with connect("alice") as repo:
            self.assertEqual(repo._transport._socket.selected_alpn_protocol(), "sunrpc")
            self.assertEqual(repo._transport._socket.version(), "TLSv1.3")
        for who in ("stranger", "expired", "future"):
            with self.subTest(who=who), self.assertRaises(qovix.TlsError):
                connect(who)
        with self.assertRaises(qovix.TlsError):  # no certificate at all
            qovix.Repository.connect("127.0.0.1", server.port, ca=str(certificates / "ca.pem"))

    def test_stalled_handshakes_delay_nobody_and_are_bounded(self) -> None:
        def stall() -> socket.socket:
            hanging = socket.create_connection(("127.0.0.1", server.port), timeout=5)
            call = struct.pack(">10I", 1, 0, 2, _rpc.HOST_PROGRAM, 1, 0, 7, 0, 0, 0)
            hanging.sendall(struct.pack(">I", 0x80000000 | len(call)) + call)
            return hanging

        stalled = []
        for _ in range(64):  # as many handshakes as may run at once, from one address
            stalled.append(stall())
            record(stalled[-1])
            stalled[-1].sendall(b"\x16\x03\x01\x02")  # the start of a ClientHello, no more
        with connect("alice") as repo:  # one more from the same address: its oldest goes
            self.assertEqual(stalled[0].recv(4), b"")
            for _ in range(50):  # each within the client's timeout, stalled ones or not
                repo.TaggedValue.all()
        for hanging in stalled[1:]:  # a handshake may take 10 s, then it ends
            hanging.settimeout(60)
            self.assertEqual(hanging.recv(4), b"", "ended for taking too long")
        for hanging in stalled:
            hanging.close()


class HandshakeFloodTest(unittest.TestCase):
    def test_a_flood_from_one_address_ends_no_handshake_from_another(self) -> None:
        def stall(source: str) -> socket.socket:
            hanging = socket.create_connection(("127.0.0.1", server.port), timeout=5,
                                               source_address=(source, 0))
            call = struct.pack(">10I", 1, 0, 2, _rpc.HOST_PROGRAM, 1, 0, 7, 0, 0, 0)
            hanging.sendall(struct.pack(">I", 0x80000000 | len(call)) + call)
            record(hanging)
            hanging.sendall(b"\x16\x03\x01\x02")  # the start of a ClientHello, no more
            return hanging

        others = [stall("127.0.0.2") for _ in range(4)]
        flood = [stall("127.0.0.3") for _ in range(100)]
        try:
            self.assertEqual(flood[0].recv(4), b"", "the flood's oldest went first")
            for hanging in others:
                hanging.settimeout(0.2)
                with self.assertRaises(socket.timeout, msg="another address's handshake ended"):
                    hanging.recv(4)
            with connect("alice") as repo:  # and a newcomer still gets in
                self.assertGreater(repo.handle_count(), 0)
        finally:
            for hanging in others + flood:
                hanging.close()


class PrincipalsTest(unittest.TestCase):
    def test_a_reader_reads_and_cannot_write(self) -> None:
        with connect("alice") as alice, connect("bob") as bob:
            tagged = alice.TaggedValue.create()
            tagged.tag = "by alice"
            self.assertIn("by alice", [t.tag for t in bob.TaggedValue.all()])
            mine = bob.TaggedValue.find(tag="by alice")[0]
            with self.assertRaisesRegex(qovix.AccessDenied, r"^TaggedValue\.set_tag: .*may not make it"):
                mine.tag = "by bob"
            with self.assertRaises(qovix.AccessDenied):
                bob.TaggedValue.create()
            self.assertEqual(tagged.tag, "by alice")

    def test_no_principal_uses_releases_or_observes_another_ones_handles(self) -> None:
        with connect("alice") as alice, connect("bob") as bob:
            self.assertNotEqual(alice.handle, bob.handle, "each has its own repository handle")
            tagged = alice.TaggedValue.create()
            tagged.tag = "alice's"
            handle = tagged.handle
            bob_count = bob.handle_count()
            self.assertEqual(bob_count, bob.handles_held() + 1, "bob counts his own alone")
            with self.assertRaises(qovix.InvalidHandle):
                bob.TaggedValue.from_handle(handle)
            self.assertFalse(bob.release_handle(handle))
            # A routine's slot may hold alice's last result: a call naming a
            # handle not of bob's is refused before any routine answers.
            get_tag = _rpc.Call(_rpc.MODEL_PROGRAM, 2, 5, (("h", handle),), _rpc.value_result)
            for named in (handle, 0xDEADBEEF, 0):
                with self.subTest(handle=named), self.assertRaises(qovix.AccessDenied):
                    bob._make([_rpc.Call(_rpc.MODEL_PROGRAM, 2, 5, (("h", named),),
                                         _rpc.value_result)])
            self.assertEqual(alice._make([get_tag])[0].payload, "alice's")
            self.assertEqual(tagged.tag, "alice's")

    def test_a_vouched_for_user_has_its_own_access_and_name_and_no_one_else_vouches(self) -> None:
        with connect("web", acting_for="carol") as carol, \
                connect("web", acting_for="dave") as dave, connect("alice") as alice:
            self.assertEqual((carol.access(), dave.access(), alice.access()),
                             ("write", "read", "write"))
            tagged = carol.TaggedValue.create()
            tagged.tag = "by carol"
            self.assertEqual({c.principal for c in tagged.history()}, {"user:carol"})
            self.assertIn("by carol", [t.tag for t in dave.TaggedValue.all()])
            with self.assertRaises(qovix.AccessDenied):
                dave.TaggedValue.create()
            with self.assertRaises(qovix.InvalidHandle):
                dave.TaggedValue.from_handle(tagged.handle)
            # One user per connection: a second word changes nothing.
            again = carol._host_call(HOST_ACT_FOR, (("b", b"dave"),), _records.read_outcome)
            self.assertEqual(again, (0, "this connection acts for user:carol already; a "
                                        "connection acts for one user"))
            self.assertEqual(carol.access(), "write")
        refusals = [("web", "erin", "user:erin has no access"),
                    ("web", "carol dave", "1 to 64"),
                    ("web", "x" * 65, "1 to 64"),
                    ("alice", "carol", "'vouch' line")]
        for who, user, says in refusals:
            with self.subTest(who=who, user=user), self.assertRaisesRegex(qovix.AccessDenied, says):
                connect(who, acting_for=user)
        with self.assertRaises(qovix.AccessDenied, msg="vouching gives no access of its own"):
            connect("web")

    def test_handles_outlast_a_reconnect_within_the_grace_and_go_after_it(self) -> None:
        alice = connect("alice")
        kept = alice.TaggedValue.create()
        kept.tag = "kept"
        handle = kept.handle
        alice._transport.close()  # gone without releasing
        with connect("alice") as again:
            self.assertEqual(again.TaggedValue.from_handle(handle).tag, "kept")
        # closing released what `again` held, not the borrowed handle
        gone = connect("alice")
        gone.TaggedValue.create()
        count = gone.handle_count()
        gone._transport.close()
        time.sleep(RELEASE_WAIT)
        with connect("alice") as later:
            self.assertLess(later.handle_count(), count, "released after the grace")
            with self.assertRaises(qovix.InvalidHandle):
                later.TaggedValue.from_handle(handle)


if __name__ == "__main__":
    unittest.main()
