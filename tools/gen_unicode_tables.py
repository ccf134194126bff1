#!/usr/bin/env python3
"""Writes runtime/unicode_tables.cpp, the case and width tables of the runtime's Unicode module,
from the Unicode Character Database that Debian's unicode-data package installs.

    apt-get install -y unicode-data
    python3 tools/gen_unicode_tables.py [--ucd /usr/share/unicode] [--out runtime/unicode_tables.cpp]

The output is committed, so building never needs the package; run this again only to move to a
new Unicode version.

Case: the simple mappings of UnicodeData.txt (fields 12 and 13). For the BMP they become two-stage
tables (a block index per 128 code points, blocks of mapped values shared between the upper and
lower tables, 0 meaning unchanged), so a lookup is two loads and nothing is built at start.
Above U+FFFF they are sorted (from, to) pairs for a binary search. No simple mapping crosses the
BMP boundary in either direction; the generator checks it, since the runtime relies on it to
map a string without ever needing a wider unit than the mapped character's own plane.

Widths, after the usual wcwidth rules (Markus Kuhn's):
  zero:      general categories Mn, Me and Cf, less U+00AD SOFT HYPHEN (it prints as a hyphen
             where a line breaks, so terminals give it a cell), plus the conjoining Hangul
             medial vowels and final consonants U+1160..U+11FF and U+D7B0..U+D7FF, which
             attach to the preceding initial consonant;
  wide:      East_Asian_Width W or F, with the file's own defaults for unlisted code points
             (W in the CJK ideograph blocks and in planes 2 and 3);
  ambiguous: East_Asian_Width A, less anything already zero-width, so a combining mark stays
             zero-width in the CJK reckoning too.
Control characters are left to the runtime's code, not the tables.
"""

import argparse
import os
import re
import sys

BLOCK_SHIFT = 7
BLOCK_SIZE = 1 << BLOCK_SHIFT
BMP_BLOCKS = 0x10000 >> BLOCK_SHIFT

SOFT_HYPHEN = 0x00AD
CONJOINING_JAMO = [(0x1160, 0x11FF), (0xD7B0, 0xD7FF)]
# The defaults that EastAsianWidth.txt states in its header for code points it does not list.
WIDE_DEFAULTS = [(0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                 (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)]


def fail(message):
    sys.exit("gen_unicode_tables: " + message)


def read_unicode_data(path):
    """Yields (code point, fields) for every code point, expanding <..., First>/<..., Last> ranges."""
    first = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            if len(fields) != 15:
                continue
            cp = int(fields[0], 16)
            name = fields[1]
            if name.endswith(", First>"):
                first = cp
                continue
            if name.endswith(", Last>"):
                for c in range(first, cp + 1):
                    yield c, fields
                first = None
                continue
            yield cp, fields


def read_east_asian_width(path):
    """Returns (version, {code point: width class}) with the header's defaults applied."""
    version = None
    widths = {}
    for lo, hi in WIDE_DEFAULTS:
        for c in range(lo, hi + 1):
            widths[c] = "W"
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"#\s*EastAsianWidth-(\d+\.\d+\.\d+)\.txt", line)
            if m:
                version = m.group(1)
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            span, cls = (s.strip() for s in line.split(";"))
            lo, _, hi = span.partition("..")
            lo = int(lo, 16)
            hi = int(hi, 16) if hi else lo
            for c in range(lo, hi + 1):
                widths[c] = cls
    if not version:
        fail("no version line in " + path)
    return version, widths


def to_ranges(code_points):
    """Sorted, merged inclusive ranges covering the code points."""
    ranges = []
    for c in sorted(code_points):
        if ranges and ranges[-1][1] + 1 == c:
            ranges[-1][1] = c
        else:
            ranges.append([c, c])
    return ranges


def case_tables(upper, lower):
    """BMP two-stage tables and the pair lists above U+FFFF."""
    blocks = [tuple([0] * BLOCK_SIZE)]  # block 0: nothing maps
    block_ids = {blocks[0]: 0}

    def index_for(mapping):
        index = []
        for b in range(BMP_BLOCKS):
            block = tuple(mapping.get((b << BLOCK_SHIFT) + i, 0) for i in range(BLOCK_SIZE))
            if block not in block_ids:
                block_ids[block] = len(blocks)
                blocks.append(block)
            index.append(block_ids[block])
        return index

    upper_index = index_for(upper)
    lower_index = index_for(lower)
    if len(blocks) > 256:
        fail("%d case blocks do not fit an 8-bit index" % len(blocks))
    upper_pairs = sorted((k, v) for k, v in upper.items() if k > 0xFFFF)
    lower_pairs = sorted((k, v) for k, v in lower.items() if k > 0xFFFF)
    return upper_index, lower_index, blocks, upper_pairs, lower_pairs


def hex_list(values, width, per_line, indent="    "):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(indent + ", ".join("0x%0*X" % (width, v) for v in values[i:i + per_line]) + ",")
    return "\n".join(lines)


