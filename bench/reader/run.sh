#!/usr/bin/env bash
# The reader on the crafted workbooks and on a million-row workbook written by
# openpyxl, each in a process of its own; then openpyxl's read-only mode
# reading the same million-row workbook, in the same run.
# usage: bench/reader/run.sh BUILD_DIR [FOLDER]
# FOLDER keeps the files (writing the million rows takes about a minute of CPU);
# files already there are used again.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [FOLDER]}
folder=${2:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
writer="$here/../../tests/reader/write_workbook.py"
kinds=(nested bigcell bigshared nested-padded bigcell-padded bigattribute bomb)
for kind in "${kinds[@]}"; do
  [ -f "$folder/$kind.xlsx" ] || /usr/bin/python3 "$writer" "$kind" "$folder/$kind.xlsx"
done
[ -f "$folder/million.xlsx" ] || /usr/bin/python3 "$writer" million "$folder/million.xlsx" 1000000
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for kind in "${kinds[@]}" million; do
  "$build/bench/reader/bench_reader" "$folder/$kind.xlsx"
  echo
done
/usr/bin/python3 "$here/openpyxl_read.py" "$folder/million.xlsx"
