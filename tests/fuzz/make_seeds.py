"""Writes the fuzzers' seed corpora: the byte examples of the wire tests for
the filter fuzzer, one well-formed call of every procedure (from the
build's procedures.tsv) for the server fuzzer, and record-marked streams for
the record fuzzer, and ClientHellos for the TLS fuzzer.

    python3 tests/fuzz/make_seeds.py build-fuzz/generated/procedures.tsv OUT_DIR
"""

import ssl
import struct
import sys
from pathlib import Path

HANDLE_MARK = 0x51580000  # the server fuzzer's stand-in for its K-th handle

# The filter fuzzer's first byte: kFilters' order in fuzz_filters.cpp.
FILTERS = ["InteropHandle", "udt_integer", "OptionalString", "stringUTF16", "string_info",
           "VornDataType", "HandleHandle", "HandleLong", "HandleInt", "HandleValue",
           "HandleHandleValue", "HandleValueValueInt", "HandleValueLongInt", "HandleHandleLong",
           "HandleValueHandle", "HandleValueValue", "HandleValueValueHandle",
           "HandleHandleHandleValue", "HandleHandleHandle", "HandleValueLong",
           "HandleHandleValueValue"]
# The server fuzzer's fixture objects, by class, after the repository (0).
FIXTURE = ["QOVIXTaggedValue", "QOVIXClass", "QOVIXPackage", "QOVIXAssociation",
           "QOVIXAssociationEnd", "QOVIXAttribute", "QOVIXOperation", "QOVIXMultiplicity"]


def words(*values):
    return b"".join(struct.pack(">I", v & 0xFFFFFFFF) for v in values)


def utf16(text):
    units = [ord(c) for c in text] + [0]
    return words(len(units), *units)


# One data value of each arm.
VALUES = [
    words(0xFFFFFFFF, 3),                                   # null
    words(1, 1, 5, 6), words(9, 1, 7, 8),                   # long, long
    words(2, 1, ord("a"), ord("b"), ord("c"), 0xFFFFFFFF),  # chars and a short
    words(3, 1, 9), words(12, 1, 10),                       # handle
    words(4, 1, 2) + utf16("ab"),                           # textInfo, text
    words(5, 1) + struct.pack(">d", 2.5),                   # double
    words(6, 1, 1, 3, 2),                                   # three longs
    words(7, 1, 5, 6, 1, 2, 0x78790000, 1, 1, 0x7A000000),  # two optional strings
    words(8, 1, 0xFFFFFFFF, 65, 66),                        # short, char, char
    words(10, 1) + utf16("author"),                         # text
    words(11, 2, 1),                                        # int
]

SHAPE_FIELDS = {"InteropHandle": "H", "HandleHandle": "HH", "HandleLong": "HL", "HandleInt": "HI",
                "HandleValue": "HV", "HandleHandleValue": "HHV", "HandleValueValueInt": "HVVI",
                "HandleValueLongInt": "HVLI", "HandleHandleLong": "HHL",
                "HandleValueHandle": "HVH", "HandleValueValue": "HVV",
                "HandleValueValueHandle": "HVVH", "HandleHandleHandleValue": "HHHV",
                "HandleHandleHandle": "HHH", "HandleValueLong": "HVL",
                "HandleHandleValueValue": "HHVV"}


def record(fields, handle, value):
    out = b""
    for field in fields:
        out += words(handle) if field == "H" else value if field == "V" else words(0)
        handle = HANDLE_MARK + 1
    return out


