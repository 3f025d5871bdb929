#!/usr/bin/env python3
"""Independent checker of index files (NAME.IDX), written from the format.

Usage: idxcheck.py FILE [--dump SLOT] [--scramble LOW HIGH] [--indexes]

Checks the header (version, end offset, counts, descriptors, "Sys Deleted"),
and for every index in use its B+-tree: page types and levels, prev/next
links of every level, subtree counts, interior keys equal to the first key
of their child, key order (reversed for descending indexes), entry counts
against page capacity, compressed-leaf prefixes and byte counts, and that
every page of the file is used exactly once by a tree or a free list.
Prints one summary line per index (with --indexes first one "index" line
per index in use: slot, name, key field numbers, descending,
case-insensitive and unique flags); with --dump, the keys of one index in
order as "hexkey record" lines. Exit status 0 when the file is sound, 1 when
not (each fault printed as "ERROR: ..."). Key order is checked bytewise, so
tables with a locale are out of its reach. Files of password-protected
tables are read with --scramble and the table's start pair: every 4096-byte
block is unscrambled byte by byte (b ^= low ^ high; low += 1; high -= 1,
both mod 256, starting again at each block).
"""
import struct
import sys

BLOCK = 4096
AREA = 4083
ENTRIES = 13


class Fault(Exception):
    pass


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


