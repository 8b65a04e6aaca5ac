"""KIND PATH: a workbook written by another program than the panel (openpyxl).
panel: the panel's layout, a date cell, a number cell, a rich-text string, a
missing cell; foreign: another header; badrow: a voltage that is no value;
bomb: a zip whose sheet inflates beyond the reader's cap; other-zip: a zip
that is no workbook."""
import datetime
import re
import sys
import zipfile

import openpyxl

kind, path = sys.argv[1], sys.argv[2]
HEADER = ["序号", "时间", "电流", "电压", "功率", "温度", "内阻", "容量", "能量", "放电时间"]

if kind == "other-zip":
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("readme.txt", "not a workbook")
    sys.exit(0)
if kind == "bomb":
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/workbook.xml", '<workbook xmlns:r="urn:r"><sheets>'
                   '<sheet name="S" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels", '<Relationships><Relationship Id="rId1" '
                   'Target="worksheets/sheet1.xml" Type="x/worksheet"/></Relationships>')
        with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as sheet:
            sheet.write(b"<worksheet><sheetData>")
            for _ in range(520):
                sheet.write(b" " * (1 << 20))
    sys.exit(0)

book = openpyxl.Workbook()
sheet = book.active
sheet.append(["Name", "Value"] if kind == "foreign" else HEADER)
sheet.append([1, "2026-03-05 14时:05分:09秒", "2.00A", "12.34V", "24.68W", "28℃", "35MR",
              "0.000AH", "0.000WH", " 00:00:00"])
sheet.append([None, datetime.datetime(2026, 3, 5, 14, 5, 10), "2.00A",
              "abc" if kind == "badrow" else 12.3, "24.60W", "29℃", "35MR", "0.001AH",
              "0.012WH", " 00:00:01"])
book.save(path)
if kind == "panel":  # as spreadsheet programs store text: shared strings, one in rich-text runs
    with zipfile.ZipFile(path) as z:
        parts = {n: z.read(n).decode() for n in z.namelist()}
    strings = []

    def shared(m):
        strings.append(m.group(2))
        return '<c r="%s" t="s"><v>%d</v></c>' % (m.group(1), len(strings) - 1)

    sheet_part = "xl/worksheets/sheet1.xml"
    parts[sheet_part] = re.sub(r'<c r="(\w+)" t="inlineStr"><is><t[^>]*>([^<]*)</t></is></c>',
                               shared, parts[sheet_part])
    items = ["<si><t xml:space=\"preserve\">%s</t></si>" % t for t in strings]
    items = [i.replace('<t xml:space="preserve">12.34V</t>',
                       "<r><t>12.</t></r><r><rPr><b/></rPr><t>34V</t></r>") for i in items]
    parts["xl/sharedStrings.xml"] = ('<sst xmlns="http://schemas.openxmlformats.org/'
                                     'spreadsheetml/2006/main">%s</sst>' % "".join(items))
    parts["xl/_rels/workbook.xml.rels"] = parts["xl/_rels/workbook.xml.rels"].replace(
        "</Relationships>", '<Relationship Id="rIdS" Target="sharedStrings.xml" Type="http://'
        'schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings"/>'
        "</Relationships>")
    parts["[Content_Types].xml"] = parts["[Content_Types].xml"].replace(
        "</Types>", '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
    parts["[Content_Types].xml"] = parts["[Content_Types].xml"].replace(
        "</Types>", '<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/></Types>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in parts.items():
            z.writestr(name, data)
