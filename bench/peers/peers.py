#!/usr/bin/env python3
"""The same work on three engines: Csound's gbuzz, SuperCollider's Blip (scsynth in non-real-time
mode) and TARN through tarn-render --null ("hq" off and on, from one or more build trees), at
each partial count asked for, plus one zero-output control per engine (per TARN tree) that costs
what the engine costs around the oscillator. All runs alternate round by round (every case once
per round), CPU time (user + sys) of each child is taken from wait4, and each case's net cost is
its time minus its engine's control in the same round; the tables give medians over rounds in
ns per output sample per voice, and each TARN case's cost as a multiple of gbuzz's and Blip's.
Usage: peers.py BUILD_DIR   (environment: ROUNDS, SECONDS, VOICES, BLOCK, RATE, PARTIALS, and
TARN_TREES="name=BUILD_DIR ..." to run TARN from several trees in place of BUILD_DIR)"""
import json
import os
import statistics
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sc_score  # noqa: E402

PITCH_HZ = 20.0  # 1000 harmonics of 20 Hz end at 20 kHz, below 22.05 kHz
RATIO = 0.9


def env_int(name, default):
    return int(os.environ.get(name, default))


ROUNDS = env_int("ROUNDS", 9)
SECONDS = env_int("SECONDS", 600)
VOICES = env_int("VOICES", 1)
PARTIALS = [int(k) for k in os.environ.get("PARTIALS", "1000").split()]
BLOCK = env_int("BLOCK", 64)
RATE = env_int("RATE", 44100)


def write(path, data):
    with open(path, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)
    return path


def csound_case(work, name, instrument_line):
    """One orchestra and score: VOICES notes of the given instrument call for SECONDS."""
    orc = (f"sr = {RATE}\nksmps = {BLOCK}\nnchnls = 1\n0dbfs = 1\n"
           "instr 1\n"
           f"{instrument_line}\n"
           "out a1\nendin\n")
    sco = "f1 0 65536 11 1\n" + f"i1 0 {SECONDS} {PITCH_HZ}\n" * VOICES
    o = write(os.path.join(work, name + ".orc"), orc)
    s = write(os.path.join(work, name + ".sco"), sco)
    return ["csound", "-n", "-d", "-m0", "--nodisplays", o, s]


def scsynth_case(work, name, definition):
    defs = sc_score.synthdef_file([definition])
    score = write(os.path.join(work, name + ".osc"),
                  sc_score.nrt_score(defs, name, VOICES, float(SECONDS)))
    return ["scsynth", "-D", "0", "-o", "1", "-z", str(BLOCK), "-N", score, "_", "/dev/null",
            str(RATE), "WAV", "float"]


def tarn_case(work, build, name, hq, partials, sounding=True):
    """VOICES notes over the whole render; the control's notes last one sample, after which
    every instance sleeps and the host only runs its block loop and sums the outputs."""
    length = SECONDS if sounding else 1.0 / RATE
    patch = {
        "description": f"peer comparison: {name}",
        "sample_rate": RATE, "block_size": BLOCK, "voices": VOICES, "duration": SECONDS,
        "settings": {"Mode": "1-Sided", "cyclic": "off", "hq": "on" if hq else "off",
                     "poly": min(VOICES, 16), "alternate": "L+R"},
        "defaults": {"fm1": 1, "N": partials, "a": RATIO, "detune": 0, "combfreq": 0,
                     "combphase": 0},
        "score": [{"start": 0, "length": length, "pitch": {"hz": PITCH_HZ}}
                  for _ in range(VOICES)],
    }
    path = write(os.path.join(work, name + ".json"), json.dumps(patch, indent=1))
    return [os.path.join(build, "tarn-render"), "--null", "--quiet", path]


def tarn_trees(build):
    """[(name, build dir)] from TARN_TREES ("base=DIR new=DIR"), or the one tree, unnamed."""
    spec = os.environ.get("TARN_TREES", "").split()
    if not spec:
        return [("", build)]
    trees = []
    for item in spec:
        name, sep, path = item.partition("=")
        if not sep or not name or not path:
            raise SystemExit(f"peers: TARN_TREES item '{item}' is not name=BUILD_DIR")
        trees.append((name, path))
    return trees


