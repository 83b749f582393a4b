#!/usr/bin/env python3
"""Writes the data-set section of bench/report.md from one interleaved run of
data_bench and the two peers (scripts/bench.sh data).

Reads BENCH_DATA_OUT: data_bench_<k>.json (Google Benchmark), sqlite_<n>_<k>.txt
and tbuf_<n>_<k>.txt (the peers' op<TAB>rows<TAB>ns_total<TAB>ns_per_row lines).
Figures are medians over the repetitions k. The section lies between two
markers, so it is replaced in place and the rest of the report is kept.
"""
import glob
import json
import os
import re
import statistics
import sys

from report_section import commands_block, keep_section, write_section

BEGIN = "<!-- data-set section: scripts/bench.sh data -->"
END = "<!-- end of data-set section -->"


if len(sys.argv) == 4 and sys.argv[1] == "--keep":
    keep_section(sys.argv[2], sys.argv[3], BEGIN, END)
    sys.exit(0)

out = os.environ["BENCH_DATA_OUT"]
report = sys.argv[1] if len(sys.argv) > 1 else "bench/report.md"


def med(vals):
    vals = [v for v in vals if v is not None]
    return statistics.median(vals) if vals else None


# ---- ours: {(op, n): {"ns_row": [..], counters...}}
ours = {}
for f in sorted(glob.glob(os.path.join(out, "data_bench_*.json"))):
    doc = json.load(open(f))
    for b in doc["benchmarks"]:
        if b.get("error_occurred"):
            continue
        op, n = b["name"].split("/")[0], int(b["name"].split("/")[1])
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        rows = b.get("rows", 1) or 1
        e = ours.setdefault((op, n), {})
        e.setdefault("ns_row", []).append(b["cpu_time"] * scale / rows)
        for k in ("heap_bytes_per_row", "bytes_per_edit", "worst_ns", "over_1ms", "packet_bytes_per_row",
                  "faults_per_row", "worst_faults", "worst_row", "over_1ms_faults"):
            if k in b:
                e.setdefault(k, []).append(b[k])


def our(op, n, key="ns_row"):
    e = ours.get((op, n))
    return med(e.get(key, [])) if e else None


# ---- peers: {(peer, n): {op: [ns_per_row,..]}, notes}
peers = {}
notes = {}
for f in sorted(glob.glob(os.path.join(out, "*_*_*.txt"))):
    m = re.match(r"(sqlite|tbuf)_(\d+)_(\d+)\.txt", os.path.basename(f))
    if not m:
        continue
    peer, n = m.group(1), int(m.group(2))
    d = peers.setdefault((peer, n), {})
    for line in open(f, encoding="utf-8"):
        if line.startswith("#"):
            notes.setdefault((peer, n), []).append(line)
            continue
        parts = line.rstrip("\n").split("\t")
        if len(parts) != 4 or parts[3] == "n/a":
            continue
        op, rows, total, per = parts
        d.setdefault(op, []).append((float(total), float(per)))


def peer(p, op, n, total=False):
    vals = peers.get((p, n), {}).get(op)
    if not vals:
        return None
    return med([v[0] if total else v[1] for v in vals])


def sqlite_delta_bytes(n):
    for line in notes.get(("sqlite", n), []):
        m = re.search(r"\(([\d.]+) bytes/edit\)", line)
        if m:
            return float(m.group(1))
    return None


def fmt(v, digits=1):
    if v is None:
        return "–"
    if v >= 100:
        return f"{v:,.0f}"
    return f"{v:,.{digits}f}"


def ratio(peer_v, our_v):
    if peer_v is None or our_v is None or our_v == 0:
        return None
    return peer_v / our_v


def fr(r):
    return "–" if r is None else (f"{r:.1f}×" if r < 100 else f"{r:,.0f}×")


# op, TBufDataset op, SQLite op, what ours times
OPS = [
    ("insert_all", "insert_all", "insert_all", "Append, 13 field sets, Post, per row (inserts logged)"),
    ("save_packet", "save_packet_bin", "save_packet", "Data: the packet of every row"),
    ("load_packet", "load_packet", "load_packet", "SetData of that packet into a new data set"),
    ("filter_text", "filter_text", "filter_text", "Filter CDCLIENTE = 'C<N/2>', Filtered on, count, off"),
    ("filter_record", "filter_record", "filter_record", "OnFilterRecord comparing AsString, same steps"),
    ("locate3", "locate3", "locate3_scan", "Locate on 3 keys of the last row, no index"),
    ("locate3_index_build", None, "locate3_index_build", "IndexFieldNames on the 3 keys"),
    ("locate3_index", None, "locate3_index", "the same Locate with that index (ns per lookup)"),
    ("edit_post_10k", "edit_post_10k", "edit_post_10k", "Edit, +1, Post, MoveBy(N/10000), per edit"),
    ("merge_change_log", "merge_change_log", None, "MergeChangeLog of the 10,000 edits, per edit"),
    ("delta", None, "delta", "Delta of the 10,000 edits, per edit"),
    ("walk_sum", "walk_sum", "walk_sum", "First..Eof summing two fields"),
    ("x_copy_data", None, None, "CopyDataFrom a data set with 100 pending edits"),
]
PER_LOOKUP = {"locate3_index"}
# targets: at least 10x TBufDataset on these; at least SQLite on every op both have but the packet ones
TEN_X = ["load_packet", "save_packet", "filter_text", "filter_record", "locate3", "walk_sum", "merge_change_log"]
SQLITE_EXEMPT = {"load_packet", "save_packet"}

