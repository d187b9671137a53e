#!/usr/bin/env python3
"""Every figure of the lead table of BENCHMARKS.md, measured now and printed as markdown rows:
one voice, Mode 1, K = 1000, block 64, held inputs unless a row says otherwise.
- ns per sample: tarn_bench's process-entry benchmarks, 5 repetitions interleaved at random,
  medians;
- beside gbuzz and Blip: bench/peers/run.sh, one voice, 1000 partials (TARN through
  tarn-render --null, net of each engine's control, in the same interleaved run);
- instructions per sample: bench/callgrind.sh (x86-64) and bench/qemu-count.sh (the shipped DLL
  under qemu-i386, -cpu Haswell and Nehalem).
Usage: figures.py NATIVE_DIR I386_DIR   (bench/figures.sh gives the defaults)
Environment: QUICK=1 runs everything briefly, to check the script, not to quote."""
import json
import os
import re
import subprocess
import sys
import time

QUICK = os.environ.get("QUICK", "0") == "1"
KS = [10, 100, 1000, 10000]
BLOCKS = [16, 64, 1024]
PATHS = ((0, "fast"), (1, "hq"))


def run(command, env=None):
    """The command's standard output; its standard error goes through; fails loudly."""
    full = dict(os.environ, **(env or {}))
    done = subprocess.run(command, env=full, stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SystemExit(f"figures: {' '.join(command)} failed ({done.returncode})")
    return done.stdout


def processor():
    """'model name, widest vector unit' from /proc/cpuinfo."""
    model, flags = "unknown processor", set()
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key.strip() == "model name":
                model = value.strip()
            elif key.strip() == "flags":
                flags = set(value.split())
    unit = next((name for flag, name in (("avx512f", "AVX-512"), ("avx2", "AVX2"),
                                         ("sse2", "SSE2")) if flag in flags), "no SSE2")
    return f"{model}, widest vector unit {unit}"


def commit_of(build):
    """The short commit of the sources a CMake tree was configured from."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        source = re.search(r"^CMAKE_HOME_DIRECTORY:INTERNAL=(.*)$", f.read(), re.M).group(1)
    return run(["git", "-C", source, "rev-parse", "--short", "HEAD"]).strip()


def timings(native):
    """{(family, hq, K, block, voices): median ns per sample per voice} from one tarn_bench run."""
    entry = (r"^BM_ProcessEntry/hq:[01]/mode:1/K:(10|100|1000|10000)/block:64/voices:1$"
             r"|^BM_ProcessEntry/hq:[01]/mode:1/K:1000/block:(16|1024|64)/voices:(1|16)$"
             r"|^BM_ProcessEntryPitchMoving/hq:[01]/mode:1/K:1000/block:64/voices:1$"
             r"|^BM_Lv2Run16Voices/hq:[01]/partials:20/block:64$")
    out = os.path.join(native, "figures.json")
    run([os.path.join(native, "bench", "tarn_bench"), f"--benchmark_filter={entry}",
         f"--benchmark_min_time={0.01 if QUICK else 0.3}",
         f"--benchmark_repetitions={2 if QUICK else 5}",
         "--benchmark_enable_random_interleaving=true",
         "--benchmark_report_aggregates_only=true",
         f"--benchmark_out={out}", "--benchmark_out_format=json"])
    with open(out) as f:
        report = json.load(f)
    found = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        family, *args = b["run_name"].split("/")
        a = {k: int(v) for k, _, v in (arg.partition(":") for arg in args)}
        ns = (b.get("ns_per_sample_voice") or b.get("ns_per_sample")) * 1e9
        if family == "BM_Lv2Run16Voices":
            found[(family, a["hq"])] = ns
        else:
            if int(round(b["K"])) != a["K"]:
                raise SystemExit(f"figures: {b['run_name']} summed K = {b['K']}")
            found[(family, a["hq"], a["K"], a["block"], a["voices"])] = ns
    return found


def callgrind(native):
    """{(hq, K, block): instructions per sample} from bench/callgrind.sh."""
    found = {}
    samples = "4096" if QUICK else "88064"
    for ks, blocks in (("10 100 1000 10000", "64"), ("1000", "16 1024")):
        text = run(["bench/callgrind.sh", native],
                   {"KS": ks, "BLOCKS": blocks, "MODES": "1", "SAMPLES": samples})
        for m in re.finditer(r"^(fast|hq) +1 +(\d+) +(\d+) +\d+ +\d+ +([\d.]+)$", text, re.M):
            found[(int(m.group(1) == "hq"), int(m.group(3)), int(m.group(2)))] = \
                float(m.group(4))
    # The pitch alone new at every sample (3) and every 64 samples (4), at block 64.
    for moved in ("3", "4"):
        text = run(["bench/callgrind.sh", native],
                   {"KS": "1000", "BLOCKS": "64", "MODES": "1", "SAMPLES": samples,
                    "MODULATED": moved})
        for m in re.finditer(r"^(fast|hq) +1 +64 +1000 +\d+ +\d+ +([\d.]+)$", text, re.M):
            found[(int(m.group(1) == "hq"), "moved" + moved)] = float(m.group(2))
    return found


def qemu(i386):
    """{(cpu, hq): guest instructions per sample of the DLL} from bench/qemu-count.sh, or {}
    when the 32-bit trees are not built."""
    if not os.path.exists(os.path.join(i386, "tarn-dll.so")):
        print(f"figures: {i386}/tarn-dll.so not built (make i386): no DLL counts",
              file=sys.stderr)
        return {}
    text = run(["bench/qemu-count.sh", i386],
               {"CPUS": "Haswell Nehalem", "KS": "1000", "BLOCKS": "64", "MODES": "1",
                "PLUGINS": "dll", "SAMPLES": "640 1280" if QUICK else "640 3200"})
    return {(m.group(1), int(m.group(2) == "hq")): float(m.group(3))
            for m in re.finditer(r"^dll +(\w+) +(fast|hq) +1 +64 +1000 +([\d.]+)$", text, re.M)}


def peers(native):
    """{case: net ns per sample per voice} for gbuzz, Blip, TARN fast and TARN hq."""
    env = {"VOICES": "1", "PARTIALS": "1000", "BLOCK": "64", "RATE": "44100"}
    if QUICK:
        env.update({"SECONDS": "20", "ROUNDS": "2"})
    full = dict(os.environ, **env)
    full.pop("TARN_TREES", None)  # this tree alone
    done = subprocess.run(["bench/peers/run.sh", native], env=full, stdout=subprocess.PIPE,
                          text=True)
    if done.returncode != 0:
        raise SystemExit("figures: bench/peers/run.sh failed")
    return {m.group(1): float(m.group(2))
            for m in re.finditer(r"^\| (gbuzz|Blip|TARN fast|TARN hq) \| 1000 \| (-?[\d.]+) \|",
                                 done.stdout, re.M)}


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 1
    native, i386 = argv[1], argv[2]
    start = time.time()
    with open("/proc/loadavg") as f:
        load = f.read().split()[0]
    print(f"figures: {commit_of(native)}, {processor()}, load average {load} at the start",
          file=sys.stderr, flush=True)
    ns = timings(native)
    ir = callgrind(native)
    dll = qemu(i386)
    peer = peers(native)

    def both(cell):
        return [cell(hq) for hq, _ in PATHS]

    def entry(hq, K=1000, block=64, voices=1, family="BM_ProcessEntry"):
        return ns[(family, hq, K, block, voices)]

    def moved(hq, case):
        return f"{ir[(hq, case)]:.1f} ({ir[(hq, case)] / ir[(hq, 1000, 64)]:.2f})"

    def guest(cpu):
        return lambda hq: f"{dll[(cpu, hq)]:.1f}" if dll else "not built"

    g, b = peer["gbuzz"], peer["Blip"]
    tarn = {0: peer["TARN fast"], 1: peer["TARN hq"]}
    rows = [
        ("ns per sample (`BM_ProcessEntry`)", both(lambda hq: f"{entry(hq):.2f}")),
        ("ns per sample, `tarn-render --null` net, in the peers run",
         both(lambda hq: f"{tarn[hq]:.2f}")),
        (f"x Csound's gbuzz, 1000 harmonics ({g:.2f} ns, same run)",
         both(lambda hq: f"{tarn[hq] / g:.2f}")),
        (f"x SuperCollider's Blip, 1000 harmonics ({b:.2f} ns, same run)",
         both(lambda hq: f"{tarn[hq] / b:.2f}")),
        ("callgrind instructions per sample (x86-64, AVX2 lanes)",
         both(lambda hq: f"{ir[(hq, 1000, 64)]:.1f}")),
        ("the DLL under qemu-i386 -cpu Haswell (AVX2), guest instructions per sample",
         both(guest("Haswell"))),
        ("the DLL under qemu-i386 -cpu Nehalem (SSE2), guest instructions per sample",
         both(guest("Nehalem"))),
        ("K = 10 / 100 / 1000 / 10000: ns per sample",
         both(lambda hq: " / ".join(f"{entry(hq, K=k):.2f}" for k in KS))),
        ("K = 10 / 100 / 1000 / 10000: callgrind instructions per sample",
         both(lambda hq: " / ".join(f"{ir[(hq, k, 64)]:.1f}" for k in KS))),
        ("K = 1000 / K = 10: callgrind (ns)",
         both(lambda hq: f"{ir[(hq, 1000, 64)] / ir[(hq, 10, 64)]:.3f} "
                         f"({entry(hq) / entry(hq, K=10):.2f})")),
        ("16 voices: ns per sample per voice (x 1 voice)",
         both(lambda hq: f"{entry(hq, voices=16):.2f} ({entry(hq, voices=16) / entry(hq):.2f})")),
        ("block 16 / 64 / 1024: ns per sample",
         both(lambda hq: " / ".join(f"{entry(hq, block=n):.2f}" for n in BLOCKS))),
        ("block 16 / 64 / 1024: callgrind instructions per sample",
         both(lambda hq: " / ".join(f"{ir[(hq, 1000, n)]:.1f}" for n in BLOCKS))),
        ("block 16 / block 64: callgrind (ns)",
         both(lambda hq: f"{ir[(hq, 1000, 16)] / ir[(hq, 1000, 64)]:.2f} "
                         f"({entry(hq, block=16) / entry(hq):.2f})")),
        ("pitch new at every sample (`BM_ProcessEntryPitchMoving`): ns per sample (x held)",
         both(lambda hq: f"{entry(hq, family='BM_ProcessEntryPitchMoving'):.2f} "
                         f"({entry(hq, family='BM_ProcessEntryPitchMoving') / entry(hq):.2f})")),
        ("pitch new at every sample: callgrind instructions per sample (x held)",
         both(lambda hq: moved(hq, "moved3"))),
        ("pitch new every 64 samples: callgrind instructions per sample (x held)",
         both(lambda hq: moved(hq, "moved4"))),
        ("LV2 instrument, 16 notes, 20 partials, block 64, 48 kHz: ns per sample frame",
         both(lambda hq: f"{ns[('BM_Lv2Run16Voices', hq)]:.0f}")),
    ]
    print('| one voice, K = 1000, block 64, held inputs unless stated | fast | "hq" |')
    print("|---|---|---|")
    for name, cells in rows:
        print(f"| {name} | {' | '.join(cells)} |")
    print(f"figures: {time.time() - start:.0f} s", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