def cases(work, build):
    """(engine, label, partials or None for the control, command); each TARN tree is an engine
    of its own, with its own control."""
    out = [("csound", "control", None,
            csound_case(work, "csound-control", "a1 = 0"))]
    for k in PARTIALS:
        out.append(("csound", "gbuzz", k, csound_case(
            work, f"csound-gbuzz-{k}", f"a1 gbuzz 0.05, p4, {k}, 1, {RATIO}, 1")))
    out.append(("scsynth", "control", None,
                scsynth_case(work, "silent", sc_score.silent_def("silent"))))
    for k in PARTIALS:
        out.append(("scsynth", "Blip", k, scsynth_case(
            work, f"blip{k}", sc_score.blip_def(f"blip{k}", PITCH_HZ, k))))
    for name, tree in tarn_trees(build):
        engine = f"tarn {name}".strip()
        prefix = f"tarn-{name}-" if name else "tarn-"
        out.append((engine, "control", None,
                    tarn_case(work, tree, prefix + "control", 0, 10, False)))
        for hq, path in ((0, "fast"), (1, "hq")):
            label = f"TARN {name} {path}" if name else f"TARN {path}"
            for k in PARTIALS:
                out.append((engine, label, k, tarn_case(work, tree, f"{prefix}hq{hq}-{k}", hq, k)))
    return out


def cpu_seconds(command):
    """User + system CPU time of one run; fails loudly when the engine fails."""
    with open(os.devnull, "wb") as null:
        child = subprocess.Popen(command, stdout=null, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(child.pid, 0)
        err = child.stderr.read().decode(errors="replace")
        child.stderr.close()
        child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"peers: {' '.join(command)} failed ({child.returncode}):\n{err}")
    return usage.ru_utime + usage.ru_stime


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 1
    build = argv[1]
    work = os.path.join(build, "peers")
    os.makedirs(work, exist_ok=True)
    runs = cases(work, build)
    samples = RATE * SECONDS * VOICES
    print(f"peers: {VOICES} voices x {SECONDS} s at {RATE} Hz, block (ksmps) {BLOCK}, "
          f"{ROUNDS} rounds, files in {work}", flush=True)
    times = {i: [] for i in range(len(runs))}
    for r in range(ROUNDS):
        for i, (_, _, _, command) in enumerate(runs):
            times[i].append(cpu_seconds(command))
        print(f"peers: round {r + 1} of {ROUNDS} done", file=sys.stderr, flush=True)

    control = {engine: i for i, (engine, label, _, _) in enumerate(runs) if label == "control"}
    net = {}
    print()
    print("| engine | case | partials | CPU s per run (median) | net ns per sample per voice |")
    print("|---|---|---|---|---|")
    for i, (engine, label, k, _) in enumerate(runs):
        median = statistics.median(times[i])
        if k is None:
            print(f"| {engine} | {label} | - | {median:.3f} | (the engine alone: "
                  f"{median / samples * 1e9:.2f} ns gross) |")
            continue
        c = control[engine]
        diffs = [t - times[c][r] for r, t in enumerate(times[i])]
        net[(label, k)] = statistics.median(diffs) / samples * 1e9
        print(f"| {engine} | {label} | {k} | {median:.3f} | {net[(label, k)]:.2f} |")

    print()
    print("| case | partials | net ns per sample per voice | x gbuzz | x Blip |")
    print("|---|---|---|---|---|")
    ratio = lambda x, y: f"{x / y:.2f}" if y > 0 else "n/a"  # noqa: E731
    for k in PARTIALS:
        g, b = net[("gbuzz", k)], net[("Blip", k)]
        for (label, kk), ns in net.items():
            if kk == k:
                print(f"| {label} | {k} | {ns:.2f} | {ratio(ns, g)} | {ratio(ns, b)} |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
