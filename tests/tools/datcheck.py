#!/usr/bin/env python3
"""Independent checker of data files (NAME.DAT), written from the format.

Usage: datcheck.py FILE

Checks the 127-byte header (version, counts, widths of its strings, reserved
bytes, file size against the next record number), the 768-byte field
descriptors (known types, declared and physical sizes by type, names, field
numbers, record layout: auto-increment at 5, stored fields packed from 9 in
order, computed fields in the computed area, record size and computed-area
size equal to the sums, BLOB count), and the records (status bytes 0 or 1,
null flags 0 or 1, null values all zero, strings terminated inside their
field, without trailing blanks and never empty (an empty string is stored as
null), Booleans 0 or 1), and walks the chain of deleted records (inside 1..next-1, only
deleted records, no cycles). Encrypted tables are unscrambled with the
format's fixed start pairs.

Prints "name value" lines: the header fields, one "field" line and one
"required NUMBER FLAG" line per descriptor and a "records" summary. Exit status 0 when the file is sound, 1
when not (each fault printed as "ERROR: ..."), 2 on usage errors.
"""
import struct
import sys

HEADER = 127
DESC = 768
CONTENT_PAIR = (0x6B, 0xD2)
HEADER_PAIR = (0x35, 0xA9)
MAPPING_ONLY = (17, 18, 20, 21, 22, 23)
# Physical size by logical type; None: the declared size (+1 for strings).
FIXED_SIZE = {2: 4, 3: 4, 4: 2, 5: 2, 6: 4, 7: 8, 8: 8, 10: 4, 11: 8,
              12: 2, 13: 4, 14: 10}
DECLARED = (1, 9, 15)


class Fault(Exception):
    pass


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


def scramble(data, pair):
    """The rolling scrambler: b ^= low ^ high; low += 1; high -= 1."""
    low, high = pair
    out = bytearray(data)
    for i in range(len(out)):
        out[i] ^= low ^ high
        low = (low + 1) & 0xFF
        high = (high - 1) & 0xFF
    return bytes(out)


def is_letter(c):
    # Code page 1252 letters (IsCharAlphaA): ASCII letters and the Latin-1
    # and Windows-1252 letters.
    if 65 <= c <= 90 or 97 <= c <= 122:
        return True
    if c in (0x83, 0x8A, 0x8C, 0x8E, 0x9A, 0x9C, 0x9E, 0x9F, 0xAA, 0xB5, 0xBA):
        return True
    return c >= 0xC0 and c not in (0xD7, 0xF7)


def short_string(b, o, width):
    n = b[o]
    return n, bytes(b[o + 1:o + 1 + min(n, width)])


