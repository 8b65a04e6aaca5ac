"""PATH [EDGE]: the first sheet as JSON; with EDGE its first and last EDGE rows only."""
import json
import sys

import openpyxl

path, edge = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 0
book = openpyxl.load_workbook(path, read_only=True)
rows = [list(row) for row in book.worksheets[0].iter_rows(values_only=True)]
json.dump({"count": len(rows), "head": rows[:edge] if edge else rows,
           "tail": rows[max(edge, len(rows) - edge):] if edge else []}, sys.stdout, default=str)
