#!/usr/bin/env python3
"""Checks the resources and imports of the linked MorivaneUpdate.exe against
what the program needs, and lists them. Run by the build after linking.

  check_resources.py EXE --catalogue ui/catalogue.def --payloads DIR --ids 130,137,...

Checked: the string table holds exactly the catalogue's texts, language
1041; dialog 102 is the update dialog's extended template, field by field;
icon group 128 holds a 32 x 32 and a 16 x 16 image of 16 colours; the
"SABUNN" resources of the ids given (the file table's) are byte for byte the payload
files, and the "SABUNNSUM" resources of those ids byte for byte their sums
files where the payload set has them (and absent where it has none); a
version record exists; every import is one Windows 95, 98 and Me provide
(win9x_api.py: a function on the allow-list, none they lack, no Unicode
function); with --stripped, the program carries no symbol table and no debug
sections.
Exits 1 with a list of what is wrong, after deleting EXE so that the build
does not take it for up to date.

PE layout used (little-endian): the DOS header's e_lfanew (offset 0x3C)
points at "PE\\0\\0", then the 20-byte COFF header (section count at +2,
symbol table offset at +8 and symbol count at +12, optional header size at
+16; the string table follows the symbols, 18 bytes each, and a section
name "/N" is the string at its offset N), the optional header (PE32 magic 0x10B; data directories from +96:
import table is entry 1, resources entry 2, 8 bytes each), then 40-byte
section headers (name at +0, 8 bytes; virtual size +8, RVA +12, raw size +16,
raw offset +20). The resource tree has three levels (type, name, language);
each directory is 16 bytes followed by 8-byte entries (name or id, offset
with the top bit marking a subdirectory); a leaf is RVA, size, code page.
"""
import argparse
import os
import re
import struct
import sys

from win9x_api import Win9xApi

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16
JAPANESE = 1041


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        coff = pe + 4
        self.machine, sections = struct.unpack_from("<HH", data, coff)
        self.symbol_table, self.symbol_count = struct.unpack_from("<II", data, coff + 8)
        optional_size = struct.unpack_from("<H", data, coff + 16)[0]
        optional = coff + 20
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic != 0x10B:
            raise ValueError("not a 32-bit PE image")
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(16)]
        self.sections = []
        self.section_names = []
        table = optional + optional_size
        # A name longer than 8 bytes is "/" and its offset in the string
        # table, which follows the symbol table (18 bytes an entry).
        strings = self.symbol_table + 18 * self.symbol_count
        for i in range(sections):
            name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0")
            if name.startswith(b"/") and self.symbol_table:
                start = strings + int(name[1:])
                name = data[start:data.index(b"\0", start)]
            self.section_names.append(name.decode("latin-1"))
            vsize, rva, rawsize, rawoff = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(vsize, rawsize), rawoff))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstring(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def resources(self):
        """{(type, name): {language: bytes}}; type and name are ints or strings."""
        rva, size = self.directories[2]
        if size == 0:
            return {}
        base = self.offset(rva)

        def entries(offset):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if name & 0x80000000:
                    o = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, o)[0]
                    name = self.data[o + 2:o + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        found = {}
        for rtype, t in entries(0):
            for name, n in entries(t & 0x7FFFFFFF):
                for language, leaf in entries(n & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    o = self.offset(data_rva)
                    found.setdefault((rtype, name), {})[language] = self.data[o:o + data_size]
        return found

    def imports(self):
        """[(dll, [function, ...])]"""
        rva, size = self.directories[1]
        result = []
        o = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, o)
            if name == 0:
                break
            functions = []
            t = self.offset(lookup or thunks)
            while True:
                entry = struct.unpack_from("<I", self.data, t)[0]
                if entry == 0:
                    break
                if entry & 0x80000000:
                    functions.append("#%d" % (entry & 0xFFFF))
                else:
                    functions.append(self.cstring(entry + 2))
                t += 4
            result.append((self.cstring(name), functions))
            o += 20
        return result


def read_catalogue(path):
    """{number: text} from the catalogue's MORIVANE_MESSAGE list."""
    pattern = re.compile(r'^MORIVANE_MESSAGE\((\d+), (IDS_\w+), "((?:[^"\\]|\\.)*)",', re.M)
    with open(path, encoding="utf-8") as f:
        source = f.read()
    texts = {}
    for number, _, text in pattern.findall(source):
        texts[int(number)] = re.sub(r"\\(.)", lambda m: {"n": "\n"}.get(m.group(1), m.group(1)),
                                    text)
    return texts


def string_table(resources, problems):
    """{number: (language, text)} from the RT_STRING blocks of 16 texts."""
    table = {}
    for (rtype, block), languages in resources.items():
        if rtype != RT_STRING:
            continue
        for language, data in languages.items():
            o = 0
            for index in range(16):
                length = struct.unpack_from("<H", data, o)[0]
                text = data[o + 2:o + 2 + 2 * length].decode("utf-16-le")
                o += 2 + 2 * length
                if length:
                    table[(block - 1) * 16 + index] = (language, text)
    return table


class Reader:
    def __init__(self, data):
        self.data, self.o = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.o)
        self.o += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def sz(self):
        end = self.o
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.o:end].decode("utf-16-le")
        self.o = end + 2
        return text

    def sz_or_ord(self):
        if struct.unpack_from("<H", self.data, self.o)[0] == 0xFFFF:
            self.o += 2
            return self.take("H")
        return self.sz()

    def align(self):
        self.o = (self.o + 3) & ~3


