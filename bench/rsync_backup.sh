#!/usr/bin/env bash
# Backs up 1 GB in one file and 100,000 files of 4 KB through the backup
# engine (build/bin/bench_backup_engine) and through plain rsync with the same
# options, in the same run, against a real rsync daemon on port 873 in a
# private network namespace (loopback only). The data lives in /tmp and is
# deleted afterwards.
#   bench/rsync_backup.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
engine="$build/bin/bench_backup_engine"
[ -x "$engine" ] || { echo "build bench_backup_engine first" >&2; exit 1; }
work=$(mktemp -d /tmp/tolvane-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "preparing data in $work ..."
mkdir -p "$work/big" "$work/small" "$work/disk1" "$work/program"
head -c 1G /dev/urandom > "$work/big/one.bin"
python3 - "$work/small" <<'PY'
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
plain() { # SOURCE SHARE
  local start end
  start=$(date +%s.%N)
  rsync -rltpD --human-readable --stats --progress --chmod=a+rwx --log-file="$work/plain.log" \
        --no-inc-recursive "$1" "QUOM@127.0.0.1::disk1/$2/" > /dev/null
  end=$(date +%s.%N)
  echo "plain  wall=$(awk "BEGIN{printf \"%.3f\", $end - $start}") s"
  rm -f "$work/plain.log"
}
for set in big small; do
  for round in 1 2; do
    sync; rm -rf "$work/disk1/"*
    echo "[$set round $round]"; plain "$work/$set" plain
    sync; rm -rf "$work/disk1/"*
    "$engine" "$work/$set" 127.0.0.1 engine "$work/program"
  done
done
kill $daemon
'
