#!/usr/bin/python3
"""openpyxl in write-only mode writing the rows bench_recording records: the
same header, the same 65533 rows (same texts, number in column 1).

usage: openpyxl_write.py PATH
Prints "key value" lines like bench_recording.
"""
import datetime
import sys
import time

import openpyxl

HEADER = ["序号", "时间", "电流", "电压", "功率", "温度", "内阻", "容量", "能量", "放电时间"]
ROWS = 65533


def status_kb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return -1


def value_texts(n):  # tests/recording/RowPattern.h
    return [f"{n % 1000 / 100:.2f}A", f"{(1200 + n % 1000) / 100:.2f}V",
            f"{n % 15000 / 100:.2f}W", f"{n % 100}℃", f"{n % 500}MR",
            f"{n / 1000:.3f}AH", f"{n * 12 / 1000:.3f}WH",
            f" {n // 3600 % 100:02d}:{n // 60 % 60:02d}:{n % 60:02d}"]


def rows():
    t = datetime.datetime(2026, 3, 5, 14, 7, 9)
    for n in range(1, ROWS + 1):
        yield [n, t.strftime("%Y-%m-%d %H时:%M分:%S秒")] + value_texts(n)
        t += datetime.timedelta(milliseconds=500)


def main():
    before = status_kb("VmRSS:")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    start = time.perf_counter()
    book = openpyxl.Workbook(write_only=True)
    sheet = book.create_sheet()
    sheet.append(HEADER)
    for row in rows():
        sheet.append(row)
    book.save(sys.argv[1])
    print(f"openpyxl_save_ms {(time.perf_counter() - start) * 1000:.1f}")
    print(f"openpyxl_peak_extra_kb {status_kb('VmHWM:') - before}")


if __name__ == "__main__":
    main()
