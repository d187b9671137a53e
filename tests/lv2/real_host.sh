#!/usr/bin/env bash
# One run in a real host: jackd (dummy driver, no real-time scheduling) on a server name of this
# test, jalv with the bundle, a held A4 from jack_midiseq, two seconds recorded with jack_rec; then
# a full chord, whose peak must stay below full scale. The recording must hold a 440 Hz tone: the
# frequency of each sounding stretch from its zero crossings, the median period within 0.05 % of
# 1/440 s and 98 % of the periods within 0.5 % (a cycle that jack_rec drops under load would cut
# one period). Onsets are not checked: the timing is the dummy driver's real time. Every step is
# bounded; everything started here is stopped by PID.
# Usage: real_host.sh LV2_DIR (the folder holding tarn.lv2)
set -u
lv2_dir=$(cd "$1" && pwd) || exit 1
work=$(mktemp -d)
# One fixed server name: JACK's registry of servers has 8 entries, and only an entry of the same
# name is taken back from a server that died without leaving it. Runs must not overlap.
export JACK_DEFAULT_SERVER="tarn-lv2-test"
export JACK_NO_AUDIO_RESERVATION=1
# A client that finds no server must not start one of its own.
export JACK_NO_START_SERVER=1
pids=()

cleanup() {
    exec 3>&- 4>&- 2>/dev/null
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$work"
    rm -f /dev/shm/jack_sem.*_"$JACK_DEFAULT_SERVER"_* /dev/shm/jack_"$JACK_DEFAULT_SERVER"_*
}
trap cleanup EXIT
trap 'exit 1' TERM INT

