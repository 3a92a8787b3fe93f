# Sourced by bench/rsync_backup.sh and bench/rsync_restore.sh (and, inside
# their private network namespace, by the runs themselves); not run alone.

# bench_prepare PROGRAM [BUILD_DIR]: sets engine (BUILD_DIR/bin/PROGRAM, which
# must be built) and work (a fresh folder in BENCH_TMPDIR, default /tmp,
# removed on exit) holding
# rsyncd.conf, whose module disk1 is work/disk1; sets and rounds from
# BENCH_SETS (default "big small") and BENCH_ROUNDS (default 4).
bench_prepare() {
  local build
  sets=${BENCH_SETS:-big small}
  rounds=${BENCH_ROUNDS:-4}
  build=$(cd "${2:-$(dirname "$0")/../build}" && pwd)
  engine="$build/bin/$1"
  [ -x "$engine" ] || { echo "build $1 first" >&2; exit 1; }
  # BENCH_TMPDIR puts the data elsewhere (a tmpfs such as /dev/shm keeps a
  # disk's own drift, its discards after each clean-up, out of the figures);
  # the engine's run folders go there too, beside plain rsync's log.
  work=$(mktemp -d "${BENCH_TMPDIR:-/tmp}/tolvane-bench-XXXXXX")
  export TMPDIR="$work"
  trap 'rm -rf "$work"' EXIT
  echo "preparing data in $work ..."
  cat > "$work/rsyncd.conf" <<CONF
use chroot = no
[disk1]
path = $work/disk1
read only = no
CONF
  bench_common=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/rsync_common.sh
  export work engine bench_common sets rounds
}

# bench_data DIR: the sets chosen, DIR/big/one.bin (1 GB) and DIR/small.
bench_data() {
  mkdir -p "$1/big" "$1/small"
  [[ " $sets " == *" big "* ]] && head -c 1G /dev/urandom > "$1/big/one.bin"
  [[ " $sets " == *" small "* ]] && bench_small_files "$1/small"
  return 0
}

# bench_summary RESULTS: per set, the totals and medians of both sides' wall
# times (with an even number of rounds in alternating order a drift of the
# machine weighs on both alike, so the totals compare fairly), and the
# engine's log polls' largest share of wall time where it reports one. The
# warm-up rounds are left out.
bench_summary() {
  python3 - "$1" <<'PY'
import re, statistics, sys
sets = {}
cur = None
for line in open(sys.argv[1]):
    if re.match(r"\[\w+ warm-up", line): cur = None; continue
    m = re.match(r"\[(\w+) round", line)
    if m: cur = sets.setdefault(m.group(1), {"plain": [], "engine": [], "poll": []}); continue
    if cur is None: continue
    m = re.search(r"^(plain|engine)\b.*?wall=([\d.]+)", line)
    if m: cur[m.group(1)].append(float(m.group(2)))
    m = re.search(r"\(([\d.]+)% of wall", line)
    if m: cur["poll"].append(float(m.group(1)))
for name, r in sets.items():
    p, e = sum(r["plain"]), sum(r["engine"])
    pm, em = statistics.median(r["plain"]), statistics.median(r["engine"])
    poll = f"; poll CPU at most {max(r['poll']):.3f}% of wall" if r["poll"] else ""
    print(f"{name}: total wall plain {p:.2f} s, engine {e:.2f} s, engine throughput = {p / e:.3f}x plain; "
          f"medians {pm:.3f} s and {em:.3f} s ({pm / em:.3f}x){poll}")
PY
}

# bench_small_files DIR: 100 folders of 1,000 files of 4 KB in DIR.
bench_small_files() {
  python3 - "$1" <<'PY'
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
}

# bench_daemon: in the namespace, brings loopback up and starts the rsync
# daemon on port 873 (its process id in daemon), waiting until it listens.
bench_daemon() {
  ip link set lo up
  echo 0 > /proc/sys/net/ipv4/ip_unprivileged_port_start
  unshare -U --map-user=1000 --map-group=1000 rsync --daemon --no-detach --config="$work/rsyncd.conf" --port=873 &
  daemon=$!
  for i in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/873) 2>/dev/null && break; sleep 0.05; done
}
