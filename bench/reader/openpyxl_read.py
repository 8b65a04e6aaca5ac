"""FILE: openpyxl's read-only mode reading a workbook's first sheet whole,
every row's values as Python objects (what a script would start from).
Prints the same "key value" lines as bench_reader: rows (the data rows,
header left out), wall and CPU time of the read, the peak resident memory
(ru_maxrss) before and after it."""
import resource
import sys
import time

import openpyxl


def peak_kb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


path = sys.argv[1]
before = peak_kb()
wall, cpu = time.perf_counter(), time.process_time()
book = openpyxl.load_workbook(path, read_only=True)
rows = sum(1 for _ in book.worksheets[0].iter_rows(values_only=True)) - 1
book.close()
wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
print("file %s\nrows %d\nwall_ms %.0f\ncpu_ms %.0f\nvmhwm_before_kb %d\nvmhwm_after_kb %d"
      % (path.rsplit("/", 1)[-1], rows, wall * 1000, cpu * 1000, before, peak_kb()))
