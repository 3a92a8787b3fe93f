#!/usr/bin/env bash
# Restores 1 GB in one file and 100,000 files of 4 KB from a real rsync
# daemon on port 873 in a private network namespace (loopback only), through
# the restore engine (build/bin/bench_restore_engine) and through plain rsync
# with the same options, in the same run, in rounds of alternating order
# (plain first, then the engine first, ...) after a warm-up round of both that
# is shown but not counted. The data lives in /tmp and is
# deleted afterwards. Last it prints, per set, the totals of both sides (with
# an even number of rounds the order is balanced, so a drift of the machine
# over the run weighs on both alike) and the medians.
#   bench/rsync_restore.sh [BUILD_DIR]
#   BENCH_SETS="big small"  BENCH_ROUNDS=4   what to run
set -euo pipefail
. "$(dirname "$0")/rsync_common.sh"
bench_prepare bench_restore_engine "${1:-}"
mkdir -p "$work/program"
bench_data "$work/disk1/share"

unshare -rn bash -euo pipefail -c '
. "$bench_common"
bench_daemon
plain() { # SET
  mkdir -p "$work/out/$1"
  # wall and CPU (user + system) of rsync, as the engine reports them
  TIMEFORMAT="plain  wall=%R s rsync_cpu=%U+%S s"
  time rsync -rlt --ignore-times --chmod=Du=rwx,Dgo=,Fu=rw,Fgo= --human-readable --stats --progress --log-file="$work/plain.log" \
        --no-inc-recursive --contimeout=30 --timeout=60 "QUOM@127.0.0.1::disk1/share/$1/" "$work/out/$1/" > /dev/null
  rm -f "$work/plain.log"
}
engine_run() { # SET
  "$engine" "$work/out/$1" 127.0.0.1 "share/$1" "$work/program"
}
settle() { # the previous copy removed and flushed before the clock starts
  rm -rf "$work/out"; sync; sleep 1
}
for set in $sets; do
  # Round 0 warms up and is not counted.
  for round in $(seq 0 $rounds); do
    # Alternating order: neither side always runs right after the other.
    if [ $round = 0 ]; then echo "[$set warm-up, not counted]"; else echo "[$set round $round]"; fi
    if [ $((round % 2)) = 1 ]; then
      settle; plain "$set"; settle; engine_run "$set"
    else
      settle; engine_run "$set"; settle; plain "$set"
    fi
  done
done 2>&1 | tee "$work/results.txt"
rm -rf "$work/out"
kill $daemon
bench_summary "$work/results.txt"
'
