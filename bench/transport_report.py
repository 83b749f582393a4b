#!/usr/bin/env python3
"""Writes the transport section of bench/report.md from one interleaved run
(scripts/bench.sh transport).

Reads BENCH_TRANSPORT_OUT: net_<k>.json and servcli_<k>.json (Google Benchmark,
repetition k) and load.txt (bench/load_bench's lines). Figures are medians over
the repetitions; each ratio is taken within one repetition, so both sides share
the machine's state, and the median of those ratios is reported. The section
lies between two markers, so it is replaced in place and the rest of the
report is kept.
"""
import glob
import json
import os
import statistics
import sys

from report_section import commands_block, keep_section, write_section

BEGIN = "<!-- transport section: scripts/bench.sh transport -->"
END = "<!-- end of transport section -->"

if len(sys.argv) == 4 and sys.argv[1] == "--keep":
    keep_section(sys.argv[2], sys.argv[3], BEGIN, END)
    sys.exit(0)

out = os.environ["BENCH_TRANSPORT_OUT"]
report = sys.argv[1] if len(sys.argv) > 1 else "bench/report.md"
SCALE = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def runs(pattern):
    """{repetition: {run name: benchmark}} for the files matching pattern."""
    by = {}
    for path in sorted(glob.glob(os.path.join(out, pattern))):
        k = path.rsplit("_", 1)[1].split(".")[0]
        with open(path) as f:
            doc = json.load(f)
        by[k] = {b.get("run_name", b["name"]): b for b in doc["benchmarks"] if b.get("run_type") != "aggregate"}
    return by


def us(b, key="real_time"):
    return b[key] * SCALE[b.get("time_unit", "ns")]


def med(vals):
    vals = [v for v in vals if v is not None]
    return statistics.median(vals) if vals else None


def fmt(v):
    if v is None:
        return "–"
    return "%.1f µs" % v if v < 1000 else "%.2f ms" % (v / 1000)


lines = []
w = lines.append
w(BEGIN)
w("## Transport: the cheapest call against a raw TCP round trip, and GetServCli against in-process")
w("")
w("Written by `scripts/bench.sh transport` on %s (commit %s); load average before %s, after %s; "
  "%s repetitions, interleaved. Each ratio is taken within one repetition and the median of the "
  "ratios is shown. Client and server share the machine's cores; the machine is shared with other "
  "work, so read the figures against the load average."
  % (os.environ.get("BENCH_DATE", "?"), os.environ.get("BENCH_COMMIT", "?"),
     os.environ.get("BENCH_LOAD_BEFORE", "?"), os.environ.get("BENCH_LOAD_AFTER", "?"),
     os.environ.get("BENCH_REPS", "?")))
w("")

net = runs("net_*.json")
ECHO, RAW = "BM_CallEcho/packet_rows:0/real_time", "BM_RawTcpPing/bytes:256/real_time"
pairs = [(us(r[ECHO]), us(r[RAW])) for r in net.values() if ECHO in r and RAW in r]
if pairs:
    echo, raw = med([p[0] for p in pairs]), med([p[1] for p in pairs])
    ratio = med([e / r for e, r in pairs])
    w("### The cheapest authenticated exchange (`net_bench`)")
    w("")
    w("`BM_CallEcho/packet_rows:0`: a logged-in `TNetConnection` calls the test module's Echo with "
      "three small arguments over a keep-alive connection (session check, envelope decoding and "
      "encoding, the reply's Server-Timing). `BM_RawTcpPing/bytes:256`: a message of the request's "
      "size echoed by a thread on a TCP connection on the same loopback, the floor under any exchange.")
    w("")
    w("| | Time per exchange | Ratio to the raw round trip |")
    w("|---|---:|---:|")
    w("| Raw TCP round trip, 256 bytes | %s | 1 |" % fmt(raw))
    w("| Cheapest call (Echo, no packet) | %s | **%.2f** (target at most 2) |" % (fmt(echo), ratio))
    w("")
    w("Per repetition: " + ", ".join("%.2f" % (e / r) for e, r in pairs) + ".")
    w("")

servcli = runs("servcli_*.json")
if servcli:
    w("### GetServCli over HTTP against the same method in-process (`server_bench`, SQLite)")
    w("")
    w("Requests per second with 1, 2 and 8 client threads, each its own keep-alive connection. "
      "In-process: the module called straight, no transport (`BM_Module_GetServCli`), the ceiling the "
      "transport is measured against; the database ceiling (`BM_Db_GetServCli`, the method's statements "
      "run straight on one connection) is beside it for reference.")
    w("")
    w("| Client threads | HTTP: requests/s | In-process: requests/s | **HTTP / in-process** (target at least 0.6) "
      "| Database ceiling: requests/s | HTTP / database ceiling |")
    w("|---:|---:|---:|---:|---:|---:|")
    for t in (1, 2, 8):
        sfx = "/process_time/real_time/threads:%d" % t
        h = [us(r["BM_Http_GetServCli" + sfx]) for r in servcli.values() if "BM_Http_GetServCli" + sfx in r]
        m = [us(r["BM_Module_GetServCli" + sfx]) for r in servcli.values() if "BM_Module_GetServCli" + sfx in r]
        d = [us(r["BM_Db_GetServCli" + sfx]) for r in servcli.values() if "BM_Db_GetServCli" + sfx in r]
        rm = med([us(r["BM_Module_GetServCli" + sfx]) / us(r["BM_Http_GetServCli" + sfx]) for r in servcli.values()
                  if "BM_Http_GetServCli" + sfx in r and "BM_Module_GetServCli" + sfx in r])
        rd = med([us(r["BM_Db_GetServCli" + sfx]) / us(r["BM_Http_GetServCli" + sfx]) for r in servcli.values()
                  if "BM_Http_GetServCli" + sfx in r and "BM_Db_GetServCli" + sfx in r])
        if not h:
            continue
        w("| %d | %.0f | %s | **%s** | %s | %s |" % (
            t, 1e6 / med(h), "%.0f" % (1e6 / med(m)) if m else "–", "%.2f" % rm if rm else "–",
            "%.0f" % (1e6 / med(d)) if d else "–", "%.2f" % rd if rd else "–"))
    w("")

load = os.path.join(out, "load.txt")
if os.path.exists(load):
    w("### Latency under hostile and heavy load (`load_bench`)")
    w("")
    w("A real `efetivos-server` process on a SQLite file; each figure beside the same measurement "
      "without the load, in the same run. Other addresses arrive as X-Forwarded-For from the "
      "loopback, as from a balancer on the server's machine.")
    w("")
    w("```")
    for line in open(load, encoding="utf-8"):
        w(line.rstrip("\n"))
    w("```")
    w("")

lines += commands_block(out)
w(END)

section = "\n".join(lines) + "\n"
write_section(report, BEGIN, END, section, before="<!-- data-set section: scripts/bench.sh data -->")
print(section)
