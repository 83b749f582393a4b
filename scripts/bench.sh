#!/usr/bin/env bash
# Builds the benchmarks (Release, build-bench), runs every one of them, the
# server and action benchmarks on SQLite and on a throw-away PostgreSQL cluster
# on 127.0.0.1, and writes bench/report.md.
#
#   scripts/bench.sh                 min time 0.3 s per benchmark, 3 repetitions of the server figures
#   BENCH_MIN_TIME=1 BENCH_REPS=5 scripts/bench.sh
#   scripts/bench.sh data            only the data-set section: data_bench and its two peers
#                                    (bench/peers), interleaved, BENCH_REPS times, all three on
#                                    CPU BENCH_CPU (0 unless set; BENCH_CPU= leaves them unpinned)
#   scripts/bench.sh transport       only the transport section: the cheapest call against a raw
#                                    TCP round trip and GetServCli against in-process, interleaved,
#                                    BENCH_REPS times, and bench/load_bench's p99 figures
set -euo pipefail
mode=${1:-all}
case "$mode" in all | data | transport) ;; *) echo "usage: scripts/bench.sh [data|transport]" >&2; exit 2 ;; esac
cd "$(dirname "$0")/.."
root=$PWD
build=${BENCH_BUILD:-build-bench}
min_time=${BENCH_MIN_TIME:-0.3}
reps=${BENCH_REPS:-3}
jobs=${BENCH_JOBS:-2}
out=$(mktemp -d "${TMPDIR:-/tmp}/efet-bench.XXXXXX")
chmod 755 "$out"
pgdir=
pgbin=
if [ "$(id -u)" -eq 0 ]; then
  as_pg() { su postgres -s /bin/sh -c "$1"; }  # initdb refuses root
else
  as_pg() { sh -c "$1"; }
fi
cleanup() {
  if [ -n "$pgdir" ] && [ -f "$pgdir/data/postmaster.pid" ]; then
    as_pg "$pgbin/pg_ctl -D '$pgdir/data' -m fast -w stop" > /dev/null 2>&1 || true
  fi
  rm -rf "$out"
}
trap cleanup EXIT

scripts/deps.sh
if ! command -v python3 > /dev/null && [ "$(id -u)" -eq 0 ]; then
  apt-get install -y --no-install-recommends python3 > /dev/null
fi
command -v python3 > /dev/null || { echo "python3 is needed to write the report" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DEFET_BUILD_BENCH=ON > "$out/configure.log"
case "$mode" in
  data) targets=(data_bench) ;;
  transport) targets=(net_bench server_bench load_bench) ;;
  all) targets=(data_bench filter_bench net_bench rtl_bench pla01010_bench server_bench action_bench load_bench) ;;
esac
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

# The data-set engine against its peers on their own row: each repetition runs
# data_bench, then the SQLite peer, then the TBufDataset peer, so the three
# share the machine's state; the peers are timed by the CPU clock as ours is.
run_data() {
  local dout=$out/data peers=$out/peers k n load0
  mkdir -p "$dout" "$peers"
  if ! command -v fpc > /dev/null && [ "$(id -u)" -eq 0 ]; then
    apt-get install -y --no-install-recommends fpc > "$out/fpc-install.log"
  fi
  command -v fpc > /dev/null || { echo "fpc (Free Pascal) is needed for the TBufDataset peer" >&2; exit 1; }
  cp -r bench/peers/sqlite-mem bench/peers/tbufdataset "$peers/"
  sed -i 's/clock_gettime(CLOCK_MONOTONIC,/clock_gettime(CLOCK_PROCESS_CPUTIME_ID,/' \
    "$peers/sqlite-mem/bench.c" "$peers/tbufdataset/bench.pas"
  grep -q CLOCK_PROCESS_CPUTIME_ID "$peers/sqlite-mem/bench.c"
  grep -q CLOCK_PROCESS_CPUTIME_ID "$peers/tbufdataset/bench.pas"
  sh "$peers/sqlite-mem/build.sh" > "$out/peer-build.log" 2>&1
  sh "$peers/tbufdataset/build.sh" >> "$out/peer-build.log" 2>&1
  # All three on one CPU: a virtual machine's CPUs need not be alike (on the
  # development machine the second ran the engine's scans about 1.5 times
  # slower and the peers' no slower), so a ratio must not depend on where the
  # scheduler happened to put each program. BENCH_CPU= (empty) turns it off.
  local pin=() cpu=${BENCH_CPU-0}
  if [ -n "$cpu" ] && command -v taskset > /dev/null; then pin=(taskset -c "$cpu"); fi
  load0=$(cut -d' ' -f1-3 /proc/loadavg)
  for k in $(seq 1 "$reps"); do
    echo "== data_bench and peers, repetition $k of $reps" >&2
    "${pin[@]}" "$build/bench/data_bench" --benchmark_min_time="$min_time" --benchmark_out_format=json \
      --benchmark_out="$dout/data_bench_$k.json" >&2
    for n in 10000 100000; do
      "${pin[@]}" "$peers/sqlite-mem/bench" "$n" > "$dout/sqlite_${n}_$k.txt"
      "${pin[@]}" "$peers/tbufdataset/bench" "$n" > "$dout/tbuf_${n}_$k.txt"
    done
  done
  {
    echo "${pin[*]}${pin[*]:+ }$build/bench/data_bench --benchmark_min_time=$min_time --benchmark_out_format=json --benchmark_out=FILE"
    echo "${pin[*]}${pin[*]:+ }bench/peers/sqlite-mem/bench N; ${pin[*]}${pin[*]:+ }bench/peers/tbufdataset/bench N   (N = 10000, 100000; CPU clock)"
  } > "$dout/commands.txt"
  BENCH_DATA_OUT=$dout BENCH_DATA_PIN=${pin[*]} BENCH_LOAD_BEFORE=$load0 BENCH_LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg) \
    BENCH_DATE=$(date -u '+%Y-%m-%d %H:%M UTC') BENCH_COMMIT=$(git rev-parse --short HEAD) \
    BENCH_DATA_CMD="BENCH_REPS=$reps BENCH_MIN_TIME=$min_time scripts/bench.sh data" \
    python3 bench/data_report.py bench/report.md > /dev/null
  echo "bench/report.md: data-set section written" >&2
}

