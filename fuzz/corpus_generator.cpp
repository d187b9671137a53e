// Writes the seed corpus of the three fuzz targets into <dir>/<target>/ from the validator
// scenarios' typical moves: a note on nominal inputs, lifecycle orders, many instances with
// notes, "poly" and "alternate" changes, status events at many offsets, the clock wrapping,
// the dispatcher's other opcodes, hostile input values, odd process shapes. Deterministic: the
// committed corpus is this program's output (a ctest compares them).
#include "fuzz/FuzzBytes.h"
#include "fuzz/operations.h"
#include "fuzz/pin_buffers.h"
#include "fuzz/voice_table.h"

#include <cstdio>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Audio inputs in pin order, as the decoders number them: fc, fm1, N, a, gate, detune, sync,
// combfreq, combphase. List pins: Mode, cyclic, hq, poly, alternate.
enum AudioPin : uint8_t { FC, FM1, N, A, GATE, DETUNE, SYNC, COMBFREQ, COMBPHASE, AUDIO_COUNT };
enum ListPin : uint8_t { MODE, CYCLIC, HQ, POLY, ALTERNATE };
constexpr float NOMINAL[AUDIO_COUNT] = {0.5f, 0.1f, 2.0f, 0.05f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f};

// A fuzz_operations input, with the host's position and the live instances followed as the
// decoder will see them, so that element numbers and instance numbers can be written as such.
class Ops {
public:
    Ops(uint8_t sizeSelector, float rate) : m_block(BLOCK_SIZES[sizeSelector]) {
        w.byte(sizeSelector).value(rate);
    }
    void make() {
        w.byte(OP_MAKE).byte(0);
        ++m_live;
    }
    void makeRefused(uint32_t index, uint32_t kind) {
        w.byte(OP_MAKE).byte(0x80).u32(index).u32(kind);
    }
    void open(uint8_t i) { w.byte(OP_OPEN).byte(i); }
    void close(uint8_t i) {
        w.byte(OP_CLOSE).byte(i);
        --m_live;
    }
    void rate(uint8_t i, float hz) { w.byte(OP_SAMPLE_RATE).byte(i).value(hz); }
    void blockSize(uint8_t i, int32_t n) { w.byte(OP_BLOCK_SIZE).byte(i).u32(uint32_t(n)); }
    // A ready instance: made, rate, block size, open, nominal inputs from element `at`.
    void addInstance(float hz, int32_t at) {
        make();
        const uint8_t i = uint8_t(m_live - 1);
        rate(i, hz);
        blockSize(i, m_block);
        open(i);
        for (uint8_t p = 0; p < AUDIO_COUNT; ++p) {
            if (p != SYNC) {
                input(i, p, at, NOMINAL[p]);
            }
        }
    }
    void list(uint8_t i, uint8_t pin, uint8_t selector) {
        w.byte(OP_LIST).byte(i).byte(pin).byte(selector);
    }
    void listRaw(uint8_t i, uint8_t pin, int16_t v) {
        w.byte(OP_LIST).byte(i).byte(pin).byte(0x80).u16(uint16_t(v));
    }
    void input(uint8_t i, uint8_t pin, int32_t at, float v) {
        w.byte(OP_INPUT).byte(i).byte(pin).inRange(m_position, at).value(v);
    }
    void fill(uint8_t i, uint8_t pin, int32_t at, const std::vector<float> &values) {
        w.byte(OP_FILL).byte(i).byte(pin).inRange(m_position, at);
        w.byte(uint8_t(values.size() - 1));
        for (float v : values) {
            w.value(v);
        }
    }
    void status(uint8_t i, uint8_t pin, uint16_t offset, uint8_t selector) {
        w.byte(OP_STATUS).byte(i).byte(pin).u16(offset).byte(selector);
    }
    void process(int32_t offset, int32_t count) {
        w.byte(OP_PROCESS).inRange(m_position, offset).u16(uint16_t(count));
        m_position = offset + count == m_block ? 0 : offset + count;
    }
    // In chunks of at most four blocks, the most one OP_RUN renders.
    void run(int32_t samples) {
        for (int32_t left = samples; left > 0; left -= 4 * m_block) {
            const int32_t chunk = left < 4 * m_block ? left : 4 * m_block;
            w.byte(OP_RUN).u16(uint16_t(chunk));
            m_position = (m_position + chunk) % m_block;
        }
    }
    void nextBlock() {
        w.byte(OP_NEXT_BLOCK);
        m_position = 0;
    }
    void clock(uint32_t c) {
        w.byte(OP_CLOCK).u32(c);
        m_position = 0;
    }
    void dispatch(uint8_t i, uint8_t opcodeSelector, int32_t index, int32_t value) {
        w.byte(OP_DISPATCH).byte(i).byte(opcodeSelector).u32(uint32_t(index)).u32(uint32_t(value));
    }
    void event(uint8_t i, uint8_t typeSelector, uint16_t offset, int32_t v1, int32_t v2) {
        w.byte(OP_EVENT).byte(i).byte(typeSelector).u16(offset).u32(uint32_t(v1)).u32(uint32_t(v2));
    }
    void rawProcess(uint8_t i, int32_t at, int32_t count) {
        w.byte(OP_RAW_PROCESS).byte(i).inRange(m_position, at).u16(uint16_t(count));
    }
    void reopen(uint8_t i) { w.byte(OP_REOPEN).byte(i); }
    void properties(int32_t index) { w.byte(OP_PROPERTIES).u32(uint32_t(index)); }
    void note(uint8_t i, int32_t at) { w.byte(OP_NOTE).byte(i).inRange(m_position, at); }

