#!/usr/bin/env bash
# Restores 1 GB in one file and 100,000 files of 4 KB from a real rsync
# daemon on port 873 in a private network namespace (loopback only), through
# the restore engine (build/bin/bench_restore_engine) and through plain rsync
# with the same options, in the same run, four rounds each in alternating order. The
# data lives in /tmp and is deleted afterwards.
#   bench/rsync_restore.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
engine="$build/bin/bench_restore_engine"
[ -x "$engine" ] || { echo "build bench_restore_engine first" >&2; exit 1; }
work=$(mktemp -d /tmp/tolvane-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "preparing data in $work ..."
mkdir -p "$work/disk1/share/big" "$work/disk1/share/small" "$work/program"
head -c 1G /dev/urandom > "$work/disk1/share/big/one.bin"
python3 - "$work/disk1/share/small" <<'PY'
import os, sys
root = sys.argv[1]
block = os.urandom(4096)
for d in range(100):
    sub = os.path.join(root, "d%03d" % d)
    os.mkdir(sub)
    for f in range(1000):
        with open(os.path.join(sub, "f%04d" % f), "wb") as out:
            out.write(block)
PY
cat > "$work/rsyncd.conf" <<CONF
use chroot = no
[disk1]
path = $work/disk1
read only = no
CONF

export work engine
unshare -rn bash -euo pipefail -c '
ip link set lo up
echo 0 > /proc/sys/net/ipv4/ip_unprivileged_port_start
unshare -U --map-user=1000 --map-group=1000 rsync --daemon --no-detach --config="$work/rsyncd.conf" --port=873 &
daemon=$!
for i in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/873) 2>/dev/null && break; sleep 0.05; done
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
for set in big small; do
  for round in 1 2 3 4; do
    # Alternating order: neither side always runs right after the other.
    echo "[$set round $round]"
    if [ $((round % 2)) = 1 ]; then
      settle; plain "$set"; settle; engine_run "$set"
    else
      settle; engine_run "$set"; settle; plain "$set"
    fi
  done
done
rm -rf "$work/out"
kill $daemon
'