def check_dialog(data, caption, problems):
    r = Reader(data)
    version, signature, _help, ex_style, style, count, x, y, cx, cy = r.take("HHIIIHhhhh")
    menu, window_class, title = r.sz_or_ord(), r.sz_or_ord(), r.sz()
    point, weight, italic, charset = r.take("HHBB")
    face = r.sz()
    expect = [("template", (version, signature), (1, 0xFFFF)),
              ("style", hex(style), hex(0x90C800C0)),
              ("extended style", hex(ex_style), hex(0x00040000)),
              ("rectangle", (x, y, cx, cy), (0, 0, 175, 77)),
              ("menu and class", (menu, window_class), ("", "")),
              ("caption", title, caption),
              ("font", (point, weight, italic, charset, face),
               (9, 400, 0, 1, "ＭＳ Ｐゴシック")),
              ("control count", count, 3)]
    controls = [(1, 0x50010001, (60, 56, 50, 14), 0x80, "OK"),
                (2, 0x50010000, (118, 56, 50, 14), 0x80, "ｷｬﾝｾﾙ"),
                (1000, 0x50020000, (16, 14, 142, 40), 0x82, "")]
    for i in range(min(count, len(controls))):
        r.align()
        _help, ex, st, x, y, cx, cy, cid = r.take("IIIhhhhI")
        cls, text = r.sz_or_ord(), r.sz_or_ord()
        extra = r.take("H")
        r.o += extra
        want = controls[i]
        expect.append(("control %d" % (i + 1), (cid, hex(st), hex(ex), (x, y, cx, cy), cls, text),
                       (want[0], hex(want[1]), hex(0), want[2], want[3], want[4])))
    for what, got, wanted in expect:
        if got != wanted:
            problems.append("dialog 102 %s: %r, expected %r" % (what, got, wanted))


