"""The web view in a real browser (headless Chromium): the demo model
opened, walked through and searched, its diagram clicked through, names
that hold markup shown as text, and pages a keyboard and a phone can use.
Screenshots of the main pages go to QOVIX_SCREENSHOTS."""

from __future__ import annotations

import os
import re
import subprocess
import unittest

from selenium.common.exceptions import (ElementNotInteractableException, InvalidElementStateException,
                                        NoSuchElementException, StaleElementReferenceException)
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support import expected_conditions as shown
from selenium.webdriver.support.ui import Select, WebDriverWait

from headless_chromium import headless_chromium
from web_server import WebView

# What a field found a moment before a change drew the page anew answers.
REDRAWN = (StaleElementReferenceException, NoSuchElementException, ElementNotInteractableException,
           InvalidElementStateException)

SAMPLES = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "platform", "xmi"))
HOSTILE = '<script>window.pwned=1</script><img src=x onerror="window.pwned=2">'


class BrowserCase(unittest.TestCase):
    """Headless Chromium on a web view that make_web starts."""

    @classmethod
    def make_web(cls) -> WebView:
        return WebView()

    @classmethod
    def setUpClass(cls) -> None:
        cls.web = cls.make_web()
        try:
            cls.browser = headless_chromium()
        except Exception:
            cls.web.stop()
            raise
        cls.screenshots = os.environ.get("QOVIX_SCREENSHOTS")
        if cls.screenshots:
            os.makedirs(cls.screenshots, exist_ok=True)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.browser.quit()
        cls.web.stop()

    def setUp(self) -> None:
        self.browser.set_window_size(1280, 900)

    def open(self, path: str) -> None:
        self.browser.get(self.web.url + path)

    def wait_for(self, css: str, text: str | None = None):
        # Generous: a bound on an event, which a busy machine may take long to see.
        wait = WebDriverWait(self.browser, 30)
        if text is None:
            return wait.until(shown.visibility_of_element_located((By.CSS_SELECTOR, css)))
        wait.until(shown.text_to_be_present_in_element((By.CSS_SELECTOR, css), text))
        return self.browser.find_element(By.CSS_SELECTOR, css)

    def click(self, css: str) -> None:
        """Clicks what `css` finds, found again when a change just drew the
        page anew under it."""
        WebDriverWait(self.browser, 15, ignored_exceptions=REDRAWN).until(
            lambda b: b.find_element(By.CSS_SELECTOR, css).click() or True)

    def settle(self) -> None:
        """Waits until the page has drawn every commit made so far and is
        drawing nothing: a change (this page's own, or the stream's) draws
        the view anew, and what was found before it is gone."""
        with self.web.connect() as repo:
            last = repo.last_commit()
        WebDriverWait(self.browser, 15).until(lambda browser: browser.execute_script(
            "const page = document.documentElement.dataset;"
            "return !page.drawing && Number(page.commit || 0) >= arguments[0];", last))

    def type_into(self, css: str, text: str) -> None:
        """Types `text` and Enter into the field `css` finds, found again
        while a change just drew the page anew (a field then is briefly
        detached or not yet shown)."""
        def typed(browser) -> bool:
            browser.find_element(By.CSS_SELECTOR, css).send_keys(text, Keys.ENTER)
            return True
        self.settle()
        WebDriverWait(self.browser, 15, ignored_exceptions=REDRAWN).until(typed)

    def create_here(self, kind: str, name: str) -> None:
        """Makes a `kind` named `name` in the element shown, by its form,
        filled again from the start when a change draws the page anew."""
        def fill(browser) -> bool:
            forms = [f for f in browser.find_elements(By.CSS_SELECTOR, "form.create")
                     if f.is_displayed()]
            if not forms:
                browser.find_element(By.CSS_SELECTOR, "[data-action=create]").click()
                forms = [browser.find_element(By.CSS_SELECTOR, "form.create")]
            Select(forms[0].find_element(By.NAME, "class")).select_by_value(kind)
            field = forms[0].find_element(By.NAME, "name")
            field.clear()
            field.send_keys(name, Keys.ENTER)
            return True
        self.settle()
        WebDriverWait(self.browser, 15, ignored_exceptions=REDRAWN).until(fill)

    def keep(self, name: str) -> None:
        if self.screenshots:
            self.browser.save_screenshot(os.path.join(self.screenshots, name + ".png"))

    def tree_link(self, name: str):
        """The tree's link to the element named `name` (its class shown first)."""
        return WebDriverWait(self.browser, 15).until(
            lambda b: next((a for a in b.find_elements(By.CSS_SELECTOR, "#tree a")
                            if a.find_element(By.CLASS_NAME, "name").text == name), None))

    def expand(self, name: str) -> None:
        link = self.tree_link(name)
        toggle = link.find_element(By.XPATH, "preceding-sibling::button")
        toggle.click()


