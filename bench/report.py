#!/usr/bin/env python3
"""Writes bench/report.md from the JSON files that scripts/bench.sh collected."""
import json
import os
import platform
import subprocess
import time

out = os.environ["BENCH_OUT"]


def load(name):
    path = os.path.join(out, name + ".json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def rows(doc):
    """Benchmark entries by run name: the median of repeated runs, else the run."""
    by = {}
    for b in doc["benchmarks"]:
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                by[b["run_name"]] = b
            elif b.get("aggregate_name") == "cv":
                by.setdefault("cv:" + b["run_name"], b)
        else:
            by.setdefault(b.get("run_name", b["name"]), b)
    return by


SCALE = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}  # to microseconds


def us(b, key="real_time"):
    return b[key] * SCALE[b.get("time_unit", "ns")]


def fmt_us(v):
    if v >= 10000:
        return "%.1f ms" % (v / 1000)
    if v >= 100:
        return "%.0f µs" % v
    if v >= 1:
        return "%.1f µs" % v
    return "%.0f ns" % (v * 1000)


def sh(cmd):
    try:
        return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout.strip()
    except OSError:
        return ""


def cpu_model():
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor()


lines = []
w = lines.append
w("# Benchmark report")
w("")
w("Written by `scripts/bench.sh` (Release build in `build-bench`); figures are medians of "
  "%s repetitions where the table says so, otherwise single runs of at least %s s each. "
  "The machine is shared: read the figures against the load average."
  % (os.environ.get("BENCH_REPS", "1"), os.environ.get("BENCH_MIN_TIME", "?")))
w("")
w("| | |")
w("|---|---|")
w("| Date (UTC) | %s |" % time.strftime("%Y-%m-%d %H:%M", time.gmtime()))
dirty = subprocess.run("git diff --quiet HEAD -- src bench ':!bench/report.md'", shell=True).returncode != 0
w("| Commit | %s%s |" % (sh("git rev-parse --short HEAD"), " (with uncommitted changes in src or bench)" if dirty else ""))
w("| CPU | %s, %d logical cores |" % (cpu_model(), os.cpu_count()))
w("| Memory | %s |" % sh("free -h | awk '/Mem:/ {print $2}'"))
w("| System | %s |" % sh(". /etc/os-release && echo \"$PRETTY_NAME\", kernel $(uname -r)"))
w("| SQLite | %s (WAL, synchronous FULL) |" % sh("sqlite3 --version | cut -d' ' -f1") or "?")
w("| PostgreSQL | %s |" % os.environ.get("BENCH_PG_NOTE", "?"))
w("| Load average (1, 5, 15 min) | before %s; after %s |"
  % (os.environ.get("BENCH_LOAD_BEFORE", "?"), os.environ.get("BENCH_LOAD_AFTER", "?")))
w("")

# ---- Server methods against the database's ceiling
METHODS = ["GetCardaDia", "PostCard", "GetServCli"]