lines = []
w = lines.append
w(BEGIN)
w("## Data sets against TBufDataset and SQLite (`data_bench`, `bench/peers`)")
w("")
reps = len(glob.glob(os.path.join(out, "data_bench_*.json")))
w(f"Written by `{os.environ.get('BENCH_DATA_CMD', 'scripts/bench.sh data')}` on {os.environ.get('BENCH_DATE', '?')} "
  f"(commit {os.environ.get('BENCH_COMMIT', '?')}). Each repetition runs `data_bench`, then the SQLite peer, then the "
  f"TBufDataset peer, at each size; {reps} repetitions, medians shown. All three time CPU: the peers are built "
  "from `bench/peers` with their clock switched from `CLOCK_MONOTONIC` to `CLOCK_PROCESS_CPUTIME_ID`, nothing "
  "else changed. Same row, generator and seed (splitmix64 20240101), default allocator. "
  + (f"All three run pinned to one CPU (`{os.environ['BENCH_DATA_PIN']}`). " if os.environ.get("BENCH_DATA_PIN") else "")
  + f"Load average (1, 5, 15 min): before {os.environ.get('BENCH_LOAD_BEFORE', '?')}; after "
  f"{os.environ.get('BENCH_LOAD_AFTER', '?')}. The peers do not run at 1,000,000 rows (TBufDataset's insert is "
  "quadratic there).")
w("")
w("Ratio = peer's time / ours: above 1 the engine is faster.")
w("")
for n in (10000, 100000):
    w(f"### {n:,} rows (ns per row)")
    w("")
    w("| Operation | What is timed | Ours | TBufDataset | Ratio | SQLite | Ratio |")
    w("|---|---|---:|---:|---:|---:|---:|")
    for op, top, sop, what in OPS:
        o = our(op, n)
        t = peer("tbuf", top, n) if top else None
        s = peer("sqlite", sop, n, total=op in PER_LOOKUP) if sop else None
        w(f"| {op} | {what} | {fmt(o)} | {fmt(t)} | {fr(ratio(t, o))} | {fmt(s)} | {fr(ratio(s, o))} |")
    w("")

n = 100000
w("### Memory and delta at 100,000 rows")
w("")
w("| Figure | Ours | TBufDataset | SQLite |")
w("|---|---:|---:|---:|")
w(f"| Heap bytes per row after insert_all (log included) | {fmt(our('insert_all', n, 'heap_bytes_per_row'))} | "
  f"{fmt(peer('tbuf', 'memory_rss', n))} (RSS) | {fmt(peer('sqlite', 'memory_used', n))} (memory_used) |")
w(f"| Heap bytes per row after load_packet | {fmt(our('load_packet', n, 'heap_bytes_per_row'))} | – | – |")
w(f"| Delta bytes per edit (10,000 edits of one float) | {fmt(our('delta', n, 'bytes_per_edit'))} | – | "
  f"{fmt(sqlite_delta_bytes(n))} (changeset) |")
w(f"| Packet bytes per row | {fmt(our('save_packet', n, 'packet_bytes_per_row'))} | – | – |")
w("")

w("### Growth: ours per row at 1,000,000 against 100,000")
w("")
w("| Operation | 100,000 | 1,000,000 | 1M / 100k | page faults per row at 100,000 / 1,000,000 |")
w("|---|---:|---:|---:|---:|")
growth = {}
for op, *_ in OPS + [("x_insert_cold",), ("x_worst_insert",), ("x_worst_edit",), ("x_worst_noise",)]:
    a, b = our(op, 100000), our(op, 1000000)
    g = None if a is None or b is None else b / a
    growth[op] = g
    fa, fb = our(op, 100000, "faults_per_row"), our(op, 1000000, "faults_per_row")
    w(f"| {op} | {fmt(a)} | {fmt(b)} | {'–' if g is None else f'{g:.2f}'} | {fmt(fa, 4)} / {fmt(fb, 4)} |")
w("")
cold, warm = our("x_insert_cold", 1000000), our("insert_all", 1000000)
if cold is not None and warm is not None:
    w(f"First touch: insert_all measures a pass on memory a previous pass freed (the chunk pool keeps it), at both "
      f"sizes alike; x_insert_cold gives every kept slab back and trims the heap before each pass, so every page is "
      f"faulted in anew, as for the first data set of a fresh process. At 1,000,000 rows that costs "
      f"{fmt(cold - warm)} ns per row more ({fmt(cold)} against {fmt(warm)}), "
      f"{fmt(our('x_insert_cold', 1000000, 'faults_per_row'), 3)} page faults per row.")
    w("")
