"""SuperCollider non-real-time input for the peer comparison, written byte by byte: a SynthDef
file (format version 2, "SCgf") and the binary OSC score that scsynth -N plays. Every
multi-byte value is big-endian; OSC strings and blobs are padded with zeros to 4 bytes."""
import struct

RATE_AUDIO = 2
CONSTANT = -1  # the "unit generator index" of an input that is a constant


def pstring(text):
    """A SynthDef string: one length byte, then the bytes."""
    data = text.encode("ascii")
    return struct.pack(">B", len(data)) + data


def ugen(name, inputs, outputs):
    """One unit generator spec at audio rate. inputs: (source ugen index or CONSTANT, output
    or constant index) pairs; outputs: number of audio-rate outputs."""
    spec = pstring(name) + struct.pack(">biih", RATE_AUDIO, len(inputs), outputs, 0)
    for source, index in inputs:
        spec += struct.pack(">ii", source, index)
    spec += struct.pack(">b", RATE_AUDIO) * outputs
    return spec


def synthdef(name, constants, ugens):
    """One synth definition without parameters or variants."""
    data = pstring(name) + struct.pack(">i", len(constants))
    data += b"".join(struct.pack(">f", c) for c in constants)
    data += struct.pack(">ii", 0, 0)  # parameters, parameter names
    data += struct.pack(">i", len(ugens)) + b"".join(ugens)
    return data + struct.pack(">h", 0)  # variants


def synthdef_file(defs):
    return b"SCgf" + struct.pack(">ih", 2, len(defs)) + b"".join(defs)


def blip_def(name, freq, harmonics):
    """Out.ar(0, Blip.ar(freq, harmonics)): constants 0 (the bus), freq, harmonics."""
    blip = ugen("Blip", [(CONSTANT, 1), (CONSTANT, 2)], 1)
    out = ugen("Out", [(CONSTANT, 0), (0, 0)], 0)
    return synthdef(name, [0.0, float(freq), float(harmonics)], [blip, out])


def silent_def(name):
    """Out.ar(0, DC.ar(0)): the server's cost of running a synth that sounds nothing."""
    dc = ugen("DC", [(CONSTANT, 0)], 1)
    out = ugen("Out", [(CONSTANT, 0), (0, 0)], 0)
    return synthdef(name, [0.0], [dc, out])


def osc_pad(data):
    return data + b"\0" * (4 - len(data) % 4)


def osc_string(text):
    return osc_pad(text.encode("ascii"))  # always at least one terminating zero


def osc_message(address, *args):
    tags = ","
    payload = b""
    for a in args:
        if isinstance(a, bytes):
            tags += "b"
            payload += struct.pack(">i", len(a)) + a + b"\0" * (-len(a) % 4)
        elif isinstance(a, int):
            tags += "i"
            payload += struct.pack(">i", a)
        elif isinstance(a, float):
            tags += "f"
            payload += struct.pack(">f", a)
        else:
            tags += "s"
            payload += osc_string(a)
    return osc_string(address) + osc_string(tags) + payload


def osc_bundle(seconds, messages):
    """A bundle at `seconds` from the start: NTP time tag, 32.32 fixed point."""
    tag = int(round(seconds * (1 << 32)))
    data = osc_string("#bundle") + struct.pack(">Q", tag)
    for m in messages:
        data += struct.pack(">i", len(m)) + m
    return data


def nrt_score(defs_file, def_name, voices, seconds):
    """The score: load the definitions, start `voices` synths of def_name at 0, end at
    `seconds` (the last bundle's time is the length of the render)."""
    bundles = [
        osc_bundle(0.0, [osc_message("/d_recv", defs_file)]),
        osc_bundle(0.0, [osc_message("/s_new", def_name, 1000 + v, 0, 0) for v in range(voices)]),
        osc_bundle(seconds, [osc_message("/c_set", 0, 0)]),
    ]
    return b"".join(struct.pack(">i", len(b)) + b for b in bundles)
