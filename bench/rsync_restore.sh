#!/usr/bin/env bash
# Restores 1 GB in one file and 100,000 files of 4 KB from a real rsync
# daemon on port 873 in a private network namespace (loopback only), through
# the restore engine (build/bin/bench_restore_engine) and through plain rsync
# with the same options, in the same run, in rounds of alternating order
# (plain first, then the engine first, ...). The data lives in /tmp and is
# deleted afterwards. Last it prints, per set, the totals of both sides (with
# an even number of rounds the order is balanced, so a drift of the machine
# over the run weighs on both alike) and the medians.
#   bench/rsync_restore.sh [BUILD_DIR]
#   BENCH_SETS="big small"  BENCH_ROUNDS=4   what to run
set -euo pipefail
sets=${BENCH_SETS:-big small}
rounds=${BENCH_ROUNDS:-4}
. "$(dirname "$0")/rsync_common.sh"
bench_prepare bench_restore_engine "${1:-}"
mkdir -p "$work/disk1/share/big" "$work/disk1/share/small" "$work/program"
[[ " $sets " == *" big "* ]] && head -c 1G /dev/urandom > "$work/disk1/share/big/one.bin"
[[ " $sets " == *" small "* ]] && bench_small_files "$work/disk1/share/small"

export sets rounds
unshare -rn bash -euo pipefail -c '
. "$bench_common"
bench_daemon
plain() { # SET
  mkdir -p "$work/out/$1"
  # wall and CPU (user + system) of rsync, as the engine reports them
  TIMEFORMAT="plain  wall=%R s rsync_cpu=%U+%S s"
  time rsync -r --human-readable --stats --progress --log-file="$work/plain.log" --no-inc-recursive \
        "QUOM@127.0.0.1::disk1/share/$1/" "$work/out/$1/" > /dev/null
  rm -f "$work/plain.log"
}
engine_run() { # SET
  "$engine" "$work/out/$1" 127.0.0.1 "share/$1" "$work/program"
}
settle() { # the previous copy removed and flushed before the clock starts
  rm -rf "$work/out"; sync; sleep 1
}
for set in $sets; do
  for round in $(seq $rounds); do
    # Alternating order: neither side always runs right after the other.
    echo "[$set round $round]"
    if [ $((round % 2)) = 1 ]; then
      settle; plain "$set"; settle; engine_run "$set"
    else
      settle; engine_run "$set"; settle; plain "$set"
    fi
  done
done 2>&1 | tee "$work/results.txt"
rm -rf "$work/out"
kill $daemon
python3 - "$work/results.txt" <<"PY"
import re, statistics, sys
sets = {}
cur = None
for line in open(sys.argv[1]):
    m = re.match(r"\[(\w+) round", line)
    if m: cur = sets.setdefault(m.group(1), {"plain": [], "engine": []}); continue
    m = re.search(r"^(plain|engine)\b.*?wall=([\d.]+)", line)
    if m: cur[m.group(1)].append(float(m.group(2)))
for name, r in sets.items():
    p, e = sum(r["plain"]), sum(r["engine"])
    pm, em = statistics.median(r["plain"]), statistics.median(r["engine"])
    print(f"{name}: total wall plain {p:.2f} s, engine {e:.2f} s, engine throughput = {p / e:.3f}x plain; "
          f"medians {pm:.3f} s and {em:.3f} s ({pm / em:.3f}x)")
PY
'
