"""Who may do what through the web view: people sign in by a password file
or are named by a reverse proxy; each acts towards qovixd as user:NAME on
the web view's certificate's word, and qovixd's access file decides. A
reader sees no edit controls and the API refuses their changes. It serves
HTTPS with --tls-cert, and off loopback only with sign-in."""

from __future__ import annotations

import json
import os
import socket
import subprocess
import tempfile
import unittest
from pathlib import Path

from selenium.webdriver.common.by import By
from test_browser import BrowserCase
from web_server import WebView, make_certificates, vouched_web

TOOL = os.environ.get("QOVIX_TOOL", "qovix")
WEB = "CN=qovix-web,O=Modelling"
ACCESS = f"""vouch {WEB}
read  {WEB}
write CN=alice,O=Modelling
write user:carol
read  user:dave
"""


def setUpModule() -> None:
    global folder, certificates
    folder = tempfile.TemporaryDirectory()
    certificates = Path(folder.name)
    make_certificates(certificates)
    (certificates / "access").write_text(ACCESS)
    for user, password in (("carol", "carol's secret"), ("dave", "dave's secret")):
        subprocess.run([TOOL, "web", "--passwords", str(certificates / "passwords"),
                        "--set-password", user], input=password + "\n", text=True, check=True,
                       capture_output=True)


def tearDownModule() -> None:
    folder.cleanup()


def pem(name: str) -> str:
    return str(certificates / f"{name}.pem")


def signed_in_web(*web_options: str, https: bool = False) -> WebView:
    """A qovixd requiring TLS, with the access file above, and `qovix web`
    reaching it with the web view's certificate."""
    return vouched_web(certificates, certificates / "access", *web_options, https=https)


PAGE = {"X-Qovix-Request": "1", "Content-Type": "application/json"}


