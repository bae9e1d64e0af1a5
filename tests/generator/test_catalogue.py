"""The generator on tiny catalogues, sound and broken, and on the real one.

The tiny catalogues take their data types and member templates from the real
catalogue and declare classes of their own."""

import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from qovixgen.catalogue import parse
from qovixgen.catalogue_records import CatalogueError
from qovixgen.emitters import EMITTERS, PROTOCOL_EMITTERS
from qovixgen.numbering import number_classes
from qovixgen.protocol import load as load_protocol
from qovixgen.protocol import parse as parse_protocol

ROOT = Path(__file__).resolve().parents[2]
GENERATOR = ROOT / "schema" / "generator" / "generate.py"
REAL_CATALOGUE = ROOT / "schema" / "catalogue.txt"
PROTOCOL_TEXT = (ROOT / "protocol" / "protocol.txt").read_text()
REAL_PROTOCOL = load_protocol(ROOT / "protocol" / "protocol.txt")


def protocol_emit(name, catalogue, classes, protocol=REAL_PROTOCOL):
    return PROTOCOL_EMITTERS[name](protocol, catalogue, classes)

# The hidden slot every object has, without its XMI names (of classes the
# tiny catalogues do not declare).
PRELUDE = "".join(re.sub(r"^(hidden \w+: \w+) .*", r"\1", line) + "\n"
                  for line in REAL_CATALOGUE.read_text().splitlines()
                  if line.startswith(("datatype ", "member ")) or
                  (line.startswith("hidden ") and " on " not in line))
PRELUDE_LINES = PRELUDE.count("\n")

# One class with every kind of feature, a gap and a labelled operation.
EVERY_KIND = """
class 1 QOVIXThing highest 62 unassigned 49
  attribute label: QOVIXName
  attribute count: QOVIXInteger
  single owner -> QOVIXThing
  readonly shape -> QOVIXThing
  set tags: QOVIXThing
  list order: QOVIXThing const
  array slots: QOVIXThing
  values notes: QOVIXString
  operation construct(QOVIXThing&, QOVIXName) body construct
  operation construct(QOVIXName, QOVIXThing&) label construct1 body construct
  find _find__1 _find__2
class 2 QOVIXPlain highest 10
  operation construct(VornMetaModel&, QOVIXThing&) body construct
"""


def tiny(classes: str):
    return parse(PRELUDE + classes, "tiny.txt")


def numbered(classes: str):
    catalogue = tiny(classes)
    return catalogue, number_classes(catalogue)


