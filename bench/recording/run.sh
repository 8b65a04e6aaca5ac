#!/usr/bin/env bash
# Both writers in one run, on the same disk: bench_recording, then openpyxl.
# usage: bench/recording/run.sh BUILD_DIR [FOLDER]
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [FOLDER]}
folder=${2:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
"$build/bench/recording/bench_recording" "$folder"
/usr/bin/python3 "$here/openpyxl_write.py" "$folder/openpyxl.xlsx"
ls -l "$folder"
