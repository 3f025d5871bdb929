#!/usr/bin/env python3
"""Runs the three format checkers over whole tables in one interpreter.

Usage: tablecheck.py NAME.DAT...

For each table: datcheck.py on NAME.DAT; idxcheck.py on NAME.IDX (files of
an encrypted table unscrambled with the format's start pair); when the
header counts BLOB fields, blbcheck.py on NAME.BLB with the header's block
size (0 meaning 512) and, as its chains, the BLOB references of every
active record, read from the records by datcheck's reading of the layout
(a BLOB field's value is a u32 offset after its null flag; flag 1 and a
non-zero offset make a chain owned by that record). The file names of the
index and BLOB files are found without regard to case.

Prints each checker's output under a "== FILE" line and "TABLE ok" or
"TABLE failed" per table. Exit status 0 when every table is sound, 1 when
not, 2 on usage errors.
"""
import contextlib
import io
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import blbcheck  # noqa: E402
import datcheck  # noqa: E402
import idxcheck  # noqa: E402

CONTENT_PAIR = (0x6B, 0xD2)


def sibling(dat, ext):
    """The file beside dat with extension ext, matched without case."""
    folder = os.path.dirname(dat) or "."
    stem = os.path.splitext(os.path.basename(dat))[0]
    want = (stem + ext).lower()
    for name in os.listdir(folder):
        if name.lower() == want:
            return os.path.join(folder, name)
    return os.path.join(folder, stem + ext)


def run(main, argv):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = main(argv)
    return status, out.getvalue()


def blob_chains(dat_bytes):
    """(block size, ["offset:record", ...]) from the data file's records."""
    c = datcheck.Checker(dat_bytes)
    c.check_header()
    c.check_descriptors()
    size = c.h["blob_block_size"] & 0xFFFF or 512
    chains = []
    for n in range(1, c.h["next_record"]):
        r = c.record(n)
        if r[0] != 0:
            continue
        for _label, typ, off, _phys in c.fields:
            if typ != 3 or off + 5 > len(r) or r[off] != 1:
                continue
            first = struct.unpack_from("<I", r, off + 1)[0]
            if first:
                chains.append("%d:%d" % (first, n))
    return size, chains, c.h["encrypted"] == 1, c.h["blob_count"]


def check_table(dat):
    ok = True
    report = []
    status, out = run(datcheck.main, ["datcheck.py", dat])
    report.append("== " + dat + "\n" + out)
    ok = ok and status == 0
    with open(dat, "rb") as f:
        dat_bytes = f.read()
    try:
        size, chains, encrypted, blobs = blob_chains(dat_bytes)
    except datcheck.Fault as e:
        return False, "".join(report) + "cannot read the layout: %s\n" % e
    idx = sibling(dat, ".IDX")
    argv = ["idxcheck.py", idx]
    if encrypted:
        argv += ["--scramble", str(CONTENT_PAIR[0]), str(CONTENT_PAIR[1])]
    status, out = run(idxcheck.main, argv)
    report.append("== " + idx + "\n" + out)
    ok = ok and status == 0
    if blobs:
        blb = sibling(dat, ".BLB")
        argv = ["blbcheck.py", blb, str(size)] + chains
        if encrypted:
            argv += ["--scramble", "%d,%d" % CONTENT_PAIR]
        status, out = run(blbcheck.main, argv)
        report.append("== " + blb + "\n" + out)
        ok = ok and status == 0
    return ok, "".join(report)


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    failed = False
    for dat in argv[1:]:
        ok, report = check_table(dat)
        print(report, end="")
        print("%s %s" % (dat, "ok" if ok else "failed"))
        failed = failed or not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