class EveryFeatureKind(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.catalogue, cls.classes = numbered(EVERY_KIND)
        cls.thing = cls.classes[0]

    def slot(self, number):
        return self.thing.slots[number - 1]

    def assertProcedure(self, number, suffix, member, argument, result):
        procedure = self.slot(number)
        self.assertIsNotNone(procedure, number)
        self.assertEqual(procedure.label, f"QOVIXThing_{suffix}")
        self.assertEqual(procedure.member_text, member)
        self.assertEqual((procedure.argument, procedure.result), (argument, result))

    def test_head_comes_first(self):
        self.assertProcedure(1, "create_0", "QOVIXThing()", "xdr_void", "X_InteropHandle")
        self.assertProcedure(2, "create_1", "QOVIXThing(VORN&)", "X_InteropHandle",
                             "X_InteropHandle")
        self.assertProcedure(3, "create_2", "QOVIXThing(QOVIXThing const&, int)", "X_HandleInt",
                             "X_InteropHandle")
        self.assertProcedure(4, "destroy_0", "~QOVIXThing()", "X_InteropHandle", "xdr_void")

    def test_attributes_take_two_numbers_each(self):
        self.assertProcedure(5, "get_label_0", "QOVIXName get_label() const", "X_InteropHandle",
                             "X_VornDataType")
        self.assertProcedure(8, "set_count_0", "void set_count(QOVIXInteger)", "X_HandleValue",
                             "xdr_void")

    def test_single_and_read_only_references(self):
        self.assertProcedure(9, "get_owner_0", "QOVIXThing get_owner() const", "X_InteropHandle",
                             "X_InteropHandle")
        self.assertProcedure(10, "isNull_owner_0", "int isNull_owner() const", "X_InteropHandle",
                             "X_udt_boolean")
        self.assertProcedure(11, "set_owner_0", "void set_owner(QOVIXThing&)", "X_HandleHandle",
                             "xdr_void")
        self.assertProcedure(12, "flush_owner_0", "void flush_owner()", "X_InteropHandle",
                             "xdr_void")
        self.assertProcedure(13, "get_shape_0", "QOVIXThing get_shape() const", "X_InteropHandle",
                             "X_InteropHandle")
        self.assertProcedure(14, "isNull_shape_0", "int isNull_shape() const", "X_InteropHandle",
                             "X_udt_boolean")

    def test_collections_take_ten_numbers(self):
        self.assertProcedure(15, "get_tags_0", "VornSet<QOVIXThing> get_tags() const",
                             "X_InteropHandle", "X_InteropHandle")
        self.assertProcedure(16, "get_tags_1", "QOVIXThing get_tags(long) const", "X_HandleLong",
                             "X_InteropHandle")
        self.assertProcedure(17, "contains_tags_0", "int contains_tags(QOVIXThing const&) const",
                             "X_HandleHandle", "X_udt_boolean")
        self.assertProcedure(18, "size_tags_0", "long size_tags() const", "X_InteropHandle",
                             "X_udt_integer")
        self.assertProcedure(21, "add_tags_0", "void add_tags(QOVIXThing&)", "X_HandleHandle",
                             "xdr_void")
        self.assertProcedure(23, "rmv_tags_1", "void remove_tags(long)", "X_HandleLong",
                             "xdr_void")
        self.assertProcedure(24, "flush_tags_0", "void flush_tags()", "X_InteropHandle",
                             "xdr_void")
        self.assertProcedure(35, "get_slots_0", "VornArray<QOVIXThing> get_slots() const",
                             "X_InteropHandle", "X_InteropHandle")

    def test_lists_add_at_a_position_and_const_lists_take_constant_references(self):
        self.assertProcedure(30, "set_order_0", "void set_order(VornList<QOVIXThing> const&)",
                             "X_HandleHandle", "xdr_void")
        self.assertProcedure(31, "add_order_0", "void add_order(QOVIXThing const&, long)",
                             "X_HandleHandleLong", "xdr_void")
        self.assertProcedure(32, "rmv_order_0", "void remove_order(QOVIXThing const&)",
                             "X_HandleHandle", "xdr_void")

    def test_values_have_no_whole_getter_and_a_gap_for_set(self):
        self.assertProcedure(45, "get_notes_1", "QOVIXString get_notes(long) const",
                             "X_HandleLong", "X_VornDataType")
        self.assertProcedure(46, "contains_notes_0", "int contains_notes(QOVIXString) const",
                             "X_HandleValue", "X_udt_boolean")
        self.assertIsNone(self.slot(49))
        self.assertProcedure(50, "add_notes_0", "void add_notes(QOVIXString, long)",
                             "X_HandleValueLong", "xdr_void")
        self.assertProcedure(52, "rmv_notes_1", "void removeAt_notes(long)", "X_HandleLong",
                             "xdr_void")

    def test_operations_repeat_the_class_name_and_take_their_label(self):
        self.assertProcedure(54, "QOVIXThingconstruct_0", "void construct(QOVIXThing&, QOVIXName)",
                             "X_HandleHandleValue", "xdr_void")
        self.assertProcedure(55, "QOVIXThingconstruct1_0",
                             "void construct(QOVIXName, QOVIXThing&)", "X_HandleValueHandle",
                             "xdr_void")

    def test_tail_with_the_finds_the_class_names(self):
        self.assertProcedure(56, "duplicate_0",
                             "QOVIXThing duplicate(VornReferenceProcessing) const",
                             "X_HandleValue", "X_InteropHandle")
        self.assertProcedure(58, "_find__1", "static VornArray<QOVIXThing> find(VORN&, "
                             "VornString const&, VornString const&, int)",
                             "X_HandleValueValueInt", "X_InteropHandle")
        self.assertProcedure(59, "_find__2", "static VornArray<QOVIXThing> find(VORN&, "
                             "VornString const&, long, int)", "X_HandleValueLongInt",
                             "X_InteropHandle")
        self.assertProcedure(60, "className_0", "static char const* className()", "xdr_void",
                             "X_OptionalString")
        self.assertProcedure(62, "operatorAssign_0",
                             "QOVIXThing& operator=(QOVIXThing const&)", "X_HandleHandle",
                             "X_InteropHandle")
        plain = self.classes[1]
        self.assertEqual([p.suffix for p in plain.procedures][-5:],
                         ["duplicate_0", "_find__0", "className_0", "modelPrefix_0",
                          "operatorAssign_0"])
        self.assertEqual(plain.slots[4].argument, "X_HandleHandleHandle")

    def test_cast_member(self):
        self.assertEqual(self.thing.cast.member_text,
                         "static QOVIXThing cast(VornPersistentObject const&, int)")
        self.assertEqual((self.thing.cast.argument, self.thing.cast.result),
                         ("X_HandleInt", "X_InteropHandle"))

    def test_emitted_rows_dispatchers_and_listing(self):
        tables = EMITTERS["procedure_tables.cpp"](self.catalogue, self.classes)
        self.assertIn("procedureRow<&X_HandleHandleLong, &voidFilter>"
                      "(&QOVIXThing_add_order_0),  // 31", tables)
        self.assertIn("const ProcedureEntry CastTable<QOVIXThing>::procedures[1] = {\n"
                      "    procedureRow<&X_HandleInt, &X_InteropHandle>"
                      "(&QOVIXThing_VornCast_cast_0),  // 1\n};", tables)
        self.assertIn("{},  // unassigned", tables)
        dispatchers = EMITTERS["class_dispatchers.cpp"](self.catalogue, self.classes)
        routes = re.findall(r'\{"(\w+)", &(\w+)_server_1, (\w+)_procedures\}', dispatchers)
        self.assertEqual(routes, [("QOVIXThing",) * 3, ("QOVIXPlain",) * 3])
        tsv = EMITTERS["procedures.tsv"](self.catalogue, self.classes).splitlines()
        self.assertEqual(len(tsv), 1 + 61 + 10)
        self.assertIn("1\tQOVIXThing\t31\tQOVIXThing_add_order_0\tlist\torder\t"
                      "void add_order(QOVIXThing const&, long)\tX_HandleHandleLong\txdr_void\twrite",
                      tsv)
        reference = protocol_emit("protocol-reference.md", self.catalogue, self.classes)
        self.assertIn("| 49 | (unassigned: procedure unavailable) | | | | |", reference)
        self.assertIn("| 31 | `QOVIXThing_add_order_0` | `void add_order(QOVIXThing const&, long)` "
                      "| `X_HandleHandleLong`: handle, handle, long | `xdr_void` | write |", reference)
        access = EMITTERS["procedure_access.cpp"](self.catalogue, self.classes)
        self.assertIn('{true, "HHL"}', access)  # add_order_0
        self.assertIn("{false, nullptr}", access)  # the unassigned 49

    def test_every_procedure_that_changes_the_repository_is_marked_writing(self):
        catalogue = parse(REAL_CATALOGUE.read_text(), str(REAL_CATALOGUE))
        writing = re.compile(r"(create|destroy|set|add|rmv|flush|duplicate|operatorAssign)_|"
                             r"(construct\w*|copyModel|internalize|externalize|"
                             r"createVornMetaModel|set_name|set_upper|setValue)_0$")
        for model_class in number_classes(catalogue):
            for procedure in model_class.procedures:
                suffix = procedure.suffix.removeprefix(procedure.class_name)
                with self.subTest(procedure.label):
                    self.assertEqual(procedure.writes, bool(writing.match(suffix)))
        with self.assertRaisesRegex(CatalogueError, "a cast only reads"):
            parse(PRELUDE.replace("VornPersistentObject const&, int)",
                                  "VornPersistentObject const&, int) writes") + EVERY_KIND)

    def test_protocol_file_declares_every_procedure_for_rpcgen(self):
        protocol = protocol_emit("qovix.x", self.catalogue, self.classes)
        model = protocol[protocol.index("program QOVIX_MODEL_PROGRAM"):]
        self.assertIn("    version QOVIXThing_VERSION {\n"
                      "        X_InteropHandle QOVIXThing_create_0(void) = 1;\n", model)
        self.assertIn("        void QOVIXThing_add_order_0(X_HandleHandleLong) = 31;", model)
        self.assertNotIn(") = 49;", model[:model.index("QOVIXPlain_VERSION")])
        self.assertIn("struct X_HandleHandleLong {\n    X_InteropHandle target;\n"
                      "    X_InteropHandle param1;\n    X_udt_integer param2;\n};", protocol)
        self.assertIn("    version QOVIXPlain_CAST_VERSION {\n        X_InteropHandle "
                      "QOVIXPlain_VornCast_cast_0(X_HandleInt) = 1;\n    } = 2;", protocol)

    def test_every_language_takes_the_protocol_from_its_records(self):
        records = parse_protocol(PROTOCOL_TEXT.replace("0x20241002", "0x30000002")
                                 .replace("host 7 identity", "host 37 identity"))
        spelled = {name: protocol_emit(name, self.catalogue, self.classes, records)
                   for name in ("qovix_protocol.h", "python_protocol.py", "qovix.x",
                                "host_handlers.h", "host_procedure_table.cpp",
                                "protocol-reference.md")}
        self.assertIn("kHostProgram = 0x30000002u;", spelled["qovix_protocol.h"])
        self.assertIn("kHostIdentity = 37,", spelled["qovix_protocol.h"])
        self.assertIn("kLastClassNumber = 2u;", spelled["qovix_protocol.h"])
        self.assertIn("kDestroyProcedure = 4u;", spelled["qovix_protocol.h"])
        self.assertIn('kStartTls[] = "STARTTLS";', spelled["qovix_protocol.h"])
        self.assertIn("HOST_PROGRAM = 0x30000002\n", spelled["python_protocol.py"])
        self.assertIn("HOST_IDENTITY = 37\n", spelled["python_protocol.py"])
        self.assertIn("X_HandleLong QOVIX_HOST_IDENTITY(X_InteropHandle) = 37;\n    } = 1;\n"
                      "} = 0x30000002;", spelled["qovix.x"])
        self.assertIn("HandleLong serveIdentity(HostCall& call, InteropHandle argument);",
                      spelled["host_handlers.h"])
        self.assertIn('{37, "identity", Access::Read, &adaptIdentity},',
                      spelled["host_procedure_table.cpp"])
        self.assertIn("| host, `0x30000002` | 1 |", spelled["protocol-reference.md"])
        self.assertIn("| 37 identity | `X_InteropHandle` | `X_HandleLong` | read |",
                      spelled["protocol-reference.md"])

    def test_broken_protocol_records_are_named(self):
        cases = [
            ("host 3 size handle -> long read", "host 3 size handle -> long red",
             "access 'red' is none of"),
            ("host 3 size handle -> long read", "host 2 size handle -> long read",
             "procedure 2 is release too"),
            ("host 3 size handle -> long read", "host 3 size handle -> text read",
             "'text' is none of void"),
            ("program cast 0x20241001", "program cast 0x20241000",
             "its number is program model's too"),
            ("constant auth_tls 7", "constant auth_tls seven", "'seven' is no number"),
            ("host 0 null void -> void anyone", "host 0 null handle -> void anyone",
             "host procedure 0 must be the null procedure"),
            # Records and their fields.
            ("  before wire_value[]\n", "  before wire_valu[]\n",
             "record wire_change: before: 'wire_valu' is no record or alias"),
            ("opaque<document_chunk_bytes>", "opaque<chunk_bytes>",
             "'chunk_bytes' is no constant of this file"),
            ("opaque<document_chunk_bytes>", "opaque<1024>", "opaque takes the constant"),
            ("  changes wire_change[]\n", "  changes wire_change[]\n  again wire_commit[]\n",
             "wire_commit would hold itself"),
            ("  kind int\n", "  kind int\n  kind int\n", "the field kind is there twice"),
            ("  kind int\n", "  switch int\n", "switch is a word of rpcgen's language"),
            ("  position int = -1\n", "  position int = minus one\n", "expected: FIELD TYPE"),
            ("  | An undo's own commit; 0 when refused, with the reason.\n", "",
             "record undo_answer: says nothing of what it is"),
            ("record outcome\n", "record wire_value\n", "the name wire_value is taken"),
            ("host 14 commit sequence -> commit_page read", "host 14 commit sequence -> page read",
             "'page' is none of"),
        ]
        for sound, broken, message in cases:
            with self.subTest(broken):
                self.assertIn(sound, PROTOCOL_TEXT)
                with self.assertRaises(CatalogueError) as caught:
                    parse_protocol(PROTOCOL_TEXT.replace(sound, broken))
                self.assertIn(message, str(caught.exception))
        with self.assertRaises(CatalogueError) as caught:
            parse_protocol(PROTOCOL_TEXT.replace("  | Is the server there? An empty reply.\n", ""))
        self.assertIn("host 0 null: says nothing of what it does", str(caught.exception))

    def test_a_records_field_is_spelled_alike_in_every_language(self):
        records = parse_protocol(PROTOCOL_TEXT.replace(
            "record outcome\n", "record outcome\n  extra_count word\n"))
        spelled = {name: protocol_emit(name, self.catalogue, self.classes, records)
                   for name in ("wire_records.h", "wire_filters.cpp", "python_records.py",
                                "qovix.x", "protocol-reference.md")}
        self.assertIn("struct Outcome {\n  std::uint32_t extraCount = 0;\n  std::uint64_t value = 0;",
                      spelled["wire_records.h"])
        self.assertIn("bool_t X_Outcome(XDR* xdrs, qovix::Outcome* value) {\n"
                      "  if (xdrs->x_op == XDR_FREE) return TRUE;\n"
                      "  return xdr_u_int32_t(xdrs, &value->extraCount) &&\n"
                      "         xdr_uint64_t(xdrs, &value->value) &&",
                      spelled["wire_filters.cpp"])
        self.assertIn("return (reader.word(), reader.hyper(), reader.string(),)",
                      spelled["python_records.py"])
        self.assertIn("struct X_Outcome {\n    unsigned int extraCount;\n    unsigned hyper value;",
                      spelled["qovix.x"])
        self.assertIn("| `extraCount` | unsigned word |", spelled["protocol-reference.md"])
        # A local field is in the C++ record alone, and its filter is the record's own.
        self.assertIn("std::uint64_t changesLeft = 0;  // not on the wire",
                      spelled["wire_records.h"])
        self.assertIn("bool_t X_CommitPageFields(", spelled["wire_filters.cpp"])
        self.assertNotIn("changesLeft", spelled["qovix.x"])

    def test_generated_files_say_they_are_generated_and_from_what(self):
        for name, emit in EMITTERS.items():
            if name.endswith((".h", ".cpp")):
                first = emit(self.catalogue, self.classes).splitlines()[0]
                self.assertEqual(first,
                                 "// Generated by schema/generator/generate.py from tiny.txt.", name)


class BrokenCatalogue(unittest.TestCase):
    def assertFault(self, classes, line, *fragments):
        with self.assertRaises(CatalogueError) as caught:
            catalogue = tiny(classes)
            number_classes(catalogue)
        message = str(caught.exception)
        self.assertTrue(message.startswith(f"tiny.txt:{PRELUDE_LINES + line}:"), message)
        for fragment in fragments:
            self.assertIn(fragment, message)

    def test_numbers_must_run_from_one_without_gaps(self):
        self.assertFault("class 1 QOVIXA highest 9\nclass 3 QOVIXB highest 9\n", 2,
                         "class 3 QOVIXB", "expected 2")

    def test_names_are_unique_identifiers_with_the_prefix(self):
        self.assertFault("class 1 QOVIXA highest 9\nclass 2 QOVIXA highest 9\n", 2,
                         "class 2 QOVIXA", "already used by line")
        self.assertFault("class 1 Element highest 9\n", 1, "starting with QOVIX")

    def test_header_fields_are_checked(self):
        self.assertFault("class 1 QOVIXA\n", 1, "expected 'class NUMBER NAME")
        self.assertFault("class 1 QOVIXA highest 9 size 9\n", 1, "unknown field 'size'")
        self.assertFault("class 1 QOVIXA unassigned 3\n", 1, "'highest' is missing")
        self.assertFault("class 1 QOVIXA highest ten\n", 1, "'highest' must be a number")
        self.assertFault("class 1 QOVIXA highest 10 unassigned 10\n", 1, "inside 1..9")

    def test_totals_must_add_up(self):
        self.assertFault("class 1 QOVIXA highest 10\n", 1, "class 1 QOVIXA",
                         "the numbering ends at 9, not at the highest number 10")
        self.assertFault("class 1 QOVIXA highest 11 unassigned 5\n  unassigned\n"
                         "  unassigned\n", 1, "leaves unassigned 5, 6, not 5")
        self.assertFault("class 1 QOVIXA highest 10\n  unassigned\n", 1,
                         "leaves unassigned 5, not none")

    def test_referenced_classes_and_types_must_exist(self):
        self.assertFault("class 1 QOVIXA highest 9\n  single owner -> QOVIXNobody\n", 2,
                         "single 'owner': unknown class 'QOVIXNobody'")
        self.assertFault("class 1 QOVIXA highest 9\n  attribute size: Size\n", 2,
                         "attribute 'size': 'Size' is no data type")
        self.assertFault("class 1 QOVIXA highest 9\n  operation merge(QOVIXOther&) body call f\n", 2,
                         "operation 'merge': unknown type 'QOVIXOther'")
        self.assertFault("class 1 QOVIXA highest 9\n  operation all() -> VornBag<QOVIXA> body call f\n", 2,
                         "'VornBag' is no collection")

    def test_members_must_be_able_to_travel(self):
        self.assertFault("class 1 QOVIXA highest 10\n  operation take(QOVIXA) body call f\n", 2,
                         "QOVIXAtake_0", "a parameter 'QOVIXA' cannot travel")
        self.assertFault("class 1 QOVIXA highest 10\n  operation take(QOVIXName&) body call f\n", 2,
                         "a parameter 'QOVIXName&' cannot travel")

    def test_features_come_in_order(self):
        self.assertFault("class 1 QOVIXA highest 9\n  single a -> QOVIXA\n"
                         "  attribute b: QOVIXName\n", 3, "attributes come first")
        self.assertFault("class 1 QOVIXA highest 9\n  operation go() body call f\n  single a -> QOVIXA\n",
                         3, "after the operations")
        self.assertFault("class 1 QOVIXA highest 9\n  set a: QOVIXA\n  list a: QOVIXA\n", 3,
                         "list 'a' is declared twice")
        self.assertFault("class 1 QOVIXA highest 9\n  array a: QOVIXA const\n", 2,
                         "array 'a' cannot be const")

    def test_opposite_ends_name_a_reference_back_to_the_class(self):
        head = "class 1 QOVIXA highest 40\n  set bs: QOVIXB opposite a\n"
        self.assertFault(head + "class 2 QOVIXB highest 40\n  single c -> QOVIXA\n", 2,
                         "set 'bs': QOVIXB has no feature 'a' for its opposite end")
        self.assertFault(head + "class 2 QOVIXB highest 40\n  attribute a: QOVIXName\n"
                         "  find _find__1\n", 2,
                         "the opposite end QOVIXB.a holds values")
        self.assertFault(head + "class 2 QOVIXB highest 40\n  single a -> QOVIXB\n", 2,
                         "QOVIXB.a holds QOVIXB, which is neither QOVIXA nor its ancestor")
        self.assertFault("class 1 QOVIXA highest 40\n  set bs: QOVIXB opposite a\n"
                         "  set cs: QOVIXB opposite a\nclass 2 QOVIXB highest 40\n"
                         "  single a -> QOVIXA\n", 3,
                         "QOVIXB.a already has the opposite end QOVIXA.bs")
        self.assertFault("class 1 QOVIXA highest 9\n  attribute n: QOVIXName opposite m\n", 2,
                         "holds values: it has no opposite end")
        # Either end may carry the mark, both when they agree, and the other
        # end may be an ancestor's; the metadata gives each end the other.
        catalogue, classes = numbered(
            "class 1 QOVIXA highest 19\n  set bs: QOVIXB opposite a\n"
            "class 2 QOVIXBase highest 13\n  single a -> QOVIXA opposite bs\n"
            "class 3 QOVIXB highest 9 isa QOVIXBase\n")
        rows = EMITTERS["model_metadata.cpp"](catalogue, classes)
        self.assertIn('{feature::QOVIXA_bs, 1, "bs", FeatureKind::Set, 3, 0, false, '
                      'feature::QOVIXBase_a, false, "", "", 0},', rows)
        self.assertIn('{feature::QOVIXBase_a, 2, "a", FeatureKind::Single, 1, 0, false, '
                      'feature::QOVIXA_bs, false, "", "", 0},', rows)

    def test_xmi_names_are_records_the_metadata_gives(self):
        catalogue, classes = numbered(
            "class 1 QOVIXA highest 13 xmi Later package Some.Package reads Older\n"
            "  single b -> QOVIXA xmi Later.c xmi13 Older.d\n"
            "class 2 QOVIXB highest 13\n  single a -> QOVIXB uml\n")
        rows = EMITTERS["model_metadata.cpp"](catalogue, classes)
        self.assertIn('{feature::QOVIXA_b, 1, "b", FeatureKind::Single, 1, 0, false, 0, false, '
                      '"Later.c", "Older.d", 0},', rows)
        self.assertIn('FeatureKind::Single, 2, 0, false, 0, true, "", "", 0},', rows)
        self.assertIn('"Later", "Some.Package"},', rows)
        self.assertIn('kMetaclassReadings{{{"Older", 1}}};', rows)
        self.assertFault("class 1 QOVIXA highest 9 xmi B\nclass 2 QOVIXB highest 9\n", 2,
                         "the metaclass name 'B' is already QOVIXA's")
        self.assertFault("class 1 QOVIXA highest 13\n  single b -> QOVIXA xmi Nobody.b\n", 2,
                         "single 'b': 'Nobody.b' names no metaclass 'Nobody'")
        self.assertFault("class 1 QOVIXA highest 13\n  single b -> QOVIXA uml xmi A.c\n", 2,
                         "'uml' keeps the catalogue's name")

    def test_operation_bodies_fit_their_operations(self):
        for body, message in (
                ("", "operation 'go' says nothing of its body"),
                ("body guess", "unknown body 'guess'"),
                ("body call", "body call needs a function"),
                ("body derived x", "body derived takes no argument"),
                ("body read label", "hidden slot 'label' of QOVIXA"),
                ("body first tags", "QOVIXA has no collection feature 'tags'"),
                ("body derived", "a derived body answers a collection")):
            with self.subTest(body):
                self.assertFault(f"class 1 QOVIXA highest 11\n  operation go() {body}\n", 2,
                                 message)
        # A false/true value travels to the model library's function as a bool.
        catalogue, classes = numbered("class 1 QOVIXA highest 10\n  operation go(QOVIXBoolean)"
                                      " -> QOVIXBoolean body call goes\n")
        self.assertIn("QOVIXBoolean QOVIXA::go(QOVIXBoolean p1) { return QOVIXBoolean("
                      "model::goes(*this, p1.number() != 0) ? 1 : 0); }",
                      EMITTERS["model_classes.cpp"](catalogue, classes))

    def test_operations_need_distinct_labels(self):
        self.assertFault("class 1 QOVIXA highest 11\n  operation go() body call f\n  operation go(long) body call f\n",
                         3, "operation 'go': the label 'go' is taken by line")

    def test_protocol_names_differ_in_more_than_letter_case(self):
        catalogue = tiny("class 1 QOVIXA highest 11\n  operation go() body call f\n  operation Go() body call f\n")
        with self.assertRaises(CatalogueError) as caught:
            protocol_emit("qovix.x", catalogue, number_classes(catalogue))
        self.assertIn(f"tiny.txt:{PRELUDE_LINES + 1}: class 1 QOVIXA: the protocol name "
                      "QOVIXA_QOVIXAGo_0 is QOVIXA_QOVIXAgo_0 in another letter case",
                      str(caught.exception))

    def test_finds_follow_the_attributes(self):
        self.assertFault("class 1 QOVIXA highest 11\n  attribute name: QOVIXName\n", 1,
                         "declares a text-valued attribute, so it needs _find__1")
        self.assertFault("class 1 QOVIXA highest 10\n  find _find__2\n", 1,
                         "_find__2 needs a number-valued attribute")
        self.assertFault("class 1 QOVIXA highest 10\n  find _find__9\n", 2,
                         "unknown find '_find__9'")

    def test_unknown_records(self):
        self.assertFault("klass 1 QOVIXA highest 9\n", 1, "unknown record 'klass'")
        self.assertFault("class 1 QOVIXA highest 9\n  field x: QOVIXName\n", 2,
                         "unknown feature kind 'field'")
        with self.assertRaises(CatalogueError) as caught:
            parse("# nothing\n", "empty.txt")
        self.assertIn("holds no class", str(caught.exception))


class CommandLine(unittest.TestCase):
    def run_generator(self, catalogue: Path, out: Path):
        return subprocess.run([sys.executable, str(GENERATOR), "--catalogue", str(catalogue),
                               "--out", str(out)], capture_output=True, text=True)

    def test_real_catalogue_generates_every_file(self):
        with tempfile.TemporaryDirectory() as folder:
            result = self.run_generator(REAL_CATALOGUE, Path(folder))
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(sorted(p.name for p in Path(folder).iterdir()),
                             sorted(EMITTERS | PROTOCOL_EMITTERS))

    def test_broken_catalogue_fails_with_the_fault_and_writes_nothing(self):
        with tempfile.TemporaryDirectory() as folder:
            broken = Path(folder) / "broken.txt"
            broken.write_text(PRELUDE + "class 1 QOVIXA highest 9\nclass 1 QOVIXB highest 9\n")
            out = Path(folder) / "out"
            result = self.run_generator(broken, out)
            self.assertEqual(result.returncode, 1)
            self.assertIn(f"broken.txt:{PRELUDE_LINES + 2}: class 1 QOVIXB: class numbers run "
                          "from 1", result.stderr)
            self.assertFalse(out.exists())

    def test_unchanged_output_is_not_rewritten(self):
        with tempfile.TemporaryDirectory() as folder:
            out = Path(folder)
            self.assertEqual(self.run_generator(REAL_CATALOGUE, out).returncode, 0)
            first = {p.name: p.stat().st_mtime_ns for p in out.iterdir()}
            self.assertEqual(self.run_generator(REAL_CATALOGUE, out).returncode, 0)
            self.assertEqual(first, {p.name: p.stat().st_mtime_ns for p in out.iterdir()})


if __name__ == "__main__":
    unittest.main()