def int_list(values, per_line, indent="    "):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append(indent + ", ".join("%d" % v for v in values[i:i + per_line]) + ",")
    return "\n".join(lines)


def pair_list(pairs, indent="    "):
    lines = []
    for i in range(0, len(pairs), 4):
        lines.append(indent + " ".join("{0x%05X, 0x%05X}," % p for p in pairs[i:i + 4]))
    return "\n".join(lines)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--ucd", default="/usr/share/unicode")
    parser.add_argument("--out", default=os.path.join(here, "..", "runtime", "unicode_tables.cpp"))
    args = parser.parse_args()

    data_path = os.path.join(args.ucd, "UnicodeData.txt")
    eaw_path = os.path.join(args.ucd, "EastAsianWidth.txt")
    for p in (data_path, eaw_path):
        if not os.path.exists(p):
            fail("%s is missing: apt-get install -y unicode-data" % p)

    upper, lower, zero = {}, {}, set()
    for cp, f in read_unicode_data(data_path):
        category = f[2]
        if f[12]:
            upper[cp] = int(f[12], 16)
        if f[13]:
            lower[cp] = int(f[13], 16)
        if category in ("Mn", "Me", "Cf") and cp != SOFT_HYPHEN:
            zero.add(cp)
    for lo, hi in CONJOINING_JAMO:
        zero.update(range(lo, hi + 1))

    for name, mapping in (("upper", upper), ("lower", lower)):
        for k, v in mapping.items():
            if (k > 0xFFFF) != (v > 0xFFFF):
                fail("%s case of U+%04X is U+%04X, across the BMP boundary" % (name, k, v))
            if v == 0:
                fail("U+%04X maps to U+0000, which the tables use for unchanged" % k)

    version, eaw = read_east_asian_width(eaw_path)
    wide = {c for c, w in eaw.items() if w in ("W", "F")}
    ambiguous = {c for c, w in eaw.items() if w == "A"} - zero

    upper_index, lower_index, blocks, upper_pairs, lower_pairs = case_tables(upper, lower)
    zero_ranges = to_ranges(zero)
    wide_ranges = to_ranges(wide)
    ambiguous_ranges = to_ranges(ambiguous)

    def ranges_text(ranges):
        return pair_list([tuple(r) for r in ranges])

    flat_blocks = [v for block in blocks for v in block]
    out = []
    out.append("// Generated by tools/gen_unicode_tables.py from the Unicode Character Database %s" % version)
    out.append("// (UnicodeData.txt, EastAsianWidth.txt). Do not edit; run the generator again instead.")
    out.append("// Simple case mappings: %d upper, %d lower. Width ranges: %d zero, %d wide, %d ambiguous."
               % (len(upper), len(lower), len(zero_ranges), len(wide_ranges), len(ambiguous_ranges)))
    out.append('#include "runtime/unicode_tables.h"')
    out.append("")
    out.append("namespace zub::unicode::tables {")
    out.append("")
    out.append('const char kUnicodeVersion[] = "%s";' % version)
    out.append("")
    out.append("const uint8_t kUpperIndex[kCaseIndexSize] = {")
    out.append(int_list(upper_index, 32))
    out.append("};")
    out.append("")
    out.append("const uint8_t kLowerIndex[kCaseIndexSize] = {")
    out.append(int_list(lower_index, 32))
    out.append("};")
    out.append("")
    out.append("const uint32_t kCaseBlockCount = %d;" % len(blocks))
    out.append("const uint16_t kCaseBlocks[%d * kCaseBlockSize] = {" % len(blocks))
    out.append(hex_list(flat_blocks, 4, 16))
    out.append("};")
    out.append("")
    for name, pairs in (("kUpperPairs", upper_pairs), ("kLowerPairs", lower_pairs)):
        out.append("const uint32_t %sCount = %d;" % (name, len(pairs)))
        out.append("const Pair %s[%d] = {" % (name, len(pairs)))
        out.append(pair_list(pairs))
        out.append("};")
        out.append("")
    for name, ranges in (("kZeroWidth", zero_ranges), ("kWide", wide_ranges),
                         ("kAmbiguous", ambiguous_ranges)):
        out.append("const uint32_t %sCount = %d;" % (name, len(ranges)))
        out.append("const Pair %s[%d] = {" % (name, len(ranges)))
        out.append(ranges_text(ranges))
        out.append("};")
        out.append("")
    out.append("}  // namespace zub::unicode::tables")

    with open(args.out, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    print("Unicode %s: %d upper and %d lower mappings (%d BMP case blocks, %d + %d pairs above U+FFFF); "
          "%d zero-width, %d wide, %d ambiguous ranges"
          % (version, len(upper), len(lower), len(blocks), len(upper_pairs), len(lower_pairs),
             len(zero_ranges), len(wide_ranges), len(ambiguous_ranges)))


if __name__ == "__main__":
    main()
