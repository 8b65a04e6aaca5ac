"""KIND PATH [ROWS]: a workbook written by another program than the panel.

Through openpyxl: panel (the panel's layout, a date cell, a number cell, a
rich-text string, a missing cell), foreign (another header), badrow (a
voltage that is no value), million (ROWS rows of the panel's layout, in
openpyxl's write-only mode).

Crafted with zipfile or by hand, to turn the reader against the program:
nested (ten million nested elements, about 69 KB), bigcell (one 500 MiB inline
cell, about 511 KB), bigshared (one 500 MiB shared string), each also
-padded (behind 4 MiB of noise: an honest compression ratio), manyshared
(8,388,609 shared strings), bigattribute (a tag of 20 MiB), bomb (a sheet of
520 MiB of blanks), liar (the same, its directory claiming a modest ratio),
huge (a directory claiming a 3.75 GiB sheet), doctype (a sheet with a DTD),
other-zip (a zip that is no workbook)."""
import base64
import datetime
import os
import re
import struct
import sys
import zipfile
import zlib

HEADER = ["序号", "时间", "电流", "电压", "功率", "温度", "内阻", "容量", "能量", "放电时间"]
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
WORKBOOK = ('<workbook xmlns="%s" xmlns:r="%s"><sheets><sheet name="S" sheetId="1" r:id="rId1"/>'
            '</sheets></workbook>' % (MAIN, REL))
RELS = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Target="worksheets/sheet1.xml" Type="%s/worksheet"/>'
        '<Relationship Id="rId2" Target="sharedStrings.xml" Type="%s/sharedStrings"/>'
        '</Relationships>' % (REL, REL))
HEADER_ROW = ('<row r="1">%s</row>' % "".join(
    '<c r="%s1" t="inlineStr"><is><t>%s</t></is></c>' % (chr(65 + i), h)
    for i, h in enumerate(HEADER))).encode()
MIB = 1 << 20
EMPTY_SST = b'<sst xmlns="%s"/>' % MAIN.encode()


