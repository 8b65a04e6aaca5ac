"""PATH ROWS: a workbook of the panel's layout as another program (openpyxl)
writes it: text cells as the panel's, a few value cells as plain numbers, one
row a second. Two discharges of ROWS rows each, the module cleared between
them, and a stretch with the load off after each."""
import sys

import openpyxl

path, rows = sys.argv[1], int(sys.argv[2])
HEADER = ["序号", "时间", "电流", "电压", "功率", "温度", "内阻", "容量", "能量", "放电时间"]

book = openpyxl.Workbook()
sheet = book.active
sheet.append(HEADER)
number = 0
for part in range(2):
    capacity = energy = 0.0
    for i in range(rows + 4):
        on = i < rows
        current = 1.00 if on else 0.0
        voltage = round(4.15 - 1.1 * i / rows, 2) if on else 3.30
        power = round(current * voltage, 2)
        capacity += current / 3600
        energy += power / 3600
        seconds = min(i, rows - 1)
        t = part * 7200 + 50 * 60 + number
        number += 1
        sheet.append([
            number,
            "2026-03-05 %02d时:%02d分:%02d秒" % (14 + t // 3600, t // 60 % 60, t % 60),
            "%.2fA" % current,
            voltage if i % 7 == 3 else "%.2fV" % voltage,  # now and then a number cell
            "%.2fW" % power,
            "%d℃" % (25 + i * 5 // rows),
            "%dMR" % (44 + part),
            "%.3fAH" % capacity,
            "%.3fWH" % energy,
            " %02d:%02d:%02d" % (seconds // 3600, seconds // 60 % 60, seconds % 60),
        ])
book.save(path)