    int32_t block() const { return m_block; }
    int32_t live() const { return m_live; }
    FuzzWriter w;

private:
    int32_t m_block;
    int32_t m_position = 0;
    int32_t m_live = 0;
};

struct Seed {
    std::string name;
    std::string bytes;
};

std::vector<Seed> operationSeeds() {
    std::vector<Seed> seeds;
    {
        Ops o(0, 44100.0f); // a note on nominal inputs, rendered, closed
        o.addInstance(44100.0f, 0);
        o.note(0, 0);
        o.run(1024);
        o.close(0);
        seeds.push_back({"note", o.w.bytes()});
    }
    {
        Ops o(0, 44100.0f); // lifecycle orders
        o.make();
        o.close(0);
        o.make();
        o.rawProcess(0, 0, 64); // before open: nothing may be written
        o.open(0);
        o.note(0, 3);
        o.run(128);
        o.rate(0, 48000.0f);
        o.blockSize(0, 17);
        o.run(100);
        o.reopen(0);
        o.note(0, 40);
        o.run(300);
        o.make();
        o.list(1, POLY, 3);
        o.open(1);
        o.close(1);
        o.close(0);
        seeds.push_back({"lifecycle", o.w.bytes()});
    }
    {
        Ops o(8, 96000.0f); // many voices: notes from several instances, poly and alternate
        for (int k = 0; k < 6; ++k) {
            o.addInstance(96000.0f, 0);
            o.list(uint8_t(k), POLY, uint8_t(k % 4));
            o.list(uint8_t(k), ALTERNATE, uint8_t(k % 6));
        }
        for (int k = 0; k < 12; ++k) {
            o.note(uint8_t((k * 5) % 6), (k * 11) % 100);
            o.process((k * 11) % 100, 10);
            o.run(128 - (((k * 11) % 100) + 10));
        }
        for (uint8_t k = 0; k < 6; ++k) {
            o.list(k, ALTERNATE, 3);
        }
        o.note(2, 0);
        o.run(256);
        o.close(0); // the slot-0 owner first
        o.note(1, 5);
        o.run(3000);
        seeds.push_back({"voices", o.w.bytes()});
    }
    {
        Ops o(0, 44100.0f); // status events on every pin, every status, several offsets
        o.addInstance(44100.0f, 0);
        o.note(0, 0);
        for (uint8_t pin = 0; pin < 16; ++pin) {
            o.status(0, pin, uint16_t((pin * 7) % 64), uint8_t(pin % 5));
        }
        o.run(64);
        o.input(0, GATE, 10, 0.0f);
        o.status(0, 6, 20, 1);
        o.run(128);
        seeds.push_back({"status-events", o.w.bytes()});
    }
    {
        Ops o(0, 44100.0f); // the sample clock wrapping across 2^32
        o.clock(0xffffff00u);
        o.addInstance(44100.0f, 0);
        o.note(0, 5);
        o.run(200);
        o.make();
        o.open(1);
        o.note(1, 10);
        o.status(0, 4, 40, 2);
        o.run(500);
        seeds.push_back({"clock-wrap", o.w.bytes()});
    }
    {
        Ops o(0, 44100.0f); // the other dispatcher opcodes, before and after open
        o.make();
        for (uint8_t k = 0; k < DISPATCH_OPCODE_COUNT; ++k) {
            o.dispatch(0, k, k % 3 == 0 ? -1 : k, 7);
        }
        o.makeRefused(1, 1);
        o.makeRefused(0, 2);
        o.properties(0);
        o.properties(-1);
        o.open(0);
        for (uint8_t k = 0; k < DISPATCH_OPCODE_COUNT; ++k) {
            o.dispatch(0, k, 15 + k % 3, -3);
        }
        for (uint8_t k = 0; k < EVENT_TYPE_COUNT; ++k) {
            o.event(0, k, uint16_t(k * 3), 5, 0x18000);
        }
        o.note(0, 30);
        o.run(256);
        seeds.push_back({"dispatcher", o.w.bytes()});
    }
    {
        Ops o(0, 44100.0f); // every audio input through the edge values, then nominal again
        o.addInstance(44100.0f, 0);
        o.list(0, HQ, 0);
        o.list(0, CYCLIC, 1);
        o.note(0, 0);
        o.run(64);
        for (uint8_t pin = 0; pin < AUDIO_COUNT; ++pin) {
            o.fill(0, pin, 0, {EDGE_FLOATS[(pin * 3) % EDGE_FLOAT_COUNT], 2.2e8f, 1e20f, 12.5f});
            o.input(0, pin, 8, EDGE_FLOATS[(pin * 5 + 1) % EDGE_FLOAT_COUNT]);
            o.run(64);
        }
        for (uint8_t pin = 0; pin < AUDIO_COUNT; ++pin) {
            o.input(0, pin, 0, NOMINAL[pin]);
        }
        o.note(0, 1);
        o.run(2048);
        seeds.push_back({"hostile-values", o.w.bytes()});
    }
    {
        Ops o(0, 44100.0f); // every list setting through its list and invalid values
        o.addInstance(44100.0f, 0);
        o.note(0, 0);
        for (uint8_t pin = MODE; pin <= ALTERNATE; ++pin) {
            for (uint8_t s = 0; s < 22; s += 3) {
                o.list(0, pin, s);
                o.run(16);
            }
            o.listRaw(0, pin, -32768);
            o.note(0, 0);
            o.run(64);
        }
        seeds.push_back({"list-values", o.w.bytes()});
    }
    {
        Ops o(9, 192000.0f); // process calls of odd shapes, skipped samples, unfinished blocks
        o.addInstance(192000.0f, 0);
        o.note(0, 0);
        o.process(0, 1);
        o.process(1, 0);
        o.process(5, 300);
        o.rawProcess(0, 305, 0);
        o.process(400, 599);
        o.process(999, 1);
        o.process(0, 17);
        o.nextBlock();
        o.input(0, GATE, 0, 0.0f);
        o.run(3000);
        o.note(0, 500);
        o.process(0, 1000);
        seeds.push_back({"process-shapes", o.w.bytes()});
    }
    {
        Ops o(4, 44100.0f); // forty live instances, each with a note
        for (uint8_t k = 0; k < MAX_LIVE_INSTANCES; ++k) {
            o.addInstance(44100.0f, 0);
            o.note(k, k % 4);
        }
        o.run(32);
        for (uint8_t k = 0; k < 10; ++k) {
            o.close(uint8_t((k * 3) % o.live()));
        }
        o.run(64);
        seeds.push_back({"forty-instances", o.w.bytes()});
    }
    return seeds;
}

