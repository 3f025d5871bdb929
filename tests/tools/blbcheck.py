#!/usr/bin/env python3
"""Independent checker of a table's BLOB file (NAME.BLB).

Reads the file from its documented layout only (standard library):

  header, 512 bytes:  u32 change counter, u32 unused, u8 version (3),
                      u32 free-list head, u32 end offset, 495 unused
  block, B bytes:     u32 previous, u32 next, u16 bytes used,
                      u32 record number, u32 total length, B-18 data

all little-endian; blocks lie back to back from offset 512. Encrypted
tables scramble the header as one buffer and each block's 18-byte header
and data area as two, each from the start pair (low, high): for each byte
b ^= low ^ high; low += 1; high -= 1 (mod 256).

Usage:
  blbcheck.py FILE BLOCK_SIZE [--scramble LOW,HIGH] CHAIN...
  CHAIN is FIRST_OFFSET:RECORD_NUMBER (decimal), one per live value.

It walks every given chain and the free list and requires that every block
of the file is reached exactly once, that the end offset is the file size,
and that each chain is well formed (first block's previous 0, one owner,
total length = bytes used, every block but the last full). For each chain
it prints "chain OFFSET length LENGTH crc CRC32HEX" (zlib CRC-32 of the
value), then "free COUNT" and "OK". Problems go to stdout as "error: ..."
lines and the exit status is 1.
"""

import struct
import sys
import zlib

HEADER = 512
BLOCK_HEADER = 18


def scramble(data, pair):
    if pair is None:
        return bytes(data)
    low, high = pair
    out = bytearray(data)
    for i in range(len(out)):
        out[i] ^= low ^ high
        low = (low + 1) & 0xFF
        high = (high - 1) & 0xFF
    return bytes(out)


class Checker:
    def __init__(self, raw, bsize, pair):
        self.raw = raw
        self.b = bsize
        self.pair = pair
        self.errors = []
        self.owner = {}  # block offset -> what reached it

    def error(self, text):
        self.errors.append(text)

    def block(self, off):
        img = self.raw[off:off + self.b]
        head = scramble(img[:BLOCK_HEADER], self.pair)
        data = scramble(img[BLOCK_HEADER:], self.pair)
        prev, nxt, used, rec, total = struct.unpack('<IIHII', head)
        return prev, nxt, used, rec, total, data

    def valid(self, off):
        return (off >= HEADER and (off - HEADER) % self.b == 0
                and off + self.b <= len(self.raw))

    def claim(self, off, who):
        if off in self.owner:
            self.error('block %d reached by %s and by %s' % (off, self.owner[off], who))
            return False
        self.owner[off] = who
        return True

    def chain(self, first, record):
        who = 'chain %d' % first
        if not self.valid(first):
            self.error('%s: first block offset invalid' % who)
            return
        prev_off = 0
        off = first
        value = bytearray()
        total = None
        dsize = self.b - BLOCK_HEADER
        blocks = []
        while off != 0:
            if not self.valid(off):
                self.error('%s: pointer %d invalid' % (who, off))
                return
            if not self.claim(off, who):
                return
            prev, nxt, used, rec, tot, data = self.block(off)
            blocks.append((off, used))
            if prev != prev_off:
                self.error('%s: block %d previous %d, expected %d' % (who, off, prev, prev_off))
            if rec != record:
                self.error('%s: block %d owned by record %d, expected %d' % (who, off, rec, record))
            if off == first:
                total = tot
            elif tot != 0:
                self.error('%s: block %d total length %d, expected 0' % (who, off, tot))
            if used > dsize:
                self.error('%s: block %d uses %d bytes of %d' % (who, off, used, dsize))
                return
            value += data[:used]
            prev_off = off
            off = nxt
        for off, used in blocks[:-1]:
            if used != dsize:
                self.error('%s: block %d not full (%d)' % (who, off, used))
        if blocks and blocks[-1][1] == 0:
            self.error('%s: last block empty' % who)
        if total != len(value):
            self.error('%s: total length %s, blocks hold %d' % (who, total, len(value)))
        print('chain %d length %d crc %08x' % (first, len(value), zlib.crc32(bytes(value))))

    def run(self, chains):
        if len(self.raw) < HEADER:
            self.error('file shorter than its header')
            return
        header = scramble(self.raw[:HEADER], self.pair)
        version = header[8]
        free_head, end = struct.unpack('<II', header[9:17])
        if version != 3:
            self.error('version %d' % version)
        if (len(self.raw) - HEADER) % self.b != 0:
            self.error('file size %d not a whole number of blocks' % len(self.raw))
        if end != len(self.raw):
            self.error('end offset %d, file size %d' % (end, len(self.raw)))
        for first, record in chains:
            self.chain(first, record)
        free = 0
        off = free_head
        while off != 0:
            if not self.valid(off):
                self.error('free list pointer %d invalid' % off)
                break
            if not self.claim(off, 'free list'):
                break
            free += 1
            off = self.block(off)[1]
        print('free %d' % free)
        for off in range(HEADER, len(self.raw) - self.b + 1, self.b):
            if off not in self.owner:
                self.error('block %d reached by nothing (leaked)' % off)


def main(argv):
    args = argv[1:]
    pair = None
    if '--scramble' in args:
        i = args.index('--scramble')
        low, high = args[i + 1].split(',')
        pair = (int(low, 0), int(high, 0))
        del args[i:i + 2]
    if len(args) < 2:
        print(__doc__)
        return 2
    path, bsize = args[0], int(args[1])
    chains = []
    for chain in args[2:]:
        first, record = chain.split(':')
        chains.append((int(first), int(record)))
    with open(path, 'rb') as f:
        raw = f.read()
    c = Checker(raw, bsize, pair)
    c.run(chains)
    for e in c.errors:
        print('error: ' + e)
    if c.errors:
        return 1
    print('OK')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