wi, we = our("x_worst_insert", 1000000, "worst_ns"), our("x_worst_edit", 1000000, "worst_ns")
wn = our("x_worst_noise", 1000000, "worst_ns")
oi, oe, on = (our(op, 1000000, "over_1ms") for op in ("x_worst_insert", "x_worst_edit", "x_worst_noise"))
w(f"Slowest single operation at 1,000,000 rows (thread CPU clock, each timed on its own): insert (Append, sets, Post) "
  f"{fmt(wi and wi / 1e3)} µs; edit (Edit, set, Post, over every row so the log grows to 1,000,000 entries) "
  f"{fmt(we and we / 1e3)} µs. Timings above 1 ms: {fmt(oi)} of the inserts, {fmt(oe)} of the edits. The same clock "
  f"around a fixed loop of about a microsecond that allocates nothing (x_worst_noise), timed as many times: slowest "
  f"{fmt(wn and wn / 1e3)} µs, {fmt(on)} above 1 ms: what the machine adds on its own. Page faults taken by the "
  f"slowest insert: {fmt(our('x_worst_insert', 1000000, 'worst_faults'), 0)} (row "
  f"{fmt(our('x_worst_insert', 1000000, 'worst_row'), 0)}), by all inserts over 1 ms: "
  f"{fmt(our('x_worst_insert', 1000000, 'over_1ms_faults'), 0)}; by the slowest edit: "
  f"{fmt(our('x_worst_edit', 1000000, 'worst_faults'), 0)} (row {fmt(our('x_worst_edit', 1000000, 'worst_row'), 0)}).")
w("")
wr = our("x_worst_recode", 1000000, "worst_ns")
if wr is not None:
    w(f"The one insert that changes how a text column stores its texts (x_worst_recode: every one of 1,000,000 rows "
      f"holds one of 255 distinct texts, and the insert brings a 256th; from 256 distinct texts on, a column keeps "
      f"each row's text offset instead of a one-byte code): slowest of 3 such inserts {fmt(wr / 1e3)} µs (median over the "
      f"repetitions), with "
      f"{fmt(our('x_worst_recode', 1000000, 'worst_faults'), 0)} page faults; at 100,000 rows "
      f"{fmt((our('x_worst_recode', 100000, 'worst_ns') or 0) / 1e3)} µs.")
    w("")

w("### Targets")
w("")
miss = []
for op in TEN_X:
    top = dict((o, t) for o, t, s, _ in OPS)[op]
    r = ratio(peer("tbuf", top, n), our(op, n))
    ok = r is not None and r >= 10
    w(f"- {op}: {fr(r)} TBufDataset at 100,000 (target 10×): **{'met' if ok else 'not met'}**")
    if not ok:
        miss.append(op)
for op, top, sop, _ in OPS:
    if not sop or op in SQLITE_EXEMPT:
        continue
    r = ratio(peer("sqlite", sop, n, total=op in PER_LOOKUP), our(op, n))
    ok = r is not None and r >= 1
    w(f"- {op}: {fr(r)} SQLite at 100,000 (target 1×): **{'met' if ok else 'not met'}**")
heap_o, heap_s = our("insert_all", n, "heap_bytes_per_row"), peer("sqlite", "memory_used", n)
if heap_o and heap_s:
    w(f"- heap per row {fmt(heap_o)} against SQLite's {fmt(heap_s)}: **{'met' if heap_o <= heap_s else 'not met'}**")
d_o, d_s = our("delta", n, "bytes_per_edit"), sqlite_delta_bytes(n)
if d_o and d_s:
    w(f"- delta {fmt(d_o)} bytes per edit against 2 × {fmt(d_s)}: **{'met' if d_o <= 2 * d_s else 'not met'}**")
worst_growth = [(op, g) for op, g in growth.items()
                if g is not None and g > 1.3 and not op.startswith("x_worst") and op != "x_insert_cold"]
w(f"- per-row growth from 100,000 to 1,000,000 within 1.3×: **{'met' if not worst_growth else 'not met'}**"
  + ("" if not worst_growth else " (" + ", ".join(f"{op} {g:.2f}" for op, g in worst_growth) + ")"))
if wi is not None and we is not None:
    slowest = max(wi, we, wr or 0)
    w(f"- no single insert or edit above 1 ms at 1,000,000 rows: **{'met' if slowest <= 1e6 else 'not met'}**"
      + ("" if slowest <= 1e6 or wn is None else
         f" (slowest {fmt(slowest / 1e3)} µs{', the insert that recodes a text column' if slowest == wr else ''}; "
         f"the allocation-free loop's slowest on the same clock {fmt(wn / 1e3)} µs)"))
w("")
lines += commands_block(out)
w(END)

section = "\n".join(lines) + "\n"
write_section(report, BEGIN, END, section)
print(section)
