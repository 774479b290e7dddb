"""Summarises a bench.sh run and writes it into BENCHMARKS.md between its result markers.

usage: bench_report.py RESULTS_DIR RUNS WAITS_MS "REQUESTS OPENS QUERIES SETS" BENCHMARKS_MD
"""
import json
import os
import statistics
import sys

BEGIN = "<!-- results: written by scripts/bench.sh -->"
END = "<!-- end of results -->"


def main():
    out, runs, waits_ms, asked, md = sys.argv[1:6]
    runs, waits_ms = int(runs), int(waits_ms)
    requests, opens, queries, sets = (int(n) for n in asked.split())
    rows = [line.split() for line in open(f"{out}/main-runs.txt") if line.strip()]
    real = [float(r[0]) * 1000 for r in rows]
    cpu = [(float(r[1]) + float(r[2])) * 1000 for r in rows]
    syncs = statistics.median(int(r[3]) for r in rows)
    bench = json.load(open(f"{out}/benchmarks.json"))

    medians = {}
    for b in bench["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            # Benchmarks timed in real time carry a "/real_time" suffix in their run names.
            name = b["run_name"].removesuffix("/real_time")
            medians[name] = (b["real_time"] * scale, b.get("label", ""))

    line_ms = medians["BM_BridgeLogFileLine"][0]
    floor = waits_ms + syncs * line_ms
    med = statistics.median(real)
    rest = med - floor

    def faster(ours, baseline):  # how many times the baseline's rate ours reaches
        return medians[baseline][0] / medians[ours][0]

    machine = ""
    try:
        machine = next(l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name"))
    except (OSError, StopIteration):
        pass
    machine += f", {os.cpu_count()} processors"

    lines = [BEGIN, "", f"Machine: {machine}. Benchmarks: median of 5 repetitions.", ""]
    lines += [
        "### The main job against its floor",
        "",
        f"`TxlApply 1` with every check row in place, TXL_TIME_SCALE=1, {runs} runs:",
        "",
        "| | ms |",
        "|---|---:|",
        f"| whole process, median (min – max) | {med:.0f} ({min(real):.0f} – {max(real):.0f}) |",
        f"| CPU time, median | {statistics.median(cpu):.0f} |",
        f"| mandated waits | {waits_ms} |",
        f"| mandated log syncs: {syncs:.0f} bridge log lines × {line_ms:.3f} ms | {syncs * line_ms:.0f} |",
        f"| **floor** (waits + syncs) | **{floor:.0f}** |",
        f"| **rest** (ours) | **{rest:.0f}**, {100 * rest / floor:.1f} % of the floor |",
        "",
        f"The run made {requests} device-service requests: {opens} sessions opened and closed, "
        f"{queries} queries, {sets} sets.",
        "",
        "### Job runners against a plain baseline (same threads, one mutex and condition variable)",
        "",
        "| | ratio |",
        "|---|---:|",
        f"| pool throughput (bursts of half the pool's workers, tiny jobs) | {faster('BM_PoolThroughput', 'BM_PoolBaselineThroughput'):.2f} × the baseline's |",
        f"| pool dispatch latency | {medians['BM_PoolDispatchLatency'][0] / medians['BM_PoolBaselineDispatchLatency'][0]:.2f} × the baseline's |",
        f"| queue throughput (bursts of 256 tiny jobs) | {faster('BM_QueueThroughput', 'BM_QueueBaselineThroughput'):.2f} × the baseline's |",
        f"| queue dispatch latency | {medians['BM_QueueDispatchLatency'][0] / medians['BM_QueueBaselineDispatchLatency'][0]:.2f} × the baseline's |",
        "",
        "### Each benchmark (median real time)",
        "",
        "| benchmark | | time |",
        "|---|---|---:|",
    ]
    for name, (ms, label) in medians.items():
        shown = f"{ms * 1000:.1f} µs" if ms < 1 else f"{ms:.2f} ms"
        lines.append(f"| `{name}` | {label} | {shown} |")
    lines += ["", "### Device-service requests of each export", "", "```text"]
    lines += [l.rstrip() for l in open(f"{out}/requests.txt")]
    lines += ["```", "", END]

    text = open(md).read() if os.path.exists(md) else ""
    if BEGIN in text and END in text:
        text = text[: text.index(BEGIN)] + "\n".join(lines) + text[text.index(END) + len(END):]
    else:
        text = text.rstrip("\n") + "\n\n" + "\n".join(lines) + "\n"
    open(md, "w").write(text)
    print(f"TxlApply 1: median {med:.0f} ms; floor {floor:.0f} ms; rest {rest:.0f} ms ({100 * rest / floor:.1f} %)")


if __name__ == "__main__":
    main()
