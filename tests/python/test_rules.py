"""The rules both languages judge text by, held to one table each
(tests/rules): qovixd's own judgement, and the Python client's, which the
web view asks before it makes anything."""

from __future__ import annotations

import os
import unittest

import qovix
from live_server import Server

RULES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "rules")


def table(name: str) -> list[list[str]]:
    with open(os.path.join(RULES, name), encoding="utf-8") as rows:
        return [line.rstrip("\n").split("\t") for line in rows
                if line.strip() and not line.startswith("#")]


class RulesTest(unittest.TestCase):
    def test_a_multiplicity_is_judged_alike_by_qovixd_and_the_client(self) -> None:
        server = Server()
        try:
            with server.connect() as repo:
                owner = repo.Class.create()
                attribute = repo.Attribute.create()
                attribute.construct(owner, "amount")
                for verdict, text, *shown in table("multiplicities.txt"):
                    with self.subTest(text=text):
                        if verdict == "good":
                            self.assertTrue(qovix.multiplicity_ranges(text))
                            repo.set_multiplicity(attribute, text)
                            self.assertEqual(attribute.multiplicity.getValue(), shown[0])
                        else:
                            self.assertRaises(ValueError, qovix.multiplicity_ranges, text)
                            with self.assertRaisesRegex(ValueError, "no multiplicity"):
                                repo.set_multiplicity(attribute, text)
        finally:
            server.stop()

    def test_a_user_name_is_judged_by_the_protocols_rule(self) -> None:
        for verdict, name in table("user_names.txt"):
            with self.subTest(name=name):
                self.assertEqual(qovix.is_user_name(name), verdict == "good")

    def test_a_class_name_reads_without_the_models_prefix(self) -> None:
        for name, short in table("class_names.txt"):
            self.assertEqual(qovix.short_class_name(name), short, name)


if __name__ == "__main__":
    unittest.main()
