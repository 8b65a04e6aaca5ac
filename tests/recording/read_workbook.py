#!/usr/bin/python3
"""Prints the first worksheet of a workbook as JSON, as openpyxl reads it.

usage: read_workbook.py PATH [EDGE]
With EDGE, only the first and the last EDGE rows are listed; "count" is
always the number of rows in the sheet.
"""
import collections
import json
import sys

import openpyxl


def cell(value):
    if value is None:
        return None
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return {"n": value}
    return {"s": str(value)}


def main():
    path = sys.argv[1]
    edge = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    book = openpyxl.load_workbook(path, read_only=True)
    sheet = book.worksheets[0]
    head, tail, count = [], collections.deque(maxlen=edge or None), 0
    for row in sheet.iter_rows(values_only=True):
        count += 1
        cells = [cell(v) for v in row]
        if edge == 0 or count <= edge:
            head.append(cells)
        else:
            tail.append(cells)
    json.dump({"sheets": book.sheetnames, "count": count, "head": head, "tail": list(tail)},
              sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