def crafted(path, sheet_pieces, shared_pieces=(EMPTY_SST,)):
    """A workbook whose sheet and shared strings are written piece by piece."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/workbook.xml", WORKBOOK)
        z.writestr("xl/_rels/workbook.xml.rels", RELS)
        for name, pieces in (("xl/sharedStrings.xml", shared_pieces),
                             ("xl/worksheets/sheet1.xml", sheet_pieces)):
            with z.open(name, "w", force_zip64=True) as part:
                for piece in pieces:
                    part.write(piece)


def repeated(text, count, chunk=1 << 16):
    block = text * chunk
    for _ in range(count // chunk):
        yield block
    yield text * (count % chunk)


def sheet(*middle):
    yield b'<worksheet xmlns="%s"><sheetData>' % MAIN.encode()
    yield HEADER_ROW
    yield from middle
    yield b"</sheetData></worksheet>"


def big_text():
    yield from repeated(b"x" * 1024, 500 * 1024)


def noise(mib):
    """Text that does not compress (3 bytes of it to 4): a file padded with
    it keeps within an honest compression ratio."""
    for _ in range(mib):
        yield base64.b64encode(os.urandom(MIB * 3 // 4))


def padded(pieces, mib=4):
    """The pieces behind a comment of `mib` MiB of noise, after the first piece."""
    pieces = iter(pieces)
    yield next(pieces)
    yield b"<!--"
    yield from noise(mib)
    yield b"-->"
    yield from pieces


def raw_zip(path, entries):
    """A zip laid out by hand: (name, data, declared compressed size,
    declared uncompressed size), the data deflated; the local and central
    headers both say the declared sizes."""
    out, central = bytearray(), bytearray()
    for name, data, csize, usize in entries:
        packer = zlib.compressobj(6, zlib.DEFLATED, -15)
        packed = b"".join(packer.compress(piece) for piece in data) + packer.flush()
        crc = 0
        for piece in data:
            crc = zlib.crc32(piece, crc)
        csize = len(packed) if csize is None else csize
        usize = sum(len(p) for p in data) if usize is None else usize
        name = name.encode()
        offset = len(out)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, csize, usize,
                           len(name), 0) + name + packed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0, crc,
                               csize, usize, len(name), 0, 0, 0, 0, 0, offset) + name
    count = len(entries)
    out += central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central),
                                 len(out), 0)
    with open(path, "wb") as f:
        f.write(out)


def blanks_sheet():
    return [b"<worksheet><sheetData>"] + list(repeated(b" ", 520 * MIB, 1 << 20))


def write_million(path, rows):
    import openpyxl
    book = openpyxl.Workbook(write_only=True)
    ws = book.create_sheet()
    ws.append(HEADER)
    start = datetime.date(2026, 3, 5)
    for i in range(rows):
        h, m, s = i // 3600, i // 60 % 60, i % 60
        day = start + datetime.timedelta(days=h // 24)
        ws.append([i + 1, "%s %02d时:%02d分:%02d秒" % (day.isoformat(), h % 24, m, s), "2.00A",
                   "%d.%02dV" % divmod(1260 - i // 10000, 100), "24.00W", "65526℃", "35MR",
                   "%d.%03dAH" % divmod(i * 2000 // 3600, 1000),
                   "%d.%03dWH" % divmod(i * 24000 // 3600, 1000), " %02d:%02d:%02d" % (h, m, s)])
    book.save(path)


def write_openpyxl(kind, path):
    import openpyxl
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.append(["Name", "Value"] if kind == "foreign" else HEADER)
    sheet.append([1, "2026-03-05 14时:05分:09秒", "2.00A", "12.34V", "24.68W", "28℃", "35MR",
                  "0.000AH", "0.000WH", " 00:00:00"])
    sheet.append([None, datetime.datetime(2026, 3, 5, 14, 5, 10), "2.00A",
                  "abc" if kind == "badrow" else 12.3, "24.60W", "29℃", "35MR", "0.001AH",
                  "0.012WH", " 00:00:01"])
    book.save(path)
    if kind == "panel":  # as spreadsheet programs store text: shared strings, one in runs
        with zipfile.ZipFile(path) as z:
            parts = {n: z.read(n).decode() for n in z.namelist()}
        strings = []

        def shared(m):
            strings.append(m.group(2))
            return '<c r="%s" t="s"><v>%d</v></c>' % (m.group(1), len(strings) - 1)

        sheet_part = "xl/worksheets/sheet1.xml"
        parts[sheet_part] = re.sub(
            r'<c r="(\w+)" t="inlineStr"><is><t[^>]*>([^<]*)</t></is></c>', shared,
            parts[sheet_part])
        items = ["<si><t xml:space=\"preserve\">%s</t></si>" % t for t in strings]
        items = [i.replace('<t xml:space="preserve">12.34V</t>',
                           "<r><t>12.</t></r><r><rPr><b/></rPr><t>34V</t></r>") for i in items]
        parts["xl/sharedStrings.xml"] = ('<sst xmlns="%s">%s</sst>' % (MAIN, "".join(items)))
        parts["xl/_rels/workbook.xml.rels"] = parts["xl/_rels/workbook.xml.rels"].replace(
            "</Relationships>", '<Relationship Id="rIdS" Target="sharedStrings.xml" Type="%s/'
            'sharedStrings"/></Relationships>' % REL)
        parts["[Content_Types].xml"] = parts["[Content_Types].xml"].replace(
            "</Types>", '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in parts.items():
                z.writestr(name, data)


def main():
    kind, path = sys.argv[1], sys.argv[2]
    if kind == "other-zip":
        with zipfile.ZipFile(path, "w") as z:
            z.writestr("readme.txt", "not a workbook")
    elif kind.startswith("nested"):
        nested = sheet(*repeated(b"<a>", 10_000_000), *repeated(b"</a>", 10_000_000))
        crafted(path, padded(nested) if kind.endswith("-padded") else nested)
    elif kind.startswith("bigcell"):
        cell = sheet(b'<row r="2"><c r="B2" t="inlineStr"><is><t>', *big_text(),
                     b"</t></is></c></row>")
        crafted(path, padded(cell) if kind.endswith("-padded") else cell)
    elif kind.startswith("bigshared"):
        strings = [b'<sst xmlns="%s"><si><t>' % MAIN.encode(), *big_text(), b"</t></si></sst>"]
        crafted(path, sheet(b'<row r="2"><c r="B2" t="s"><v>0</v></c></row>'),
                padded(strings) if kind.endswith("-padded") else strings)
    elif kind == "manyshared":  # one shared string beyond the count kept, behind noise
        crafted(path, sheet(), padded([b'<sst xmlns="%s">' % MAIN.encode(),
                                       *repeated(b"<si/>", 8 * MIB + 1), b"</sst>"], 1))
    elif kind == "bigattribute":  # 20 MiB in one tag
        crafted(path, sheet(b'<row r="2" x="', *noise(20), b'"/>'))
    elif kind == "doctype":
        crafted(path, [b'<!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa">]>',
                       *sheet(b'<row r="2"><c r="B2" t="inlineStr"><is><t>&a;</t></is></c></row>')])
    elif kind == "bomb":
        crafted(path, blanks_sheet())
    elif kind in ("liar", "huge"):
        parts = [("xl/workbook.xml", [WORKBOOK.encode()], None, None),
                 ("xl/_rels/workbook.xml.rels", [RELS.encode()], None, None),
                 ("xl/sharedStrings.xml", [EMPTY_SST], None, None)]
        if kind == "liar":  # 520 MiB from about 520 KB, said to be from 100 MiB
            parts.append(("xl/worksheets/sheet1.xml", blanks_sheet(), 100 * MIB, None))
        else:
            parts.append(("xl/worksheets/sheet1.xml", list(sheet()), None, 0xF0000000))
        raw_zip(path, parts)
    elif kind == "million":
        write_million(path, int(sys.argv[3]))
    else:
        write_openpyxl(kind, path)


main()