# The transport's figures: each repetition runs net_bench's two exchanges and
# server_bench's GetServCli cases back to back, so ratios compare like with like.
run_transport() {
  local tout=$out/transport k load0
  mkdir -p "$tout"
  load0=$(cut -d' ' -f1-3 /proc/loadavg)
  for k in $(seq 1 "$reps"); do
    echo "== transport, repetition $k of $reps" >&2
    "$build/bench/net_bench" --benchmark_filter='BM_RawTcpPing|BM_CallEcho/packet_rows:0' \
      --benchmark_min_time="$min_time" --benchmark_out_format=json --benchmark_out="$tout/net_$k.json" >&2
    "$build/bench/server_bench" --benchmark_filter='GetServCli' --benchmark_min_time="$min_time" \
      --benchmark_out_format=json --benchmark_out="$tout/servcli_$k.json" >&2
  done
  "$build/bench/load_bench" | tee "$tout/load.txt" >&2
  {
    echo "$build/bench/net_bench --benchmark_filter='BM_RawTcpPing|BM_CallEcho/packet_rows:0' --benchmark_min_time=$min_time"
    echo "$build/bench/server_bench --benchmark_filter=GetServCli --benchmark_min_time=$min_time"
    echo "$build/bench/load_bench    (login, flood, saves; EFET_LOAD_SECONDS=10)"
    echo "# each of the first two BENCH_REPS=$reps times, interleaved: BENCH_REPS=$reps BENCH_MIN_TIME=$min_time scripts/bench.sh transport"
  } > "$tout/commands.txt"
  BENCH_TRANSPORT_OUT=$tout BENCH_LOAD_BEFORE=$load0 BENCH_LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg) \
    BENCH_DATE=$(date -u '+%Y-%m-%d %H:%M UTC') BENCH_COMMIT=$(git rev-parse --short HEAD) BENCH_REPS=$reps \
    python3 bench/transport_report.py bench/report.md > /dev/null
  echo "bench/report.md: transport section written" >&2
}

if [ "$mode" = data ]; then
  run_data
  exit 0
fi
if [ "$mode" = transport ]; then
  run_transport
  exit 0
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
run() {  # name file [args...]
  local name=$1 file=$2
  shift 2
  echo "== $name" >&2
  "$build/bench/$name" --benchmark_format=console --benchmark_out_format=json --benchmark_out="$out/$file.json" \
    --benchmark_min_time="$min_time" "$@" >&2
  echo "$build/bench/$name --benchmark_min_time=$min_time $*" >> "$out/commands.txt"
}

for b in rtl_bench filter_bench net_bench pla01010_bench; do run "$b" "$b"; done
run server_bench server_sqlite --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
run action_bench action_sqlite --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true

# A throw-away PostgreSQL cluster, as the tests start one.
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -1)
pg_note="not run: no PostgreSQL server binaries"
if [ -n "$pgbin" ] && [ -x "$pgbin/initdb" ]; then
  pgdir=$(mktemp -d "${TMPDIR:-/tmp}/efet-bench-pg.XXXXXX")
  [ "$(id -u)" -eq 0 ] && chown postgres "$pgdir"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  as_pg "$pgbin/initdb -D '$pgdir/data' -U postgres -A trust -E UTF8 --locale=C.UTF-8" > "$out/initdb.log" 2>&1
  as_pg "$pgbin/pg_ctl -D '$pgdir/data' -l '$pgdir/server.log' -o '-c listen_addresses=127.0.0.1 -p $port -k $pgdir' -w start" \
    > /dev/null
  for db in efet_server_bench efet_action_bench; do
    as_pg "$pgbin/createdb -h 127.0.0.1 -p $port -U postgres $db"
  done
  pg_note="PostgreSQL $("$pgbin/postgres" --version | awk '{print $3}'), throw-away cluster on 127.0.0.1 (fsync on, defaults)"
  EFET_BENCH_PG="host=127.0.0.1 port=$port dbname=efet_server_bench user=postgres" \
    run server_bench server_pg --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
  EFET_BENCH_PG="host=127.0.0.1 port=$port dbname=efet_action_bench user=postgres" \
    run action_bench action_pg --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

BENCH_OUT=$out BENCH_LOAD_BEFORE=$load_before BENCH_LOAD_AFTER=$load_after BENCH_PG_NOTE=$pg_note \
  BENCH_MIN_TIME=$min_time BENCH_REPS=$reps python3 bench/report.py > "$out/report.md"
# The transport and data-set sections on hand stay until they are written anew.
cp bench/report.md "$out/previous.md"
python3 bench/transport_report.py --keep "$out/report.md" "$out/previous.md"
python3 bench/data_report.py --keep "$out/previous.md" bench/report.md
run_transport
run_data
echo "bench/report.md written" >&2