// A fuzz_pin_buffers input: header, lists, then `blocks` blocks of per-pin samples.
std::string pinBuffers(uint8_t sizeSelector, float rate, const uint8_t lists[5], int blocks,
                       const std::function<float(int pin, int i)> &sample) {
    FuzzWriter w;
    w.byte(sizeSelector).value(rate);
    for (int k = 0; k < 5; ++k) {
        w.byte(lists[k]);
    }
    const int32_t n = PIN_BUFFER_BLOCK_SIZES[sizeSelector];
    for (int b = 0; b < blocks; ++b) {
        for (int pin = 0; pin < AUDIO_COUNT; ++pin) {
            for (int32_t i = 0; i < n; ++i) {
                w.rawFloat(sample(pin, b * n + i));
            }
        }
    }
    return w.bytes();
}

std::vector<Seed> pinBufferSeeds() {
    // List selectors: Mode 1-Sided, cyclic off, hq on, poly 8, alternate 1 (the defaults).
    const uint8_t defaults[5] = {0, 0, 1, 7, 1};
    const uint8_t mode2[5] = {1, 1, 0, 0, 3};
    // Mode 0, cyclic -1, hq 3, poly -1, alternate 32767.
    const uint8_t invalid[5] = {2, 3, 4, 17, 10};
    std::vector<Seed> seeds;
    seeds.push_back(
        {"nominal", pinBuffers(0, 44100.0f, defaults, 2, [](int p, int) { return NOMINAL[p]; })});
    seeds.push_back(
        {"mode2-cyclic-fast", pinBuffers(1, 48000.0f, mode2, 3, [](int p, int i) {
             return p == FM1 ? -0.1f : p == COMBPHASE ? 0.05f * float(i % 7) : NOMINAL[p];
         })});
    seeds.push_back(
        {"invalid-lists", pinBuffers(2, 1.0f, invalid, 8, [](int p, int) { return NOMINAL[p]; })});
    seeds.push_back({"gate-every-other", pinBuffers(3, 44100.0f, defaults, 5, [](int p, int i) {
                         return p == GATE ? float(i % 2) : NOMINAL[p];
                     })});
    seeds.push_back({"sync-threshold", pinBuffers(5, 96000.0f, defaults, 2, [](int p, int i) {
                         return p == SYNC ? (i % 2 ? 0.1f : 0.2f) : NOMINAL[p];
                     })});
    // Each edge value on every input at once, and each pin alone through all of them.
    for (size_t e = 0; e < EDGE_FLOAT_COUNT; e += 2) {
        seeds.push_back(
            {"all-edge-" + std::to_string(e), pinBuffers(0, 44100.0f, defaults, 1, [e](int p, int) {
                 return p == SYNC ? 1.0f : EDGE_FLOATS[e];
             })});
    }
    for (int pin = 0; pin < AUDIO_COUNT; ++pin) {
        seeds.push_back({"pin-" + std::to_string(pin) + "-edges",
                         pinBuffers(1, 44100.0f, mode2, 2, [pin](int p, int i) {
                             return p == pin ? EDGE_FLOATS[size_t(i) % EDGE_FLOAT_COUNT]
                                             : NOMINAL[p];
                         })});
    }
    return seeds;
}

