"""The JSON API under /api/: elements by number with their features, pages
of contents, search by name, refusals that say why, and the headers every
answer carries."""

from __future__ import annotations

import json
import os
import unittest

from web_server import WebView

SAMPLES = os.path.join(os.path.dirname(__file__), "..", "platform", "xmi")


class Api(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        cls.web = WebView()
        cls.repo = cls.web.connect()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.repo.close()
        cls.web.stop()

    def number_of(self, name: str) -> int:
        return self.web.get(f"/api/search?name={name}")["members"][0]["number"]

    def test_an_element_has_each_feature_with_links(self) -> None:
        account = self.web.get(f"/api/elements/{self.number_of('Account')}")
        self.assertEqual((account["class"], account["name"]), ("Class", "Account"))
        features = {f["name"]: f for f in account["features"]}
        self.assertIs(features["isAbstract"]["value"], True)
        self.assertEqual(features["elemOwnershipVisibility"]["value"], "public")
        self.assertEqual([m["name"] for m in features["feature"]["members"]],
                         ["balance", "deposit", "withdraw"])
        self.assertIn("allSupertypes", account["queries"])
        savings = self.number_of("Savings")
        supertypes = self.web.get(f"/api/elements/{savings}/queries/allSupertypes")
        self.assertEqual([m["name"] for m in supertypes["members"]], ["Account"])

    def test_contents_come_a_page_at_a_time_in_order(self) -> None:
        package = self.repo.Package.create()
        package.name = "Many"
        for i in range(1010):
            made = self.repo.Class.create()
            made.name = f"C{i:04}"
            package.ownedElement.add(made)
        self.repo.Attribute.create().construct(made, "weight")  # the last holds something
        number = package.object_number
        # Past the first thousand, pages are read another way, alike.
        pages = [self.web.get(f"/api/elements/{number}/contents?offset={o}&limit=100")
                 for o in (0, 100, 900, 1000)]
        self.assertEqual([p["count"] for p in pages], [1010] * 4)
        names = [m["name"] for p in pages for m in p["members"]]
        self.assertEqual(names, [f"C{i:04}" for i in (*range(200), *range(900, 1010))])
        self.assertEqual([m["class"] for m in pages[3]["members"]], ["Class"] * 10)
        self.assertEqual([m["contains"] for m in pages[3]["members"]], [0] * 9 + [1])
        collection = self.web.get(f"/api/elements/{number}/features/ownedElement?offset=1000")
        self.assertEqual([m["name"] for m in collection["members"]],
                         [f"C{i}" for i in range(1000, 1010)])

    def test_pages_cost_the_same_calls_however_large_the_repository_grows(self) -> None:
        from qovix_web import elements

        account = self.repo.by_number(self.number_of("Account"))
        accounts = self.repo.by_number(self.number_of("Accounts"))

        def calls() -> list[int]:
            made = []
            for page in (lambda: elements.detail(account), lambda: elements.detail(accounts),
                         lambda: elements.contents(accounts, 0, 100),
                         lambda: list(self.repo.all_contents_pages(0)),
                         lambda: self.repo.search("acc")):
                before = self.repo.calls_made
                page()
                made.append(self.repo.calls_made - before)
            return made

        calls()  # the client's own first calls (releases it owes) out of the way
        small = calls()
        # 300 packages of 20 classes: 6,300 elements more, none near these.
        classes = "".join(f'<UML:Class xmi.id="p{{p}}c{c}" name="C{c}"/>' for c in range(20))
        packages = "".join(f'<UML:Package xmi.id="p{p}" name="Shelf{p}"><UML:Namespace.ownedElement>'
                           + classes.replace("{p}", str(p)) + "</UML:Namespace.ownedElement>"
                           "</UML:Package>" for p in range(300))
        imported = self.repo.import_model(  # kept: releasing it would be a call of its own
            ('<XMI xmi.version="1.2" xmlns:UML="org.omg.xmi.namespace.UML"><XMI.content>'
             f"{packages}</XMI.content></XMI>").encode())
        self.assertEqual(calls(), small)
        self.assertLessEqual(max(small), 8, small)
        del imported

    def test_refusals_say_why(self) -> None:
        for path, status, said in [
                ("/api/elements/999999", 404, "there is no element 999999"),
                (f"/api/elements/{self.number_of('Account')}/diagram.svg", 404, "no class diagram"),
                ("/api/search?name=x&class=Nothing", 404, "no model class 'Nothing'"),
                (f"/api/elements/{self.number_of('Account')}/queries/drop", 404, "no query 'drop'"),
                ("/api/elements/1/contents?limit=100000", 422, ""),
                ("/static/%00", 404, "Not Found")]:
            got, _, body = self.web.request(path)
            self.assertEqual(got, status, path)
            if said:
                self.assertIn(said, json.loads(body)["detail"], path)

    def test_a_rename_needs_the_pages_header(self) -> None:
        made = self.repo.Class.create()
        made.name = "Before"
        path = f"/api/elements/{made.object_number}"
        body = json.dumps({"name": "After"}).encode()
        status, _, said = self.web.request(path, "PATCH", body, {"Content-Type": "application/json"})
        self.assertEqual((status, json.loads(said)["detail"]),
                         (403, "a change needs the header X-Qovix-Request: 1"))
        self.assertEqual(made.name, "Before")
        status, _, said = self.web.request(path, "PATCH", body, {
            "Content-Type": "application/json", "X-Qovix-Request": "1"})
        self.assertEqual((status, json.loads(said)["name"]), (200, "After"))
        self.assertEqual(made.name, "After")

    def change(self, path: str, method: str, body: dict, from_the_page: bool = True):
        headers = {"Content-Type": "application/json"}
        if from_the_page:
            headers["X-Qovix-Request"] = "1"
        status, _, said = self.web.request(path, method, json.dumps(body).encode(), headers)
        return status, json.loads(said)

    def test_elements_are_made_where_they_belong_and_deleted_as_the_dry_run_said(self) -> None:
        package = self.repo.Package.create()
        package.name = "Made"
        number = package.object_number
        self.assertEqual(self.change(f"/api/elements/{number}/elements", "POST",
                                     {"class": "Attribute", "name": "x"}),
                         (400, {"detail": "an Attribute is made in a Classifier, not in a Package"}))
        self.assertEqual(self.change(f"/api/elements/{number}/elements", "POST",
                                     {"class": "Class", "name": "C"}, False)[0], 403)
        status, made = self.change(f"/api/elements/{number}/elements", "POST",
                                   {"class": "Class", "name": "C"})
        self.assertEqual((status, made["class"], made["owner"]["number"]), (201, "Class", number))
        status, attribute = self.change(f"/api/elements/{made['number']}/elements", "POST",
                                        {"class": "Attribute", "name": "x"})
        self.assertEqual(status, 201)
        self.assertEqual(self.change(f"/api/elements/{made['number']}", "PATCH",
                                     {"visibility": "private"})[0], 400)
        status, changed = self.change(f"/api/elements/{attribute['number']}", "PATCH",
                                      {"visibility": "private"})
        self.assertEqual([f["value"] for f in changed["features"] if f["name"] == "visibility"],
                         ["private"])
        would = self.web.get(f"/api/elements/{number}/deletion")
        self.assertEqual(would, {"count": 3, "classes": {"Package": 1, "Class": 1, "Attribute": 1}})
        self.assertEqual(self.change(f"/api/elements/{number}", "DELETE", {}, False)[0], 403)
        self.assertEqual(self.change(f"/api/elements/{number}", "DELETE", {}), (200, {"deleted": 3}))
        self.assertEqual(self.web.request(f"/api/elements/{made['number']}")[0], 404)

    def test_classes_are_generalized_and_associated_with_their_multiplicities(self) -> None:
        account, customer = self.number_of("Account"), self.number_of("Customer")
        savings = self.number_of("Savings")
        refusals = [(account, {"supertype": savings}, 400, "may not go round"),
                    (account, {"supertype": account}, 400, "may not go round"),
                    (savings, {"supertype": account}, 409, "already"),
                    (account, {"supertype": self.number_of("Accounts")}, 400, "its own kind"),
                    (account, {"supertype": self.number_of("balance")}, 400, "no supertypes")]
        for below, body, status, says in refusals:
            got, said = self.change(f"/api/elements/{below}/generalizations", "POST", body)
            self.assertEqual(got, status, said)
            self.assertIn(says, said["detail"])
        status, link = self.change(f"/api/elements/{customer}/generalizations", "POST",
                                   {"supertype": account})
        self.assertEqual(status, 201, link)
        features = {f["name"]: f for f in self.web.get(f"/api/elements/{customer}")["features"]}
        self.assertEqual([m["number"] for m in features["generalization"]["members"]],
                         [link["number"]])
        supertypes = self.web.get(f"/api/elements/{customer}/queries/allSupertypes")
        self.assertEqual([m["name"] for m in supertypes["members"]], ["Account"])

        made = {"other": account, "name": "owns", "ends": [{"name": "owner", "multiplicity": "1"},
                                                           {"name": "", "multiplicity": "0..*"}]}
        def made_so_far() -> int:
            return self.web.get("/api/repository")["lastCommit"]

        before = made_so_far()
        for wrong in ("*..3", "3..1", "x", "1,,2", "1..\u0665"):
            bad = {**made, "ends": [made["ends"][0], {"name": "", "multiplicity": wrong}]}
            self.assertEqual(self.change(f"/api/elements/{customer}/associations", "POST",
                                         bad)[0], 400, wrong)
        self.assertEqual(made_so_far(), before, "nothing of a refused association stays")
        status, association = self.change(f"/api/elements/{customer}/associations", "POST", made)
        self.assertEqual((status, association.get("name"), association.get("owner", {}).get("name")),
                         (201, "owns", "Accounts"), association)
        ends = next(f for f in association["features"] if f["name"] == "connection")["members"]
        texts = []
        for end in ends:
            shown = {f["name"]: f for f in self.web.get(f"/api/elements/{end['number']}")["features"]}
            texts.append((shown["type"]["object"]["name"], shown["multiplicity"]["text"]))
        self.assertEqual(texts, [("Customer", "1"), ("Account", "0..*")])
        status, changed = self.change(f"/api/elements/{ends[1]['number']}", "PATCH",
                                      {"multiplicity": "1..3, 5"})
        self.assertEqual([f["text"] for f in changed["features"] if f["name"] == "multiplicity"],
                         ["1..3,5"])
        self.assertEqual(self.change(f"/api/elements/{account}", "PATCH",
                                     {"multiplicity": "1"})[0], 400, "a class has none")

    def test_documents_come_in_and_go_out_and_commits_are_undone(self) -> None:
        with open(os.path.join(SAMPLES, "uml14_xmi12_magicdraw_style.xmi"), "rb") as sample:
            document = sample.read()
        headers = {"Content-Type": "application/octet-stream", "X-Qovix-Request": "1"}
        status, _, said = self.web.request("/api/import?name=shop.xmi", "POST", document, headers)
        imported = json.loads(said)
        self.assertEqual((status, imported["package"]["name"]), (201, "Shop"), imported)
        self.assertIn("XMI 1.2, UML 1.4", imported["report"])
        status, _, said = self.web.request(
            f"/api/import?name=shop.xmi&into={self.number_of('Account')}", "POST", document, headers)
        self.assertEqual((status, json.loads(said)["detail"]),
                         (400, "a document is imported into a package, not into a Class"))
        status, headers_out, written = self.web.request(
            f"/api/elements/{imported['package']['number']}/export?format=xmi%201.0")
        self.assertEqual(status, 200)
        self.assertIn(b'xmi.version="1.0"', written[:400])
        self.assertEqual(headers_out["content-disposition"], 'attachment; filename="Shop.xmi"')

        shop = imported["package"]["number"]
        self.change(f"/api/elements/{shop}", "PATCH", {"name": "Renamed"})
        last = self.web.get("/api/repository")["lastCommit"]
        self.assertEqual(self.change(f"/api/commits/{last}/undo", "POST", {}, False)[0], 403)
        status, undone = self.change(f"/api/commits/{last}/undo", "POST", {})
        self.assertEqual(status, 200)
        self.assertGreater(undone["commit"], last)
        self.assertEqual(self.web.get(f"/api/elements/{shop}")["name"], "Shop")
        status, refused = self.change(f"/api/commits/{last}/undo", "POST", {})
        self.assertEqual(status, 409, refused)

    def test_a_history_comes_a_page_at_a_time_and_whole(self) -> None:
        with self.web.connect() as repo:
            renamed = repo.Package.create()
            for i in range(7):
                renamed.name = f"Paged{i}"
            number = renamed.object_number
            whole = [c.seq for c in repo.history_of(number)]
        seen: list[int] = []
        before = 0
        while True:
            page = self.web.get(f"/api/elements/{number}/history?limit=3&before={before}")
            self.assertLessEqual(len(page["commits"]), 3)
            seen += [c["seq"] for c in page["commits"]]
            if page["next"] is None:
                break
            before = page["next"]
        self.assertEqual(seen, whole)
        self.assertGreaterEqual(len(whole), 8)

    def test_another_sites_name_for_it_is_refused(self) -> None:
        # A site whose name it made resolve to 127.0.0.1 (DNS rebinding)
        # would otherwise be the web view's own origin.
        for host, status in (("evil.example", 400), ("localhost", 200), ("127.0.0.1", 200)):
            got, _, _ = self.web.request("/api/repository", headers={"Host": host})
            self.assertEqual(got, status, host)

    def test_every_answer_keeps_scripts_and_frames_out(self) -> None:
        for path in ("/", "/api/repository", "/api/docs", "/element/1", "/api/elements/999999"):
            _, headers, _ = self.web.request(path)
            self.assertIn("default-src 'self'", headers["content-security-policy"], path)
            self.assertEqual(headers["x-content-type-options"], "nosniff", path)
            self.assertEqual(headers["x-frame-options"], "DENY", path)

    def test_the_api_is_described_and_documented(self) -> None:
        described = self.web.get("/api/openapi.json")
        for path in ("/api/elements/{number}", "/api/elements/{number}/contents", "/api/search",
                     "/api/elements/{number}/diagram.svg", "/api/commits"):
            self.assertIn(path, described["paths"])
        status, headers, page = self.web.request("/api/docs")
        self.assertEqual(status, 200)
        self.assertIn("<code>/api/elements/{number}/contents</code>", page.decode())


if __name__ == "__main__":
    unittest.main()
