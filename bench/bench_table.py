#!/usr/bin/env python3
"""Markdown tables of the process-entry benchmarks from tarn_bench's JSON output: the median
ns per sample per voice of each run (repetitions with aggregates), one table per family, and
the partial count K each run really summed beside the one asked for.
Usage: bench_table.py BENCH.json"""
import json
import sys

# family: (title, row arguments, column arguments)
FAMILIES = {
    "BM_ProcessEntry": ("Every input constant", ["hq", "mode", "K"], ["block", "voices"]),
    "BM_ProcessEntryModulated": ("\"a\", \"combfreq\", \"combphase\" (and with pitch 1 \"fc\") new every sample",
                                 ["hq", "mode", "K"], ["block", "voices", "pitch"]),
    "BM_ProcessEntrySubnormal": ("Powers through subnormals (tinyA 0: A = 0.9; 1: A = 1e-30)",
                                 ["hq", "mode", "K"], ["block", "voices", "tinyA"]),
    "BM_ProcessEntryRate": ("Sample rate, K 1000, Mode 1, block 64, 1 voice", ["hq"], ["rate"]),
}


def parse_name(run_name):
    """'BM_X/hq:0/K:10' -> ('BM_X', {'hq': 0, 'K': 10})"""
    family, *args = run_name.split("/")
    values = {}
    for arg in args:
        key, _, value = arg.partition(":")
        values[key] = int(value)
    return family, values


def medians(report):
    """{family: [(args, ns per sample per voice, real K)]} from the median aggregates."""
    found = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name") != "median" or "ns_per_sample_voice" not in b:
            continue
        family, args = parse_name(b["run_name"])
        # The counter is a rate inverted: seconds per sample per voice.
        ns = b["ns_per_sample_voice"] * 1e9
        found.setdefault(family, []).append((args, ns, int(round(b.get("K", -1)))))
    return found


def label(keys, args):
    return " ".join(f"{k} {args[k]}" for k in keys)


def table(title, rows_keys, cols_keys, runs):
    rows = sorted({tuple(a[k] for k in rows_keys) for a, _, _ in runs})
    cols = sorted({tuple(a[k] for k in cols_keys) for a, _, _ in runs})
    cell = {(tuple(a[k] for k in rows_keys), tuple(a[k] for k in cols_keys)): (ns, K)
            for a, ns, K in runs}
    lines = [f"{title}: median ns per sample per voice", ""]
    head = rows_keys + (["real K"] if "K" in rows_keys else [])
    head += [label(cols_keys, dict(zip(cols_keys, c))) for c in cols]
    lines.append("| " + " | ".join(head) + " |")
    lines.append("|" + "---|" * len(head))
    for r in rows:
        got = [cell.get((r, c)) for c in cols]
        ks = sorted({g[1] for g in got if g})
        row = [str(v) for v in r]
        if "K" in rows_keys:
            row.append("/".join(map(str, ks)))
        row += [f"{g[0]:.1f}" if g else "" for g in got]
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 1
    with open(argv[1]) as f:
        found = medians(json.load(f))
    if not found:
        print(f"{argv[1]}: no median of a process-entry benchmark", file=sys.stderr)
        return 2
    for family, (title, rows_keys, cols_keys) in FAMILIES.items():
        if family in found:
            print(table(title, rows_keys, cols_keys, found[family]))
            print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