def filter_seeds():
    seeds = [words(7), words(0xFFFFFFFF), words(0), words(1, 3) + b"abc\0", utf16("ab"),
             words(0), words(4) + utf16("xy")]
    out = [bytes([0]) + seeds[0], bytes([1]) + seeds[1], bytes([2]) + seeds[2],
           bytes([2]) + seeds[3], bytes([3]) + seeds[4], bytes([3]) + seeds[5],
           bytes([4]) + seeds[6]]
    out += [bytes([5]) + value for value in VALUES]
    for index, name in enumerate(FILTERS[6:], start=6):
        for value in (VALUES[11], VALUES[9], VALUES[0]):
            out.append(bytes([index]) + record(SHAPE_FIELDS[name], 7, value))
    out.append(bytes([7]) + words(7, 2))  # element 2 of object 7
    out.append(bytes([9]) + words(9, 10, 0, 2, ord("A"), 0))
    # The host services' records (first byte 0xF0, then the record's place
    # in the generated list): a page of one commit with a value change and
    # a member added, an undo's answer, a sequence; a chunk, a range, bytes
    # read, an import, an export, an outcome, a name.
    def string8(text: bytes) -> bytes:
        return words(len(text)) + text + bytes(-len(text) % 4)

    def host_record(name: str, payload: bytes) -> bytes:
        return bytes([0xF0, generated("python_records").RECORDS.index(name)]) + payload

    value = words(1, 0, 3, ord("A"), ord("b"), 0)
    change = words(4, 12) + string8(b"*.name") + words(2, 0xFFFFFFFF, 0, 0, 0, 1) + value
    added = words(4, 34) + string8(b"QOVIXNamespace.ownedElement") + words(4, 0, 0, 5, 0, 0)
    commit = (words(0, 9, 0, 1_700_000_000) + string8(b"CN=alice") + string8(b"vm:20241") +
              words(1, 4, 25, 1) + words(2) + change + added)
    name = string8(b"model.xmi")
    out += [host_record("commit_page", words(0, 9, 1) + commit),
            host_record("undo_answer",
                        words(0, 0) + string8(b"commit 12 changed *.name of object 4")),
            host_record("sequence", words(0, 42)),
            host_record("document_chunk", name + words(0, 0, 1) + string8(b"<XMI/>")),
            host_record("document_range", name + words(0, 512)),
            host_record("document_bytes", words(0, 6) + string8(b"<XMI/>") + string8(b"")),
            host_record("import_request", name + words(7) + string8(b"model.zargo")),
            host_record("export_request", words(7) + string8(b"xmi 1.0") + name),
            host_record("outcome", words(0, 0) + string8(b"XMI document 'm' line 2: refused")),
            host_record("document_name", name),
            host_record("server_info", string8(b"1.0.0") + words(0, 12, 0, 40, 30)),
            host_record("object_query", words(3, 1, 2, 0xFFFFFFFF, 50)),
            host_record("contents_query", words(0, 0, 5, 200)),
            host_record("search_query", string8(b"acc") + words(0, 50)),
            host_record("object_page", words(1, 4, 12, 1, 1, 235) + string8(b"*.name") +
                        words(1) + value + words(0, 0, 1)),
            host_record("member_page", words(0, 1, 1, 4, 12, 2, 0x00410062, 0, 3)),
            host_record("search_page", words(1, 4, 12, 1, 0x00410000, 1, 0x00420000, 0))]
    return out


def server_seeds(tsv):
    out = []
    for line in Path(tsv).read_text().splitlines():
        columns = line.split("\t")
        if not columns[0].isdigit():
            continue
        class_number, class_name, number, label = int(columns[0]), columns[1], int(columns[2]), columns[3]
        argument = columns[7].removeprefix("X_")
        fields = SHAPE_FIELDS.get(argument, "")
        target = FIXTURE.index(class_name) + 1 if class_name in FIXTURE else 0
        if "create_1" in label or "_find_" in label:
            target = 0
        header = bytes([class_number - 1, 2, number >> 8, number & 0xFF])
        out.append(header + record(fields, HANDLE_MARK + target, VALUES[11]))
    # The cast procedure of a few classes, checked and not.
    for class_number in (1, 2, 5, 12, 97):
        out.append(bytes([class_number - 1, 1, 0, 1]) + words(HANDLE_MARK + 2, 1))
        out.append(bytes([class_number - 1, 1, 0, 1]) + words(HANDLE_MARK + 1, 0))
    return out


def generated(module: str):
    """A generated Python module beside the procedure listing: the
    protocol's constants, or the host services' records."""
    sys.path.insert(0, str(Path(sys.argv[1]).parent))
    return __import__(module)


def record_seeds():
    """A cutting byte, then streams: single and split records, empty
    fragments, a record at the bound and one past it."""
    def fragment(data, last):
        return words((0x80000000 if last else 0) | len(data)) + data
    wire = generated("python_protocol")
    call = words(1, 0, 2, wire.HOST_PROGRAM, wire.HOST_VERSION, wire.HOST_NULL, 0, 0, 0, 0)
    streams = [
        fragment(call, True),
        fragment(call[:12], False) + fragment(call[12:], True) + fragment(call, True),
        fragment(b"", False) + fragment(call, False) + fragment(b"", True),
        fragment(b"x" * 512, True),
        fragment(b"x" * 300, False) + fragment(b"y" * 213, True),
        words(0xFFFFFFFF),
    ]
    return [bytes([cut]) + stream for cut in (0, 7, 200) for stream in streams]


def tls_seeds():
    """What a TLS 1.3 client sends first, with and without ALPN "sunrpc";
    the first byte is the TLS fuzzer's number of pieces."""
    seeds = []
    for alpn in (True, False):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        context.minimum_version = ssl.TLSVersion.TLSv1_3
        if alpn:
            context.set_alpn_protocols(["sunrpc"])
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        client = context.wrap_bio(incoming, outgoing, server_hostname="localhost")
        try:
            client.do_handshake()
        except ssl.SSLWantReadError:
            pass
        hello = outgoing.read()
        seeds += [b"\x00" + hello, b"\x03" + hello]
    return seeds


def write(folder, seeds):
    folder.mkdir(parents=True, exist_ok=True)
    for index, seed in enumerate(seeds):
        (folder / f"seed-{index:04d}").write_bytes(seed)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    out = Path(sys.argv[2])
    write(out / "filters", filter_seeds())
    write(out / "server", server_seeds(sys.argv[1]))
    write(out / "records", record_seeds())
    write(out / "tls", tls_seeds())


if __name__ == "__main__":
    main()