class Browser(BrowserCase):
    def focused_name(self) -> str:
        return self.browser.switch_to.active_element.get_attribute("data-name")

    def press(self, *keys: str) -> None:
        self.browser.switch_to.active_element.send_keys(*keys)

    def test_arrows_home_end_and_typing_move_in_the_tree_as_its_pattern_says(self) -> None:
        self.open("/")
        self.wait_for("main h1", "The repository")
        top = self.wait_for("#tree > [role=treeitem][data-name=Bank]")
        self.browser.execute_script("arguments[0].focus()", top)
        self.press(Keys.ARROW_RIGHT)  # opens Bank
        WebDriverWait(self.browser, 15).until(lambda b: top.get_attribute("aria-expanded") == "true")
        self.tree_link("Accounts")
        self.press(Keys.ARROW_DOWN)
        self.assertEqual(self.focused_name(), "Accounts")
        self.press(Keys.ARROW_RIGHT)
        self.tree_link("Savings")
        self.press(Keys.ARROW_RIGHT)  # open: to its first child
        self.assertEqual(self.focused_name(), "Customer")
        self.press("sa")  # type-ahead: the next whose name begins so
        self.assertEqual(self.focused_name(), "Savings")
        self.press(Keys.END)
        self.assertEqual(self.focused_name(), "holds")
        self.press(Keys.ARROW_LEFT)  # a leaf: to its parent
        self.assertEqual(self.focused_name(), "Accounts")
        self.press(Keys.HOME)
        self.assertEqual(self.focused_name(), "Bank")
        self.press(Keys.ARROW_LEFT)  # open: closes
        self.assertEqual(top.get_attribute("aria-expanded"), "false")
        self.press(Keys.ENTER)  # its page
        self.wait_for("main h1 .name", "Bank")

    def test_a_large_packages_diagram_opens_with_boxes_one_can_read(self) -> None:
        with self.web.connect() as repo:
            package = self.make_scratch(repo, "Warehouse")
            for index in range(300):
                made = repo.Class.create()
                made.construct(package, f"Item{index:03}")
                if index % 3 == 0:
                    repo.Attribute.create().construct(made, "weight")
            number = package.object_number
        self.open(f"/element/{number}")
        self.wait_for("main h1 .name", "Warehouse")
        WebDriverWait(self.browser, 60).until(
            lambda b: b.find_elements(By.CSS_SELECTOR, ".diagram svg g.node text"))
        self.keep("large-diagram")
        # The rendered size of a class's name, at the frame's width.
        size = self.browser.execute_script("""
            const text = [...document.querySelectorAll('.diagram svg g.node text')]
              .find((t) => t.textContent === 'Item150');
            return parseFloat(text.getAttribute('font-size')) * text.getScreenCTM().a;""")
        self.assertGreaterEqual(size, 8.0)

    def test_the_history_shows_each_change_before_and_after(self) -> None:
        with self.web.connect() as repo:
            package = self.make_scratch(repo, "Drafts")
            package.name = "Plans"
            number = package.object_number
        self.open(f"/element/{number}")
        self.wait_for("main h1 .name", "Plans")
        self.click("[data-action=history]")
        row = self.wait_for("ol.history li.commit .change .after", '"Plans"')
        change = row.find_element(By.XPATH, "..")
        self.assertEqual(change.text, 'name "Drafts" → "Plans"')
        commits = self.browser.find_elements(By.CSS_SELECTOR, "ol.history li.commit")
        self.assertEqual(len(commits[0].find_elements(By.CSS_SELECTOR, "[data-action=undo]")), 1)
        # The commit before changed the same name: its undo cannot apply.
        naming = [c for c in commits if '→ "Drafts"' in c.text]
        self.assertEqual(len(naming), 1)
        self.assertEqual(naming[0].find_elements(By.CSS_SELECTOR, "[data-action=undo]"), [])

    def test_the_tree_leads_to_account_whose_page_has_an_address_of_its_own(self) -> None:
        self.open("/")
        self.wait_for("main h1", "The repository")
        self.keep("home")
        self.expand("Bank")
        self.expand("Accounts")
        self.tree_link("Account").click()
        heading = self.wait_for("main h1 .name", "Account")
        self.assertEqual(heading.text, "Account")
        def named(label: str) -> list[str]:
            row = self.browser.find_element(By.CSS_SELECTOR, f"tr[data-property='{label}']")
            return [n.text for n in row.find_elements(By.CSS_SELECTOR, "a .name")]
        self.assertEqual(named("Attributes"), ["balance"])
        self.assertEqual(named("Operations"), ["deposit", "withdraw"])
        self.assertEqual(self.browser.find_element(By.CSS_SELECTOR, "nav.breadcrumb").text,
                         f"Bank › Accounts · object {self.browser.current_url.rsplit('/', 1)[1]}")
        # Every feature of the metamodel is a toggle away.
        every = self.browser.find_element(By.CSS_SELECTOR, "details.all-features")
        self.assertIsNone(every.get_attribute("open"))
        self.click("details.all-features summary")
        self.assertIsNotNone(every.get_attribute("open"))
        self.assertTrue(self.browser.find_element(
            By.CSS_SELECTOR, "tr[data-feature='elemOwnershipVisibility']").is_displayed())
        self.keep("element")
        address = self.browser.current_url
        self.assertRegex(address, r"/element/\d+$")
        self.open("/")  # a colleague opens the address sent
        self.browser.get(address)
        self.wait_for("main h1", "Account")

    def test_a_class_box_of_the_diagram_opens_its_page(self) -> None:
        accounts = self.web.get("/api/search?name=Accounts")["members"][0]["number"]
        self.open(f"/element/{accounts}")
        self.wait_for(".diagram svg")
        self.keep("diagram")
        box = next(a for a in self.browser.find_elements(By.CSS_SELECTOR, ".diagram svg a")
                   if "Savings" in a.get_attribute("textContent"))
        self.browser.execute_script("arguments[0].dispatchEvent(new MouseEvent('click', "
                                    "{bubbles: true, cancelable: true}))", box)
        self.wait_for("main h1", "Savings")
        self.assertRegex(self.browser.current_url, r"/element/\d+$")

    def test_changes_made_elsewhere_show_without_a_reload(self) -> None:
        with self.web.connect() as repo:
            savings = repo.Class.find(name="Savings")[0]
            self.open(f"/element/{savings.object_number}")
            self.wait_for("main h1 .name", "Savings")
            self.browser.execute_script("window.notReloaded = true")
            subprocess.run([os.environ["QOVIX_TOOL"], "--port", str(self.web.server.port), "call",
                            "ModelElement", "set_name_0", f"#{savings.object_number}", "Saver"],
                           check=True, capture_output=True)
            try:
                # The page draws the change anew: a heading found just before
                # it goes is found again.
                WebDriverWait(self.browser, 10, ignored_exceptions=REDRAWN).until(
                    lambda b: b.find_element(By.CSS_SELECTOR, "main h1 .name").text == "Saver")
                self.assertTrue(self.browser.execute_script("return window.notReloaded"))
            finally:
                savings.name = "Savings"
            self.wait_for("main h1 .name", "Savings")
            # A new top-level package joins the tree, and leaves it for an owner.
            arrived = repo.Package.create()
            arrived.name = "Arrived"
            self.tree_link("Arrived")
            self.assertTrue(self.browser.execute_script("return window.notReloaded"))
            arrived.construct("Arrived", repo.Model.find(name="Bank")[0])
            arrived.namespace1.add(repo.Model.find(name="Bank")[0])
            WebDriverWait(self.browser, 10, ignored_exceptions=REDRAWN).until(lambda b: not [
                a for a in b.find_elements(By.CSS_SELECTOR, "#tree > li > a .name")
                if a.text == "Arrived"])

    def test_a_class_renamed_in_the_browser_is_renamed_for_qovix(self) -> None:
        customer = self.web.get("/api/search?name=Customer&class=Class")["members"][0]["number"]
        self.open(f"/element/{customer}")
        self.wait_for("main h1 .name", "Customer")
        self.browser.find_element(By.CSS_SELECTOR, "[data-action=rename]").click()
        field = self.browser.find_element(By.CSS_SELECTOR, "form.rename input[name=name]")
        field.clear()
        field.send_keys("Client", Keys.ENTER)
        self.wait_for("main h1 .name", "Client")
        self.keep("renamed")
        tree = subprocess.run([os.environ["QOVIX_TOOL"], "--port", str(self.web.server.port),
                               "tree"], capture_output=True, text=True, check=True).stdout
        self.assertIn("Class Client", tree)
        self.assertNotIn("Class Customer", tree)

    def make_scratch(self, repo, name: str):
        """A top-level package of the test's own."""
        package = repo.Package.create()
        package.name = name
        return package

    def test_deleting_shows_what_goes_and_waits_for_a_yes(self) -> None:
        with self.web.connect() as repo:
            package = self.make_scratch(repo, "Scratch")
            doomed = repo.Class.create()
            doomed.construct(package, "Doomed")
            doomed.namespace1.add(package)  # its owner, which the page goes back to
            repo.Attribute.create().construct(doomed, "x")
            number, owner = doomed.object_number, package.object_number
        self.open(f"/element/{number}")
        self.wait_for("main h1 .name", "Doomed")
        self.browser.find_element(By.CSS_SELECTOR, "[data-action=delete]").click()
        said = self.wait_for(".confirm p", "deletes 2 objects")
        self.assertIn("1 Attribute", said.text)
        self.keep("delete")
        self.browser.find_element(By.CSS_SELECTOR, ".confirm [data-action=cancel]").click()
        self.assertEqual(self.web.get(f"/api/elements/{number}")["name"], "Doomed")
        self.browser.find_element(By.CSS_SELECTOR, "[data-action=delete]").click()
        self.wait_for(".confirm [data-action=confirm]").click()
        WebDriverWait(self.browser, 15).until(
            lambda b: b.current_url.endswith(f"/element/{owner}"))
        self.assertEqual(self.web.request(f"/api/elements/{number}")[0], 404)
        listed = subprocess.run([os.environ["QOVIX_TOOL"], "--port", str(self.web.server.port),
                                 "ls", "Class"], capture_output=True, text=True, check=True).stdout
        self.assertNotIn("Doomed", listed)

    def test_making_a_class_and_an_attribute_and_setting_them(self) -> None:
        with self.web.connect() as repo:
            package = self.make_scratch(repo, "Workshop").object_number
        self.open(f"/element/{package}")
        self.wait_for("main h1 .name", "Workshop")
        self.create_here("Class", "Made")
        self.wait_for("main h1 .name", "Made")
        made = int(self.browser.current_url.rsplit("/", 1)[1])
        self.settle()
        self.click("input[name=isAbstract]")
        WebDriverWait(self.browser, 15).until(lambda b: next(
            f["value"] for f in self.web.get(f"/api/elements/{made}")["features"]
            if f["name"] == "isAbstract"))
        self.create_here("Attribute", "size")
        self.wait_for("main h1 .name", "size")
        attribute = int(self.browser.current_url.rsplit("/", 1)[1])
        self.settle()
        Select(self.wait_for("select[name=visibility]")).select_by_value("private")
        WebDriverWait(self.browser, 15).until(lambda b: next(
            f["value"] for f in self.web.get(f"/api/elements/{attribute}")["features"]
            if f["name"] == "visibility") == "private")
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "[data-action=generalize]"),
                         [], "an attribute takes no supertype")
        self.type_into("input[name=multiplicity]", "0..*")
        WebDriverWait(self.browser, 15).until(lambda b: next(
            f["text"] for f in self.web.get(f"/api/elements/{attribute}")["features"]
            if f["name"] == "multiplicity") == "0..*")
        self.keep("made")
        owner = self.web.get(f"/api/elements/{made}")
        features = {f["name"]: f for f in owner["features"]}
        self.assertEqual([m["name"] for m in features["feature"]["members"]], ["size"])

        # A supertype by name, an association with a class by number.
        self.open(f"/element/{made}")
        self.click("[data-action=generalize]")
        self.wait_for("form.generalize input[name=supertype]").send_keys("Account", Keys.ENTER)
        WebDriverWait(self.browser, 15).until(lambda b: [
            m["name"] for m in self.web.get(f"/api/elements/{made}/queries/allSupertypes")["members"]
        ] == ["Account"])
        savings = self.web.get("/api/search?name=Savings&class=Class")["members"][0]["number"]
        self.click("[data-action=associate]")
        form = self.wait_for("form.associate")
        form.find_element(By.NAME, "other").send_keys(f"#{savings}")
        form.find_element(By.NAME, "association").send_keys("keeps")
        form.find_element(By.NAME, "there").send_keys("0..1", Keys.ENTER)
        self.wait_for("main h1 .name", "keeps")
        self.keep("association")
        ends = next(f for f in self.web.get(self.browser.current_url.replace(
            self.web.url + "/element/", "/api/elements/"))["features"] if f["name"] == "connection")
        shown = [{f["name"]: f for f in self.web.get(f"/api/elements/{m['number']}")["features"]}
                 for m in ends["members"]]
        self.assertEqual([(e["type"]["object"]["number"], e["multiplicity"]["text"]) for e in shown],
                         [(made, ""), (savings, "0..1")])

    def test_a_document_uploaded_is_imported_and_its_report_shown(self) -> None:
        self.open("/")
        self.wait_for("main h1", "The repository")
        self.click("[data-action=import]")
        self.browser.find_element(By.CSS_SELECTOR, "form.import input[type=file]").send_keys(
            os.path.join(SAMPLES, "uml13_xmi11_rose_style.xmi"))
        self.browser.find_element(By.CSS_SELECTOR, "form.import button[type=submit]").click()
        report = self.wait_for(".report pre", "XMI 1.1, UML 1.3")
        self.assertIn("imported", report.text)
        self.keep("imported")
        self.click(".report a[data-number]")
        self.wait_for("main h1 .name", "Orders")

    def test_search_by_name(self) -> None:
        self.open("/")
        # Typed as the other forms are, once the page has drawn its first
        # view and settled: on a loaded machine the search, typed while the
        # page was still starting, was once not seen within 30 s.
        self.wait_for("main h1", "The repository")
        self.type_into("#search-name", "checkin")  # in any letter case, by its beginning
        self.wait_for("main h1", "checkin")
        self.wait_for("main .hits li[data-match=prefix]", "in Bank::Accounts")
        self.keep("search")
        # The hit named so, found again while the list may still be drawn,
        # and clicked again until its page opens: a click on a link the list
        # redraws just then is lost.
        def opened_the_hit(browser) -> bool:
            if re.search(r"/element/\d+$", browser.current_url):
                return True
            for link in browser.find_elements(By.CSS_SELECTOR, "main a[data-number]"):
                if "Checking" in link.text:
                    link.click()
                    break
            return bool(re.search(r"/element/\d+$", browser.current_url))
        WebDriverWait(self.browser, 30, ignored_exceptions=REDRAWN).until(opened_the_hit)
        self.wait_for("main h1", "Checking")

    def test_a_name_holding_markup_is_shown_as_text(self) -> None:
        with self.web.connect() as repo:
            accounts = repo.Package.find(name="Accounts")[0]
            hostile = repo.Class.create()
            hostile.name = HOSTILE
            accounts.ownedElement.add(hostile)
            number, package = hostile.object_number, accounts.object_number
        self.open(f"/element/{number}")
        heading = self.wait_for("main h1 .name", "window.pwned")
        self.assertEqual(heading.text, HOSTILE)
        self.open(f"/element/{package}")
        self.wait_for(".diagram svg")
        self.browser.find_element(By.ID, "search-name").send_keys(HOSTILE, Keys.ENTER)
        self.wait_for("main .card a", "window.pwned")
        self.assertIsNone(self.browser.execute_script("return window.pwned"))
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "main img, main script"), [])

    def test_a_keyboard_opens_the_tree_and_a_phone_sees_it_above_the_page(self) -> None:
        self.open("/")
        self.wait_for("#tree button.toggle").send_keys(Keys.ENTER)
        WebDriverWait(self.browser, 15).until(
            lambda b: b.find_element(By.CSS_SELECTOR, "#tree button.toggle")
            .get_attribute("aria-expanded") == "true")
        self.tree_link("Accounts")
        self.browser.set_window_size(390, 800)
        tree = self.browser.find_element(By.CSS_SELECTOR, "nav.tree").rect
        page = self.browser.find_element(By.ID, "view").rect
        self.assertLessEqual(tree["y"] + tree["height"], page["y"] + 1)
        self.assertLessEqual(self.browser.execute_script(
            "return document.documentElement.scrollWidth"), 390, "it scrolls sideways")
        self.keep("phone")


if __name__ == "__main__":
    unittest.main()