fail() {
    echo "real_host: $*"
    for log in "$work"/*.log; do
        [ -f "$log" ] && { echo "--- $log"; tail -20 "$log"; }
    done
    exit 1
}

# Waits up to about 10 s for a JACK port.
wait_port() {
    for _ in $(seq 100); do
        timeout 10 jack_lsp 2>/dev/null | grep -qx "$1" && return 0
        sleep 0.1
    done
    fail "no port $1"
}

# A jackd killed by force leaves its metadata database locked, and every later jackd then hangs
# at start-up. With no jackd running nothing holds it, and jackd makes it anew.
if ! pgrep -x jackd >/dev/null; then
    rm -rf "/dev/shm/jack_db-$(id -u)"
fi
jackd -n "$JACK_DEFAULT_SERVER" -r -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
timeout 15 jack_wait -w -t 10 >/dev/null 2>&1 || fail "jackd did not start"
wait_port system:playback_1

# jalv reads commands from its standard input and quits at its end: a FIFO held open here.
mkfifo "$work/jalv.in"
LV2_PATH="$lv2_dir" jalv -n tarn -x -c partials=0 urn:tarn:lv2:oscillator \
    <"$work/jalv.in" >"$work/jalv.log" 2>&1 &
pids+=($!)
exec 3>"$work/jalv.in"
wait_port tarn:outputl
wait_port tarn:midi_in

# A4 held for 40000 samples of every 48000-sample loop.
jack_midiseq seq 48000 0 69 40000 >"$work/seq.log" 2>&1 &
pids+=($!)
wait_port seq:out
timeout 5 jack_connect seq:out tarn:midi_in || fail "jack_connect"
# Records two seconds of PORTS to FILE: rec FILE LOG PORTS...
rec() {
    local file=$1 log=$2
    shift 2
    timeout 20 jack_rec -f "$file" -d 2 "$@" >"$log" 2>&1 || fail "jack_rec"
}

# A recording is judged up to three times: the dummy driver keeps real time on a shared machine,
# and a cycle that misses it (an xrun) can drop or repeat a buffer. Every take is judged by the
# same test; one that passes shows what the test asks.
tone_is_440() {
python3 - "$1" <<'PY'
import struct, sys, wave
w = wave.open(sys.argv[1])
assert w.getnchannels() == 2 and w.getsampwidth() == 2, "16-bit stereo expected"
n = w.getnframes()
left = struct.unpack('<%dh' % (2 * n), w.readframes(n))[0::2]
cross = [i - 1 + -a / (b - a) for i, (a, b) in enumerate(zip(left, left[1:]), 1) if a < 0 <= b]
expected = 48000 / 440.0
# Stretches between silences; the first and last period of each may be cut by a note's edge.
runs, run = [], [cross[0]] if cross else []
for c in cross[1:]:
    if c - run[-1] > 1.5 * expected:
        runs.append(run)
        run = []
    run.append(c)
runs.append(run)
runs = [r[1:-1] for r in runs if len(r) > 20]
assert runs, "no sounding stretch"
for r in runs:
    periods = [b - a for a, b in zip(r, r[1:])]
    hz = 48000 * (len(r) - 1) / (r[-1] - r[0])
    print("stretch of %d periods: %.3f Hz, periods %.3f..%.3f samples" %
          (len(periods), hz, min(periods), max(periods)))
    assert abs(hz - 440.0) < 0.5, hz
    assert abs(sorted(periods)[len(periods) // 2] - expected) < 0.0005 * expected
    assert sum(abs(p - expected) < 0.005 * expected for p in periods) >= 0.98 * len(periods)
PY
}
for take in 1 2 3; do
    rec "$work/rec.wav" "$work/rec.log" tarn:outputl tarn:outputr
    tone_is_440 "$work/rec.wav" && break
    [ "$take" = 3 ] && fail "the recording is not a 440 Hz tone (3 takes)"
done

# A full chord at the default settings, in a second jalv: keys 112-127, the 16 loudest together
# (0.556 of full scale over the 40000 samples they are held, rendered offline at velocity 127).
# jack_midiseq plays every note at velocity 64, so the level is raised by 20 log10(127/64) =
# 5.95 dB above its default: gain and velocity multiply, and the two give the gain of velocity 127
# at the default level. jack_rec converts to integers without clipping (a sample beyond full
# scale wraps round), so the peak must land in 0.5..0.9.
level=$(LV2_PATH="$lv2_dir" timeout 10 lv2info urn:tarn:lv2:oscillator |
    awk '/Symbol: *level$/ {l = 1} l && /Default:/ {print $2 + 5.953; exit}')
[ -n "$level" ] || fail "no level port"
mkfifo "$work/chord.in"
LV2_PATH="$lv2_dir" jalv -n tarnchord -x -c level="$level" urn:tarn:lv2:oscillator \
    <"$work/chord.in" >"$work/chord.log" 2>&1 &
pids+=($!)
exec 4>"$work/chord.in"
wait_port tarnchord:outputr
wait_port tarnchord:midi_in
chord=()
for key in $(seq 112 127); do chord+=(0 "$key" 40000); done
jack_midiseq chord 48000 "${chord[@]}" >"$work/chordseq.log" 2>&1 &
pids+=($!)
wait_port chord:out
timeout 5 jack_connect chord:out tarnchord:midi_in || fail "jack_connect"
chord_peak_below_full_scale() {
python3 - "$1" <<'PY'
import struct, sys, wave
w = wave.open(sys.argv[1])
n = w.getnframes()
x = struct.unpack('<%dh' % (2 * n), w.readframes(n))
peak = max(abs(v) for v in x) / 32768.0
print("full chord (keys 112-127, velocity 127 at the default level): peak %.3f of full scale, "
      "%.1f dBFS" % (peak, 20 * __import__('math').log10(max(peak, 1e-9))))
assert 0.5 < peak < 0.9, peak
PY
}
for take in 1 2 3; do
    rec "$work/chord.wav" "$work/chordrec.log" tarnchord:outputl tarnchord:outputr
    chord_peak_below_full_scale "$work/chord.wav" && break
    [ "$take" = 3 ] && fail "the full chord's peak is not below full scale (3 takes)"
done
exec 4>&- 2>/dev/null
echo "real_host: 440 Hz recorded through jackd, jalv, jack_midiseq and jack_rec"