// fuzz_voice_table inputs.
class Voices {
public:
    void join(int n) {
        for (int k = 0; k < n; ++k) {
            w.byte(VT_JOIN).value(44100.0f);
            ++m_live;
        }
    }
    void leave(uint8_t v) {
        w.byte(VT_LEAVE).byte(v);
        --m_live;
    }
    void note(uint8_t v, uint8_t limitSelector) { w.byte(VT_NOTE).byte(v).byte(limitSelector); }
    void alternate(uint8_t v, uint8_t modeSelector) {
        w.byte(VT_ALTERNATE).byte(v).byte(modeSelector);
    }
    void stray(uint8_t v, uint8_t slot, uint8_t limit) {
        w.byte(VT_STRAY).byte(v).byte(slot).byte(limit);
    }
    void decay(uint8_t v) { w.byte(VT_DECAY).byte(v); }
    int live() const { return m_live; }
    FuzzWriter w;

private:
    int m_live = 0;
};

std::vector<Seed> voiceTableSeeds() {
    std::vector<Seed> seeds;
    {
        Voices v; // limit 3 over five voices: eviction, retrigger of the oldest and the middle
        v.join(5);
        for (uint8_t k = 0; k < 5; ++k) {
            v.note(k, 2);
        }
        v.note(2, 2);
        v.note(3, 2);
        for (uint8_t k = 0; k < 5; ++k) {
            v.decay(k);
        }
        seeds.push_back({"eviction", v.w.bytes()});
    }
    {
        Voices v; // 25 joins: a second generation; the owner leaves first
        v.join(25);
        for (uint8_t k = 0; k < 25; ++k) {
            v.note(k, uint8_t(k % 16));
        }
        v.leave(0);
        v.note(3, 0);
        v.join(2);
        v.note(uint8_t(v.live() - 1), 7);
        v.leave(5);
        v.note(1, 16);
        seeds.push_back({"generations", v.w.bytes()});
    }
    {
        Voices v; // alternation: resets once per new mode, flips per note
        v.join(4);
        for (uint8_t m = 0; m < 8; ++m) {
            for (uint8_t k = 0; k < 4; ++k) {
                v.alternate(k, m);
            }
            v.note(m % 4, 0);
            v.note((m + 1) % 4, 15);
        }
        seeds.push_back({"alternate", v.w.bytes()});
    }
    {
        Voices v; // limits below 1 and above 24, slots outside 0..23
        v.join(3);
        for (uint8_t s = 0; s < VT_STRAY_SLOT_COUNT; ++s) {
            v.stray(s % 3, s, 17);
            v.note(s % 3, uint8_t(16 + s % 6));
        }
        seeds.push_back({"limits-and-stray-slots", v.w.bytes()});
    }
    {
        Voices v; // joins and leaves interleaved, every voice leaving
        for (int k = 0; k < 30; ++k) {
            v.join(1 + k % 3);
            v.note(uint8_t(k), uint8_t(k % 4));
            if (k % 2) {
                v.leave(uint8_t(k * 7));
            }
        }
        while (v.live() > 0) {
            v.leave(0);
        }
        seeds.push_back({"churn", v.w.bytes()});
    }
    return seeds;
}

bool write(const std::string &dir, const std::vector<Seed> &seeds) {
    mkdir(dir.c_str(), 0755);
    for (const Seed &s : seeds) {
        const std::string path = dir + "/seed-" + s.name;
        FILE *f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(s.bytes.data(), 1, s.bytes.size(), f) != s.bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return false;
        }
        std::fclose(f);
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    const bool ok = write(root + "/fuzz_operations", operationSeeds()) &&
                    write(root + "/fuzz_pin_buffers", pinBufferSeeds()) &&
                    write(root + "/fuzz_voice_table", voiceTableSeeds());
    return ok ? 0 : 1;
}