class Checker:
    def __init__(self, data):
        self.data = data
        self.errors = []
        self.lines = []

    def err(self, msg):
        self.errors.append(msg)

    def out(self, name, value):
        self.lines.append("%s %s" % (name, value))

    def check_header(self):
        d = self.data
        if len(d) < HEADER:
            raise Fault("file shorter than the header (%d bytes)" % len(d))
        h = {
            "counter": u32(d, 0), "blob_block_size": u32(d, 4),
            "version": d[8], "free_head": u32(d, 9), "next_record": u32(d, 13),
            "last_id": u32(d, 17), "record_size": u16(d, 21),
            "field_count": u16(d, 23), "blob_count": u16(d, 25),
            "encrypted": d[86], "language": u16(d, 103), "sort": u16(d, 105),
            "creator1": u16(d, 107), "creator2": u16(d, 109),
            "computed_size": u16(d, 111),
        }
        self.h = h
        for k, v in h.items():
            self.out(k, v)
        if h["version"] != 3:
            raise Fault("version %d" % h["version"])
        if h["encrypted"] not in (0, 1):
            self.err("encrypted byte %d" % h["encrypted"])
        dlen, desc = short_string(d, 35, 50)
        plen, pw = short_string(d, 87, 15)
        if dlen > 50:
            self.err("description length %d" % dlen)
        if plen > 15:
            self.err("password length %d" % plen)
        if h["encrypted"] == 1:
            desc = scramble(desc, HEADER_PAIR)
            pw = scramble(pw, HEADER_PAIR)
            if plen == 0:
                self.err("encrypted table without password")
        elif plen != 0:
            self.err("plain table with a password")
        self.out("description", desc.decode("latin-1"))
        self.out("password", pw.decode("latin-1"))
        if any(d[113:127]):
            self.err("reserved header bytes not zero")
        fc = h["field_count"]
        if fc == 0 or fc > 1024:
            raise Fault("field count %d" % fc)
        if h["blob_count"] > 32:
            self.err("BLOB field count %d" % h["blob_count"])
        if h["blob_block_size"] < 64:
            self.err("BLOB block size %d" % h["blob_block_size"])
        if h["record_size"] < 9:
            raise Fault("record size %d" % h["record_size"])
        if h["record_size"] + h["computed_size"] > 65535:
            self.err("record and computed area exceed 65535 bytes")
        self.start = HEADER + DESC * fc
        if len(d) < self.start:
            raise Fault("file of %d bytes shorter than its %d descriptors" % (len(d), fc))
        if h["next_record"] == 0:
            raise Fault("next record number 0")
        body = len(d) - self.start
        rs = h["record_size"]
        if body % rs:
            self.err("record area of %d bytes is not a whole number of %d-byte records"
                     % (body, rs))
        if (h["next_record"] - 1) * rs > body:
            raise Fault("next record number %d beyond the file (%d records)"
                        % (h["next_record"], body // rs))
        if h["free_head"] >= h["next_record"]:
            self.err("free-chain head %d outside the records" % h["free_head"])

    def check_descriptors(self):
        d = self.data
        fc = self.h["field_count"]
        area = d[HEADER:self.start]
        if self.h["encrypted"] == 1:
            n = (DESC * fc) % 65536
            area = scramble(area[:n], CONTENT_PAIR) + area[n:]
        rs = self.h["record_size"]
        cs = self.h["computed_size"]
        names, numbers = set(), set()
        offset, coffset, blobs = 9, rs, 0
        self.fields = []
        for i in range(fc):
            b = area[i * DESC:(i + 1) * DESC]
            num = u16(b, 0)
            nlen, name = short_string(b, 2, 30)
            typ, sub, size, dec, phys = b[84], b[85], b[86], b[87], b[88]
            off, computed = u16(b, 90), b[247]
            label = "field %d" % (i + 1)
            self.out("field", "%d %s type=%d sub=%d size=%d phys=%d offset=%d computed=%d"
                     % (num, name.decode("latin-1"), typ, sub, size, phys, off, computed))
            self.out("required", "%d %d" % (num, b[92]))
            if b[92] not in (0, 1):
                self.err("%s: required flag %d" % (label, b[92]))
            if nlen == 0 or nlen > 30 or not is_letter(name[0]):
                self.err("%s: bad name" % label)
            if name.upper() in names:
                self.err("%s: duplicate name" % label)
            names.add(name.upper())
            if num in numbers:
                self.err("%s: duplicate field number %d" % (label, num))
            numbers.add(num)
            for o, w in ((33, 50), (94, 50), (145, 50), (196, 50)):
                if b[o] > w:
                    self.err("%s: string at %d longer than %d" % (label, o, w))
            if b[93] or any(b[508:768]) or u32(b, 504):
                self.err("%s: reserved bytes or run-time reference not zero" % label)
            if not (1 <= typ <= 15 or typ in MAPPING_ONLY):
                self.err("%s: unknown type %d" % (label, typ))
                continue
            if typ in DECLARED:
                if size > 250:
                    self.err("%s: declared size %d" % (label, size))
                want = size + 1 if typ == 1 else size
            else:
                if size:
                    self.err("%s: declared size %d for type %d" % (label, size, typ))
                want = FIXED_SIZE.get(typ, 0)
            if phys != want:
                self.err("%s: physical size %d, type %d needs %d" % (label, phys, typ, want))
            if typ != 8 and dec:
                self.err("%s: decimals on type %d" % (label, typ))
            if computed not in (0, 1):
                self.err("%s: computed flag %d" % (label, computed))
            if typ == 3:
                blobs += 1
            if computed:
                if off != coffset:
                    self.err("%s: computed offset %d, expected %d" % (label, off, coffset))
                coffset = off + phys + 1
            elif typ == 6 and sub == 29:
                if off != 5:
                    self.err("%s: auto-increment offset %d" % (label, off))
            else:
                if off != offset:
                    self.err("%s: offset %d, expected %d" % (label, off, offset))
                offset += phys + 1
                self.fields.append((label, typ, off, phys))
        if offset != rs:
            self.err("record size %d, descriptors give %d" % (rs, offset))
        if coffset - rs != cs:
            self.err("computed-area size %d, descriptors give %d" % (cs, coffset - rs))
        if blobs != self.h["blob_count"]:
            self.err("BLOB count %d, descriptors give %d" % (self.h["blob_count"], blobs))

    def record(self, n):
        rs = self.h["record_size"]
        o = self.start + (n - 1) * rs
        r = self.data[o:o + rs]
        if self.h["encrypted"] == 1:
            r = scramble(r, CONTENT_PAIR)
        return r

    def check_records(self):
        nxt = self.h["next_record"]
        active = deleted = 0
        for n in range(1, nxt):
            r = self.record(n)
            if r[0] == 1:
                deleted += 1
                continue
            if r[0] != 0:
                self.err("record %d: status %d" % (n, r[0]))
                continue
            active += 1
            for label, typ, off, phys in self.fields:
                if off + 1 + phys > len(r):
                    continue
                flag, value = r[off], r[off + 1:off + 1 + phys]
                if flag not in (0, 1):
                    self.err("record %d %s: null flag %d" % (n, label, flag))
                elif flag == 0 and any(value):
                    self.err("record %d %s: null value not zero" % (n, label))
                elif flag == 1 and typ == 1:
                    if 0 not in value:
                        self.err("record %d %s: string not terminated" % (n, label))
                    else:
                        text = value[:value.index(0)]
                        if not text:
                            self.err("record %d %s: empty string not stored as null" % (n, label))
                        elif text.endswith(b" "):
                            self.err("record %d %s: string with trailing blanks" % (n, label))
                elif flag == 1 and typ == 4 and u16(value, 0) > 1:
                    self.err("record %d %s: Boolean value %d" % (n, label, u16(value, 0)))
        chain, seen, link = 0, set(), self.h["free_head"]
        while link:
            if link >= nxt:
                self.err("free chain leaves the records at %d" % link)
                break
            if link in seen:
                self.err("free chain has a cycle at record %d" % link)
                break
            seen.add(link)
            r = self.record(link)
            if r[0] != 1:
                self.err("free chain reaches active record %d" % link)
                break
            chain += 1
            link = u32(r, 1)
        self.out("records", "total %d active %d deleted %d chain %d"
                 % (nxt - 1, active, deleted, chain))

    def run(self):
        self.check_header()
        self.check_descriptors()
        self.check_records()


def main(argv):
    if len(argv) != 2:
        print(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    c = Checker(data)
    try:
        c.run()
    except Fault as e:
        c.err(str(e))
    for line in c.lines:
        print(line)
    for e in c.errors:
        print("ERROR: " + e)
    return 1 if c.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
