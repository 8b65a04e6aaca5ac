#!/bin/sh
# DRIVER WORK: inside a mount namespace of its own (unshare --mount), a test
# library on a small tmpfs that is full: the database file and the writer's
# spool both on it. The driver plays two live tests to their end; only then
# is room made, and the driver waits for its records. What the driver said
# goes to WORK/driver.out, the database to WORK/lib.sqlite.
set -eu
driver=$1
work=$2
disk=$work/disk
mkdir -p "$disk"
mount -t tmpfs -o size=4m tmpfs "$disk"
"$driver" --db "$disk/lib.sqlite" --spool "$disk/spool" --modules 0 > "$work/init.out"
dd if=/dev/zero of="$disk/filler" bs=64k 2>/dev/null || true
"$driver" --db "$disk/lib.sqlite" --spool "$disk/spool" --station full --modules 2 \
  --samples 300 --interval 20 --retry-ms 300 --wait-stored 120 > "$work/driver.out" &
pid=$!
while ! grep -q '"event":"ended"' "$work/driver.out" && kill -0 "$pid" 2>/dev/null; do
  sleep 0.1
done
rm -f "$disk/filler"
wait "$pid"
cp "$disk"/lib.sqlite* "$work/"