def server_table(doc, title):
    by = rows(doc)
    w("### " + title)
    w("")
    w("| Method | Client threads | HTTP: requests/s | HTTP: time per request | In-process module | "
      "Database ceiling: requests/s | Ratio HTTP / ceiling | CPU per request: HTTP / ceiling | Ratio by CPU | "
      "Statements: module / ceiling |")
    w("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for m in METHODS:
        for t in (1, 2, 8):
            suffix = "/process_time/real_time/threads:%d" % t
            h = by.get("BM_Http_" + m + suffix)
            d = by.get("BM_Db_" + m + suffix)
            mod = by.get("BM_Module_" + m + suffix)
            if not h or not d:
                continue
            hu, du = us(h), us(d)
            hc, dc = us(h, "cpu_time"), us(d, "cpu_time")
            stm = "%g / %g" % (mod["statements"], d["statements"]) if mod and "statements" in mod and "statements" in d \
                else "–"
            w("| %s | %d | %.0f | %s | %s | %.0f | **%.2f** | %s / %s | %.2f | %s |" % (
                m, t, 1e6 / hu, fmt_us(hu), fmt_us(us(mod)) if mod else "–", 1e6 / du, du / hu,
                fmt_us(hc), fmt_us(dc), dc / hc, stm))
    w("")


w("## Server methods over loopback against the database's own ceiling")
w("")
w("`server_bench`: requests per second of each method through the HTTP transport with 1, 2 and 8 "
  "client threads (each its own keep-alive connection), the same method called in-process on the "
  "module (no transport), and the ceiling: the statements the method runs for its answer, straight "
  "on one connection per thread in a loop. The ceiling includes the permission check (one "
  "statement) and, for GetServCli, the billed service's planned-service lookup, because the method "
  "needs both before it answers; reads run in one snapshot as the module runs them; PostCard's "
  "ceiling is its transaction (parameters, processing date, the row locked, the settlement check, "
  "the update, one audit row per changed field) and the day read back. Time is wall time per "
  "request over all threads (the inverse of throughput); client and server share the machine's "
  "cores, so with 2 and 8 threads the client's own work is counted against the server. CPU is the "
  "whole process's CPU time per request (client and server together for HTTP), steadier than wall "
  "time on a loaded machine. Statements are counted per call on the calling thread by the database "
  "layer (on SQLite they include the read snapshot's BEGIN and ROLLBACK).")
w("")
for name, title in (("server_sqlite", "SQLite"), ("server_pg", "PostgreSQL")):
    doc = load(name)
    if doc:
        server_table(doc, title)

# ---- Whole user actions
ACTIONS = [("BM_OpenDay", "Open a day (branch and date entered)"),
           ("BM_PostServiceRow", "Post a service row"),
           ("BM_EnterBilling", "Enter the billing page"),
           ("BM_ConfirmBilling", "Confirm the billing page")]


def action_table(doc, title):
    by = rows(doc)
    w("### " + title)
    w("")
    w("| Action | Calls | Total | Transport | Server codec | Server | Database |")
    w("|---|---:|---:|---:|---:|---:|---:|")
    for key, label in ACTIONS:
        b = by.get(key + "/real_time")
        if not b:
            continue
        ms = lambda k: "%.2f ms" % b.get(k, float("nan"))
        w("| %s | %d | %s | %s | %s | %s | %s |" % (label, round(b.get("calls", 0)), ms("total_ms"),
                                                    ms("transport_ms"), ms("codec_ms"), ms("server_ms"), ms("db_ms")))
    w("")


w("## Whole user actions over loopback")
w("")
w("`action_bench`: each action is the sequence of calls PLA01000 makes for it, one client. The server "
  "reports in `Server-Timing` its handling time, the module's call inside it and the module's "
  "database time (per-thread counters in the database layer); the client measures each exchange. "
  "Transport = client total − server handling (HTTP, sockets, the client's encoding and decoding); "
  "server codec = handling − module call (envelope decoding and encoding, session check); server = "
  "module call − database; database = time inside database calls (statements, commits, fsync).")
w("")
for name, title in (("action_sqlite", "SQLite"), ("action_pg", "PostgreSQL")):
    doc = load(name)
    if doc:
        action_table(doc, title)

# ---- The other benchmarks
OTHERS = [("rtl_bench", "Run time (`rtl_bench`)"), ("data_bench", "Data sets (`data_bench`)"),
          ("filter_bench", "Filters (`filter_bench`)"), ("net_bench", "Transport (`net_bench`)"),
          ("pla01010_bench", "Consolidation screen (`pla01010_bench`)")]
SKIP = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations", "real_time",
        "cpu_time", "time_unit", "family_index", "per_family_instance_index", "aggregate_name", "aggregate_unit",
        "error_occurred", "error_message"}


def extra(b):
    parts = []
    for k, v in b.items():
        if k in SKIP or not isinstance(v, (int, float)):
            continue
        if k == "bytes_per_second":
            parts.append("%.1f MB/s" % (v / 1e6))
        elif k == "items_per_second":
            parts.append("%.0f items/s" % v)
        else:
            parts.append("%s=%g" % (k, v))
    return ", ".join(parts)


w("## Layers")
w("")
for name, title in OTHERS:
    doc = load(name)
    if not doc:
        continue
    w("### " + title)
    w("")
    w("| Benchmark | Time | CPU | Iterations | Other |")
    w("|---|---:|---:|---:|---|")
    for b in doc["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        if b.get("error_occurred"):
            w("| %s | error: %s | | | |" % (b["name"], b.get("error_message", "")))
            continue
        w("| %s | %s | %s | %d | %s |" % (b["name"], fmt_us(us(b)), fmt_us(us(b, "cpu_time")), b["iterations"],
                                          extra(b)))
    w("")

w("## Commands")
w("")
w("```")
for line in open(os.path.join(out, "commands.txt")):
    w(line.rstrip().replace(os.getcwd() + "/", ""))
w("```")
w("")
w("The PostgreSQL runs set `EFET_BENCH_PG=\"host=127.0.0.1 port=PORT dbname=... user=postgres\"` for a "
  "cluster that the script creates with `initdb` and removes afterwards.")
print("\n".join(lines))