class Passwords(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.web = signed_in_web("--passwords", str(certificates / "passwords"))

    @classmethod
    def tearDownClass(cls) -> None:
        cls.web.stop()

    def sign_in(self, user: str, password: str) -> tuple[int, dict[str, str], dict]:
        status, headers, body = self.web.request(
            "/api/session", "POST", json.dumps({"user": user, "password": password}).encode(),
            PAGE)
        return status, headers, json.loads(body)

    def cookie_of(self, user: str) -> dict[str, str]:
        status, headers, _ = self.sign_in(user, f"{user}'s secret")
        self.assertEqual(status, 200)
        return {"Cookie": headers["set-cookie"].split(";")[0]}

    def test_nothing_but_signing_in_answers_before_it(self) -> None:
        self.assertEqual(self.web.request("/api/repository")[0], 401)
        self.assertEqual(self.web.request("/api/changes/stream")[0], 401)
        self.assertEqual(self.web.get("/api/session"),
                         {"user": None, "signIn": "password", "access": "none"})
        self.assertEqual(self.sign_in("carol", "wrong")[0], 401)
        self.assertEqual(self.sign_in("mallory", "carol's secret")[0], 401)
        status, _, _ = self.web.request("/api/session", "POST",
                                        b'{"user": "carol", "password": "carol\'s secret"}',
                                        {"Content-Type": "application/json"})
        self.assertEqual(status, 403, "a sign-in needs the page's header, as every change")

    def test_a_session_cookie_is_secret_and_ends_at_sign_out(self) -> None:
        status, headers, said = self.sign_in("carol", "carol's secret")
        self.assertEqual((status, said["user"], said["access"]), (200, "carol", "write"))
        flags = {part.strip().lower() for part in headers["set-cookie"].split(";")[1:]}
        self.assertLessEqual({"httponly", "secure", "samesite=strict", "path=/"}, flags)
        cookie = {"Cookie": headers["set-cookie"].split(";")[0]}
        self.assertEqual(self.web.request("/api/repository", headers=cookie)[0], 200)
        self.assertEqual(self.web.request("/api/session", "DELETE", b"{}", {**PAGE, **cookie})[0],
                         200)
        self.assertEqual(self.web.request("/api/repository", headers=cookie)[0], 401)

    def test_the_file_is_read_again_and_a_spoilt_one_keeps_what_was_read(self) -> None:
        path = certificates / "passwords"
        kept = path.read_text()
        dave = self.cookie_of("dave")
        try:
            path.write_text(kept + "not a line\n")
            self.assertEqual(self.sign_in("carol", "carol's secret")[0], 200)
            path.write_text("".join(line for line in kept.splitlines(True)
                                    if not line.startswith("dave:")))
            self.assertEqual(self.web.request("/api/repository", headers=dave)[0], 401,
                             "taken out of the file: signed out")
        finally:
            path.write_text(kept)
        self.assertEqual(self.sign_in("dave", "dave's secret")[0], 200)

    def test_each_person_acts_as_themselves_and_a_reader_cannot_write(self) -> None:
        carol, dave = self.cookie_of("carol"), self.cookie_of("dave")
        found = json.loads(self.web.request("/api/search?name=Customer", headers=dave)[2])
        number = found["members"][0]["number"]
        rename = json.dumps({"name": "Client"}).encode()
        status, _, body = self.web.request(f"/api/elements/{number}", "PATCH", rename,
                                           {**PAGE, **dave})
        self.assertEqual(status, 403, body)
        self.assertEqual(self.web.request(f"/api/elements/{number}", "PATCH", rename,
                                          {**PAGE, **carol})[0], 200)
        history = json.loads(self.web.request(f"/api/elements/{number}/history",
                                              headers=dave)[2])
        self.assertEqual(history["commits"][0]["principal"], "user:carol")
        # Diagrams are drawn by qovix acting for the person too.
        package = json.loads(self.web.request("/api/search?name=Accounts&class=Package",
                                              headers=dave)[2])["members"][0]["number"]
        status, _, drawn = self.web.request(f"/api/elements/{package}/diagram.svg", headers=dave)
        self.assertEqual(status, 200, drawn[:300])
        self.assertIn(b"Client", drawn)
        self.assertEqual(json.loads(self.web.request("/api/session", headers=dave)[2])["access"],
                         "read")


class ProxyAndHttps(unittest.TestCase):
    def test_the_proxys_header_names_the_person_over_https(self) -> None:
        web = signed_in_web("--user-header", "X-Remote-User", https=True)
        try:
            self.assertTrue(web.url.startswith("https://"))
            self.assertEqual(web.request("/api/repository")[0], 401)
            dave = {"X-Remote-User": "dave"}
            self.assertEqual(web.get("/api/session", dave)["user"], "dave")
            self.assertEqual(web.request("/api/repository", headers=dave)[0], 200)
            # A rebound name's page sends the header too: the Host tells it.
            for header, value in (("X-Remote-User", "carol"), ("X-Qovix-Request", "1")):
                dave[header] = value
            rebound = {**dave, "Host": "evil.example"}
            self.assertEqual(web.request("/api/repository", headers=rebound)[0], 400)
            self.assertEqual(web.request("/api/elements/1/elements", "POST",
                                         b'{"kind": "Package", "name": "Planted"}',
                                         {**dave, "Host": "evil.example",
                                          "Content-Type": "application/json"})[0], 400)
            self.assertEqual(web.request("/api/repository",
                                         headers={"X-Remote-User": "not a name"})[0], 401)
            # Named, but given no access: not even the stream of changes.
            self.assertEqual(web.request("/api/changes/stream",
                                         headers={"X-Remote-User": "erin"})[0], 403)
        finally:
            web.stop()

    def test_off_loopback_people_must_sign_in_and_passwords_need_https(self) -> None:
        cases = [((), "without sign-in"),
                 (("--passwords", str(certificates / "passwords")), "over HTTPS alone")]
        for options, says in cases:
            with self.subTest(options=options):
                ran = subprocess.run([TOOL, "web", "--listen", "0.0.0.0:1", *options],
                                     capture_output=True, text=True, timeout=60)
                self.assertEqual(ran.returncode, 2)
                self.assertIn(says, ran.stderr)


class Starting(unittest.TestCase):
    def web(self, *options: str) -> subprocess.CompletedProcess:
        return subprocess.run([TOOL, "web", *options], capture_output=True, text=True, timeout=60)

    def test_what_cannot_work_is_refused_at_start_saying_why(self) -> None:
        passwords = ("--passwords", str(certificates / "passwords"))
        cases = [(passwords, "acting for a user takes a TLS connection with a certificate"),
                 (("--user-header", "X-Remote-User", "--ca", pem("ca")), "--cert FILE"),
                 (("--listen", "0.0.0.0:1", "--user-header", "X-Remote-User", "--cert", pem("web"),
                   "--key", pem("web-key")), "give --name HOST")]
        for options, says in cases:
            with self.subTest(options=options):
                ran = self.web(*options)
                self.assertEqual(ran.returncode, 2, ran.stderr)
                self.assertIn(says, ran.stderr)
                self.assertNotIn("Traceback", ran.stderr)

    def test_a_port_taken_is_said_so_and_no_line_says_it_serves(self) -> None:
        with socket.create_server(("127.0.0.1", 0)) as taken:
            port = taken.getsockname()[1]
            ran = self.web("--listen", f"127.0.0.1:{port}")
        self.assertEqual(ran.returncode, 1)
        self.assertIn(f"cannot serve on 127.0.0.1:{port}: the port is taken", ran.stderr)
        self.assertNotIn("shows the repository", ran.stdout)
        self.assertNotIn("Errno", ran.stderr)


class SigningInInTheBrowser(BrowserCase):
    @classmethod
    def make_web(cls) -> WebView:
        return signed_in_web("--passwords", str(certificates / "passwords"))

    def sign_in(self, user: str) -> None:
        self.open("/")
        self.wait_for("form.signin")
        self.browser.find_element(By.ID, "signin-user").send_keys(user)
        self.browser.find_element(By.ID, "signin-password").send_keys(f"{user}'s secret")
        self.keep("sign-in")
        self.click("form.signin button[type=submit]")
        self.wait_for("#who .user", user)

    def open_account(self) -> None:
        self.expand("Bank")
        self.expand("Accounts")
        self.tree_link("Account").click()
        self.wait_for("main h1 .name", "Account")

    def test_a_reader_sees_no_edit_controls_and_a_writer_does(self) -> None:
        self.sign_in("dave")
        self.assertEqual(self.wait_for("#who .badge").text, "read only")
        self.open_account()
        self.keep("read-only")
        for control in ("[data-action=rename]", "[data-action=create]", "[data-action=delete]",
                        "select[name=visibility]", "input[name=isAbstract]"):
            self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, control), [], control)
        self.click("[data-action=sign-out]")
        self.sign_in("carol")
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#who .badge"), [])
        self.open_account()
        self.wait_for("[data-action=rename]")
        self.wait_for("input[name=isAbstract]")
