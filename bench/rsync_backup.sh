#!/usr/bin/env bash
# Backs up 1 GB in one file and 100,000 files of 4 KB through the backup
# engine (build/bin/bench_backup_engine) and through plain rsync with the same
# options, in the same run, against a real rsync daemon on port 873 in a
# private network namespace (loopback only). Each set starts with a warm-up
# round of both sides that is shown but not counted. The data lives in /tmp
# and is deleted afterwards.
#   bench/rsync_backup.sh [BUILD_DIR]
# BENCH_SETS ("big small") and BENCH_ROUNDS (4) choose what runs.
set -euo pipefail
. "$(dirname "$0")/rsync_common.sh"
bench_prepare bench_backup_engine "${1:-}"
mkdir -p "$work/disk1" "$work/program"
bench_data "$work"

unshare -rn bash -euo pipefail -c '
. "$bench_common"
bench_daemon
plain() { # SOURCE SHARE
  local start end
  start=$(date +%s.%N)
  # As the engine: the folder'"'"'s contents into a folder of its name in the share.
  rsync -rltpD --human-readable --stats --progress --chmod=a+rwx --log-file="$work/plain.log" \
        --no-inc-recursive --contimeout=30 --timeout=60 "$1/" "QUOM@127.0.0.1::disk1/$2/$(basename "$1")/" > /dev/null
  end=$(date +%s.%N)
  echo "plain  wall=$(awk "BEGIN{printf \"%.3f\", $end - $start}") s"
  rm -f "$work/plain.log"
}
eng() { # SOURCE
  "$engine" "$1" 127.0.0.1 engine "$work/program"
}
# A warm-up round (round 0, not counted), then four rounds each, the order
# alternating, so that neither side always runs right after the other'"'"'s
# clean-up; the file system settles in between. The shares are there, as on
# the device.
for set in $sets; do
  for round in $(seq 0 $rounds); do
    if [ $round = 0 ]; then echo "[$set warm-up, not counted]"; else echo "[$set round $round]"; fi
    if [ $((round % 2)) = 1 ]; then first=plain; second=eng; else first=eng; second=plain; fi
    for run in $first $second; do
      rm -rf "$work/disk1/"*; mkdir -p "$work/disk1/plain" "$work/disk1/engine"; sync; sleep 3
      if [ $run = plain ]; then plain "$work/$set" plain; else eng "$work/$set"; fi
    done
  done
done | tee "$work/results.txt"
kill $daemon
bench_summary "$work/results.txt"
'
