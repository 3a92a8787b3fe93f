#!/usr/bin/env bash
# Restores 1 GB in one file and 100,000 files of 4 KB from a real rsync
# daemon on port 873 in a private network namespace (loopback only), through
# the restore engine (build/bin/bench_restore_engine) and through plain rsync
# with the same options, in the same run, two rounds each, alternating. The
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
for set in big small; do
  for round in 1 2; do
    # The removal of the previous copy is flushed before the clock starts:
    # otherwise the next run pays for freeing 100,000 files.
    rm -rf "$work/out"; sync; sleep 1
    echo "[$set round $round]"; plain "$set"
    rm -rf "$work/out"; sync; sleep 1
    "$engine" "$work/out/$set" 127.0.0.1 "share/$set" "$work/program"
  done
done
rm -rf "$work/out"
kill $daemon
'