def check_icons(resources, problems):
    group = resources.get((RT_GROUP_ICON, 128), {}).get(JAPANESE)
    if group is None:
        problems.append("icon group 128 (language 1041) missing")
        return []
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    images = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, image_id = struct.unpack_from("<BBBBHHIH", group,
                                                                           6 + 14 * i)
        image = resources.get((RT_ICON, image_id), {}).get(JAPANESE)
        if image is None:
            problems.append("icon image %d missing" % image_id)
            continue
        hw, hh, hp, hb = struct.unpack_from("<iiHH", image, 4)
        if (hw, hh // 2, hb) != (w or 256, h or 256, bits) or len(image) != size:
            problems.append("icon image %d does not match its directory entry" % image_id)
        images.append((w, h, colours, bits, size))
    if kind != 1 or sorted((w, h, c, b) for w, h, c, b, _ in images) != [(16, 16, 16, 4),
                                                                         (32, 32, 16, 4)]:
        problems.append("icon group 128 holds %r, expected 32x32 and 16x16 of 16 colours"
                        % images)
    return images


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--payloads", required=True)
    parser.add_argument("--ids", required=True, help="the payload ids, comma-separated")
    parser.add_argument("--stripped", action="store_true",
                        help="the program must carry no symbol table and no debug sections")
    args = parser.parse_args()

    with open(args.exe, "rb") as f:
        pe = Pe(f.read())
    resources = pe.resources()
    catalogue = read_catalogue(args.catalogue)
    problems = []

    if pe.machine != 0x14C or pe.subsystem != 2:
        problems.append("not an i386 GUI program (machine 0x%x, subsystem %d)"
                        % (pe.machine, pe.subsystem))

    table = string_table(resources, problems)
    if sorted(table) != sorted(catalogue):
        problems.append("string table numbers %r, expected %r" % (sorted(table), sorted(catalogue)))
    for number, text in catalogue.items():
        language, stored = table.get(number, (None, None))
        if language != JAPANESE or stored != text:
            problems.append("string %d: language %r text %r, expected %r"
                            % (number, language, stored, text))

    dialog = resources.get((RT_DIALOG, 102), {})
    if list(dialog) != [JAPANESE]:
        problems.append("dialog 102 languages %r, expected [1041]" % list(dialog))
    else:
        check_dialog(dialog[JAPANESE], catalogue.get(55), problems)

    images = check_icons(resources, problems)

    for pid in [int(i) for i in args.ids.split(",")]:
        stored = resources.get(("SABUNN", pid), {})
        with open(os.path.join(args.payloads, "%d.sabunn" % pid), "rb") as f:
            wanted = f.read()
        if [bytes(v) for v in stored.values()] != [wanted]:
            problems.append("SABUNN %d differs from its payload file" % pid)
        # The sums ship exactly where the payload set has them.
        sums = resources.get(("SABUNNSUM", pid), {})
        sums_path = os.path.join(args.payloads, "%d.sum" % pid)
        wanted_sums = [open(sums_path, "rb").read()] if os.path.exists(sums_path) else []
        if [bytes(v) for v in sums.values()] != wanted_sums:
            problems.append("SABUNNSUM %d differs from the payload set's sums" % pid)
    if (RT_VERSION, 1) not in resources:
        problems.append("version record missing")

    imports = pe.imports()
    try:
        problems += ["import " + fault for fault in Win9xApi().faults(imports)]
    except ValueError as e:
        problems.append("the list of imports cannot be used: %s" % e)

    if args.stripped:
        # A stripped program keeps the string table alone when a section
        # name needs it (".eh_frame"), but no symbols.
        if pe.symbol_count:
            problems.append("a symbol table of %d entries: not stripped" % pe.symbol_count)
        debug = [n for n in pe.section_names if n.startswith(".debug")]
        if debug:
            problems.append("debug sections %s: not stripped" % " ".join(debug))

    names = {RT_ICON: "ICON", RT_DIALOG: "DIALOG", RT_STRING: "STRING", RT_GROUP_ICON:
             "GROUP_ICON", RT_VERSION: "VERSION"}
    print("resources of %s:" % args.exe)
    for (rtype, name), languages in sorted(resources.items(), key=lambda k: (str(k[0][0]),
                                                                           str(k[0][1]))):
        for language, data in languages.items():
            print("  %-10s %-5s lang %4d  %8d bytes" % (names.get(rtype, rtype), name, language,
                                                        len(data)))
    print("icon images: " + ", ".join("%dx%d %d colours %d bytes" % (w, h, c, s)
                                      for w, h, c, _, s in images))
    print("imports:")
    for dll, functions in imports:
        print("  %s: %s" % (dll, " ".join(functions)))
    if problems:
        print("\n".join("error: " + p for p in problems), file=sys.stderr)
        # A program that fails its check must not be taken for built when
        # its inputs are put back as they were.
        os.remove(args.exe)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