class Checker:
    def __init__(self, data):
        self.data = data
        self.errors = []
        self.owner = {}  # page offset -> what uses it
        self.summary = []
        self.dumps = {}

    def err(self, msg):
        self.errors.append(msg)

    def page(self, off):
        if off % BLOCK or off < BLOCK or off + BLOCK > len(self.data) or off >= self.end:
            raise Fault("page offset %d outside the file" % off)
        return self.data[off:off + BLOCK]

    def claim(self, off, who):
        if off in self.owner:
            raise Fault("page %d used by %s and %s" % (off, self.owner[off], who))
        self.owner[off] = who

    def check_header(self):
        d = self.data
        if len(d) < BLOCK:
            raise Fault("file shorter than the header")
        if d[8] != 3:
            raise Fault("version %d" % d[8])
        if d[4:8] != b"\0\0\0\0":
            self.err("header bytes 4..7 not zero")
        self.end = u32(d, 9)
        if self.end < BLOCK or self.end % BLOCK:
            raise Fault("end offset %d" % self.end)
        if len(d) != self.end:
            self.err("file size %d differs from end offset %d" % (len(d), self.end))
        self.nsec = d[13]
        if self.nsec > 30:
            raise Fault("%d secondary indexes" % self.nsec)
        self.noprimary = d[3978]
        if self.noprimary not in (0, 1):
            self.err("no-primary-key flag %d" % self.noprimary)
        if any(d[3979:4096]):
            self.err("header tail not zero")
        self.desc = []
        for slot in range(33):
            o = 14 + 120 * slot
            b = d[o:o + 120]
            nl = b[0]
            self.desc.append({
                "name": bytes(b[1:1 + min(nl, 30)]).decode("latin-1"),
                "namelen": nl,
                "k": u16(b, 31),
                "desc": b[33], "ci": b[34], "unique": b[35], "comp": b[36],
                "nfields": b[37],
                "fnums": [u16(b, 54 + 2 * i) for i in range(16)],
                "root": u32(b, 86), "free": u32(b, 90),
                "tail": bytes(b[94:120]),
            })
        s31 = self.desc[31]
        if s31["name"] != "Sys Deleted" or s31["k"] != 5 or s31["comp"] != 0:
            self.err("slot 31 is not 'Sys Deleted' with key size 5")
        if self.noprimary and any(d[14:134]):
            self.err("no primary key but slot 0 not zero")

    def slots(self):
        out = []
        if not self.noprimary and self.desc[0]["k"] != 0:
            out.append(0)
        out.extend(range(1, self.nsec + 1))
        out.append(31)
        return out

    def decode(self, pg, k, comp):
        t = pg[0]
        if t > 3:
            raise Fault("page type %d" % t)
        n = u16(pg, 1)
        leaf = t in (2, 3)
        entries = []
        p = ENTRIES
        if leaf and comp:
            prev = None
            for i in range(n):
                if p + 2 > BLOCK:
                    raise Fault("compressed entry past the page")
                shared = u16(pg, p)
                p += 2
                if i == 0 and shared != 0:
                    raise Fault("first compressed entry with prefix %d" % shared)
                if shared > k:
                    raise Fault("prefix %d above key size" % shared)
                if p + (k - shared) + 4 > BLOCK:
                    raise Fault("compressed entry past the page")
                key = (prev[:shared] if shared else b"") + bytes(pg[p:p + k - shared])
                p += k - shared
                rec = u32(pg, p)
                p += 4
                if prev is not None:
                    m = 0
                    while m < k and prev[m] == key[m]:
                        m += 1
                    if m != shared:
                        self.err("prefix %d where %d bytes are shared" % (shared, m))
                entries.append((key, rec, 1))
                prev = key
            used = p - ENTRIES
            if used > AREA:
                raise Fault("compressed leaf of %d bytes" % used)
            if u16(pg, 11) != used:
                self.err("bytes used %d, entries take %d" % (u16(pg, 11), used))
        else:
            w = k + (4 if leaf else 8)
            cap = AREA // w
            if n > cap:
                raise Fault("%d entries over capacity %d" % (n, cap))
            for i in range(n):
                key = bytes(pg[p:p + k])
                link = u32(pg, p + k)
                cnt = 1 if leaf else u32(pg, p + k + 4)
                entries.append((key, link, cnt))
                p += w
            if u16(pg, 11) != 0:
                self.err("bytes used set in an uncompressed page")
        if any(pg[p:]):
            self.err("bytes after the entries not zero")
        return t, n, u32(pg, 3), u32(pg, 7), entries

    def check_tree(self, slot):
        dsc = self.desc[slot]
        k = dsc["k"]
        if not 1 <= k <= 1034:
            raise Fault("slot %d key size %d" % (slot, k))
        if slot != 31 and not 1 <= dsc["nfields"] <= 16:
            raise Fault("slot %d field count %d" % (slot, dsc["nfields"]))
        name = "slot %d" % slot
        keys = []
        depth = 0
        pages = 0
        level = [dsc["root"]] if dsc["root"] else []
        first = True
        while level:
            depth += 1
            if depth > 40:
                raise Fault("%s deeper than 40 levels" % name)
            nxt = []
            prev_off = 0
            for idx, off in enumerate(level):
                self.claim(off, name)
                pages += 1
                t, n, prv, nx, entries = self.decode(self.page(off), k, dsc["comp"])
                if first and t not in (0, 3):
                    self.err("%s root %d has type %d" % (name, off, t))
                if not first and t not in (1, 2):
                    self.err("%s page %d has type %d below the root" % (name, off, t))
                if n == 0:
                    self.err("%s page %d is empty" % (name, off))
                if prv != prev_off:
                    self.err("%s page %d prev %d, expected %d" % (name, off, prv, prev_off))
                want_next = level[idx + 1] if idx + 1 < len(level) else 0
                if nx != want_next:
                    self.err("%s page %d next %d, expected %d" % (name, off, nx, want_next))
                prev_off = off
                leaf = t in (2, 3)
                if leaf:
                    keys.extend((e[0], e[1]) for e in entries)
                else:
                    for e in entries:
                        nxt.append((e[0], e[1], e[2]))
            first = False
            if nxt:
                # Interior entries: children next level in this order.
                level = [c[1] for c in nxt]
                self.pending = nxt
                # counts and first keys are checked after the whole tree.
                self._interior = getattr(self, "_interior", [])
                self._interior.append((depth, nxt))
            else:
                level = []
        # Verify counts and keys bottom-up: recompute subtree totals.
        totals, firsts = self.subtree_info(dsc, slot)
        for depth_i, nxt in getattr(self, "_interior", []):
            for key, child, cnt in nxt:
                if totals.get(child) != cnt:
                    self.err("%s entry for page %d counts %d, subtree has %s"
                             % (name, child, cnt, totals.get(child)))
                if firsts.get(child) != key:
                    self.err("%s entry for page %d: key is not the child's first key"
                             % (name, child))
        self._interior = []
        sign = -1 if dsc["desc"] else 1
        for i in range(1, len(keys)):
            a, b = keys[i - 1][0], keys[i][0]
            c = (a > b) - (a < b)
            # Every key of an index is distinct (unique, or made so by the
            # record-ID suffix).
            if c * sign >= 0:
                self.err("%s keys out of order or repeated at %d" % (name, i))
                break
        # Free list.
        free = 0
        off = dsc["free"]
        while off:
            if free > self.end // BLOCK:
                raise Fault("%s free list has a cycle" % name)
            self.claim(off, name + " free list")
            free += 1
            off = u32(self.page(off), 7)
        self.summary.append("slot %d keys %d depth %d pages %d free %d"
                            % (slot, len(keys), depth, pages, free))
        self.dumps[slot] = keys

    def subtree_info(self, dsc, slot):
        """Leaf totals and first keys of every page of the tree, recursively."""
        totals, firsts = {}, {}
        k = dsc["k"]
        sys.setrecursionlimit(10000)

        def walk(off, d):
            if d > 40:
                raise Fault("tree deeper than 40 levels")
            t, n, _, _, entries = self.decode(self.page(off), k, dsc["comp"])
            if t in (2, 3):
                totals[off] = n
                firsts[off] = entries[0][0] if entries else None
                return 0
            tot = 0
            depths = set()
            for e in entries:
                depths.add(walk(e[1], d + 1))
                tot += totals[e[1]]
            if len(depths) > 1:
                self.err("slot %d leaves at different depths below page %d" % (slot, off))
            totals[off] = tot
            firsts[off] = firsts[entries[0][1]] if entries else None
            return 1 + max(depths) if depths else 0

        if dsc["root"]:
            walk(dsc["root"], 0)
        return totals, firsts

    def describe(self):
        """One "index" line per index in use: its slot, name, key field
        numbers and the descending, case-insensitive and unique flags."""
        for slot in self.slots():
            if slot == 31:
                continue
            dsc = self.desc[slot]
            fields = dsc["fnums"][:dsc["nfields"]]
            self.summary.append("index %d name=%s fields=%s desc=%d ci=%d unique=%d"
                                % (slot, dsc["name"], ",".join(str(n) for n in fields),
                                   dsc["desc"], dsc["ci"], dsc["unique"]))

    def run(self, describe=False):
        self.check_header()
        if describe:
            self.describe()
        for slot in self.slots():
            self.check_tree(slot)
        for off in range(BLOCK, self.end, BLOCK):
            if off not in self.owner:
                self.err("page %d used by no tree and no free list" % off)


def unscramble(data, low, high):
    out = bytearray(data)
    for start in range(0, len(out) - len(out) % BLOCK, BLOCK):
        lo, hi = low, high
        for i in range(start, start + BLOCK):
            out[i] ^= lo ^ hi
            lo = (lo + 1) & 255
            hi = (hi - 1) & 255
    return bytes(out)


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    dump = None
    describe = False
    args = argv[2:]
    while args:
        if args[0] == "--indexes":
            describe = True
            args = args[1:]
        elif args[0] == "--dump" and len(args) >= 2:
            dump = int(args[1])
            args = args[2:]
        elif args[0] == "--scramble" and len(args) >= 3:
            data = unscramble(data, int(args[1], 0), int(args[2], 0))
            args = args[3:]
        else:
            print(__doc__)
            return 2
    c = Checker(data)
    try:
        c.run(describe)
    except Fault as e:
        c.err(str(e))
    for line in c.summary:
        print(line)
    if dump is not None and dump in c.dumps:
        for key, rec in c.dumps[dump]:
            print("%s %d" % (key.hex(), rec))
    for e in c.errors:
        print("ERROR: " + e)
    return 1 if c.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
