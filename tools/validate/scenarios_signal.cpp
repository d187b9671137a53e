// Scenarios of the signal path: sample rates with the carrier's pitch measured on the output,
// block sizes and call shapes, hostile input and list values, status events at every offset,
// the clock wrapping, and bit-identical output for one seed.
#include "tools/validate/scenarios.h"

#include "se_sdk2/se_protocol.h"
#include "tools/validate/TarnPins.h"
#include "tools/validate/pitch_estimate.h"
#include "tools/validate/shared/heap_watch.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const float NAN_F = std::numeric_limits<float>::quiet_NaN();
const float INF_F = std::numeric_limits<float>::infinity();

// Values every audio input goes through: edges of the float format, the thresholds the module
// compares with, and values far outside any musical range.
const float HOSTILE_VALUES[] = {0.0f,   -0.0f,     0.1f,     -0.1f,     FLT_MIN, -FLT_MIN,
                                1e-40f, -1.4e-45f, FLT_MAX,  -FLT_MAX,  INF_F,   -INF_F,
                                NAN_F,  -NAN_F,    1.0f,     -1.0f,     3.0f,    12.5f,
                                1e20f,  2.2e8f,    0.09999f, 0.100001f, 1e-7f,   -1e20f};
constexpr int32_t HOSTILE_COUNT = sizeof HOSTILE_VALUES / sizeof HOSTILE_VALUES[0];

// One of the eight combinations of "hq", "Mode" and "cyclic".
void applyConfiguration(HostedInstance &instance, const TarnPins &pins, int32_t configuration) {
    instance.setList(pins.hq, static_cast<int16_t>(configuration & 1));
    instance.setList(pins.mode, static_cast<int16_t>(1 + ((configuration >> 1) & 1)));
    instance.setList(pins.cyclic, static_cast<int16_t>(1 + ((configuration >> 2) & 1)));
}

// After a note on nominal inputs the module must sound again, whatever came before.
void expectRecovered(ScenarioContext &context, Host &host, HostedInstance &instance,
                     const TarnPins &pins, const char *what) {
    setNominalInputs(instance, pins, host.position());
    startNote(instance, pins, host.position());
    host.run(host.blockSize() - host.position());
    // Both outputs: alternation may have swapped the signals.
    std::vector<float> left, right;
    renderCollect(host, instance, pins.outputl, host.blockSize(), left);
    const int32_t position = host.position() == 0 ? host.blockSize() : host.position();
    const float *buffer = instance.output(pins.outputr);
    right.assign(buffer + position - static_cast<int32_t>(left.size()), buffer + position);
    if (!(meanSquare(left.data(), left.size()) + meanSquare(right.data(), right.size()) > 1e-8)) {
        context.checker().fail("recovery", "%s: silent after nominal inputs and a new note", what);
    }
}

// Measures the carrier of a note at `hz` (ratio "a" 0 leaves the carrier alone).
void measurePitch(ScenarioContext &context, double rate, int16_t hq, double hz) {
    const int32_t skip = 16, samples = 8192;
    Host *host = context.newHost(static_cast<float>(rate), 512);
    HostedInstance *instance = host ? host->addInstance() : nullptr;
    if (!instance) {
        return;
    }
    const TarnPins pins(context, *instance);
    if (!pins.ok) {
        return;
    }
    instance->setList(pins.hq, hq);
    // No alternation: the carrier stays on "outputl" (the first signal; the second is 0).
    instance->setList(pins.alternate, 0);
    setNominalInputs(*instance, pins, 0);
    const float fc = fcForPitch(hz);
    instance->setInput(pins.fc, 0, fc);
    instance->setInput(pins.a, 0, 0.0f);
    startNote(*instance, pins, 0);
    std::vector<float> left;
    renderCollect(*host, *instance, pins.outputl, skip + samples, left);
    const double expected = 440.0 * std::exp2(10.0 * double(fc) - 5.0);
    const double measured =
        crossingFrequency(left.data() + skip, size_t(samples)) * double(float(rate));
    if (!(std::fabs(measured / expected - 1.0) < 1e-3)) {
        context.checker().fail("pitch", "rate %.7g Hz, hq %d: carrier %.7g Hz measured %.7g Hz",
                               rate, hq, expected, measured);
    }
}

std::vector<int16_t> listItems(const HostPin &pin) {
    std::vector<int16_t> items;
    const char *text = pin.properties.datatype_extra;
    for (const char *c = text; c && *c;) {
        const char *equals = std::strchr(c, '=');
        if (!equals) {
            break;
        }
        items.push_back(static_cast<int16_t>(std::atoi(equals + 1)));
        const char *comma = std::strchr(equals, ',');
        c = comma ? comma + 1 : nullptr;
    }
    return items;
}

// FNV-1a over the bits of `count` samples.
uint64_t hashSamples(uint64_t h, const float *x, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &x[i], sizeof bits);
        for (int b = 0; b < 4; ++b) {
            h = (h ^ ((bits >> (8 * b)) & 0xffu)) * 1099511628211ull;
        }
    }
    return h;
}

// A random patch of four instances, played from `seed`; the hash of every output sample.
uint64_t renderHash(ScenarioContext &context, uint64_t seed, int32_t blocks) {
    std::mt19937_64 rng(seed);
    auto uniform = [&](double low, double high) {
        return static_cast<float>(std::uniform_real_distribution<double>(low, high)(rng));
    };
    const int32_t blockSize = 128;
    Host *host = context.newHost(44100.0f, blockSize);
    if (!host) {
        return 0;
    }
    std::vector<HostedInstance *> instances;
    for (int32_t i = 0; i < 4; ++i) {
        instances.push_back(host->addInstance());
    }
    const TarnPins pins(context, *instances[0]);
    if (!pins.ok) {
        return 0;
    }
    uint64_t h = 1469598103934665603ull;
    for (int32_t block = 0; block < blocks; ++block) {
        for (HostedInstance *instance : instances) {
            if (rng() % 16 != 0) {
                continue;
            }
            const int32_t at = static_cast<int32_t>(rng() % blockSize);
            instance->setInput(pins.fc, at, uniform(0.2, 0.8));
            instance->setInput(pins.fm1, at, uniform(0.0, 0.3));
            instance->setInput(pins.N, at, uniform(0.0, 5.0));
            instance->setInput(pins.a, at, uniform(-0.09, 0.2));
            instance->setInput(pins.detune, at, uniform(-1.0, 1.0));
            instance->setInput(pins.combfreq, at, uniform(-0.3, 0.3));
            instance->setInput(pins.combphase, at, uniform(-0.3, 0.3));
            instance->setList(pins.hq, static_cast<int16_t>(rng() % 2));
            instance->setList(pins.mode, static_cast<int16_t>(1 + rng() % 2));
            instance->setList(pins.alternate, static_cast<int16_t>(rng() % 6));
            instance->setInput(pins.gate, at, rng() % 4 ? 1.0f : 0.0f);
            instance->setInput(pins.sync, at, rng() % 2 ? 1.0f : 0.0f);
        }
        host->run(blockSize);
        for (HostedInstance *instance : instances) {
            h = hashSamples(h, instance->output(pins.outputl), blockSize);
            h = hashSamples(h, instance->output(pins.outputr), blockSize);
        }
    }
    return h;
}

} // namespace

void scenarioRates(ScenarioContext &context) {
    const double valid[] = {1.0,       2.0,      7.5,      100.0,    1000.0,   8000.0,
                            11025.0,   16000.0,  22050.0,  32000.0,  44100.0,  44100.5,
                            47999.9,   48000.0,  88200.0,  96000.0,  176400.0, 192000.0,
                            12345.678, 384000.0, 768000.0, 1200000.0};
    const std::vector<double> ratios =
        context.pick(std::vector<double>{0.23}, std::vector<double>{0.013, 0.1, 0.23, 0.37},
                     std::vector<double>{0.001, 0.013, 0.05, 0.1, 0.23, 0.37, 0.45});
    for (double rate : valid) {
        for (int16_t hq = 0; hq < 2; ++hq) {
            for (double ratio : ratios) {
                measurePitch(context, rate, hq, ratio * rate);
            }
            if (440.0 < 0.4 * rate) {
                measurePitch(context, rate, hq, 440.0);
            }
        }
    }
    // Rates the module cannot play at: any answer is allowed but a non-finite or subnormal
    // sample, a crash or a hang.
    const float invalid[] = {0.0f,    -0.0f,  -1.0f, -44100.0f, NAN_F, INF_F, -INF_F,
                             FLT_MIN, 1e-30f, 0.5f,  FLT_MAX,   1e30f, 3e6f,  1e-45f};
    for (float rate : invalid) {
        for (int32_t configuration = 0; configuration < 8; configuration += 1) {
            Host *host = context.newHost(rate, 256);
            HostedInstance *instance = host ? host->addInstance() : nullptr;
            if (!instance) {
                return;
            }
            const TarnPins pins(context, *instance);
            if (!pins.ok) {
                return;
            }
            applyConfiguration(*instance, pins, configuration);
            setNominalInputs(*instance, pins, 0);
            startNote(*instance, pins, 0);
            host->run(4 * 256);
        }
    }
}

void scenarioBlocks(ScenarioContext &context) {
    const int32_t sizes[] = {1, 2, 3, 5, 16, 31, 64, 127, 128, 1000, 4096, 65536};
    const int64_t perSize = context.pick<int64_t>(16384, 262144, 8388608);
    for (int32_t blockSize : sizes) {
        Host *host = context.newHost(44100.0f, blockSize);
        HostedInstance *instance = host ? host->makeInstance() : nullptr;
        if (!instance) {
            return;
        }
        const TarnPins pins(context, *instance);
        if (!pins.ok) {
            return;
        }
        // The module's own idea of the block size need not be the host's buffer length.
        const int32_t moduleSizes[] = {0, 1, blockSize, 7, 65536, -5};
        instance->setSampleRate(44100.0f);
        instance->setBlockSize(moduleSizes[context.uniform(0, 5)]);
        instance->open();
        applyConfiguration(*instance, pins, static_cast<int32_t>(context.uniform(0, 7)));
        setNominalInputs(*instance, pins, 0);
        startNote(*instance, pins, 0);
        int64_t rendered = 0;
        const int64_t total = std::max<int64_t>(perSize, 2 * int64_t(blockSize));
        while (rendered < total) {
            const int32_t position = host->position();
            const int32_t at = static_cast<int32_t>(context.uniform(position, blockSize - 1));
            const double event = context.unit();
            if (event < 0.03) {
                instance->setInput(pins.gate, at, 0.0f);
            } else if (event < 0.06) {
                startNote(*instance, pins, at);
            } else if (event < 0.08) {
                instance->setInput(pins.gate, at, -1.0f);
            }
            const double shape = context.unit();
            int32_t offset = position, count;
            if (shape < 0.2) {
                offset = static_cast<int32_t>(context.uniform(position, blockSize));
            }
            if (shape < 0.6) {
                count = static_cast<int32_t>(context.uniform(0, blockSize - offset));
            } else {
                count = blockSize - offset;
            }
            if (shape > 0.98) {
                host->nextBlock();
                continue;
            }
            host->process(offset, count);
            rendered += (offset - position) + count;
            if (offset + count == position) {
                host->process(position, blockSize - position);
                rendered += blockSize - position;
            }
        }
    }
}

void scenarioHostileValues(ScenarioContext &context) {
    const int32_t blockSize = 256;
    const bool everyConfiguration = context.length() != LENGTH_QUICK;
    int32_t caseNumber = 0;
    std::unique_ptr<TarnPins> pins;
    // A fresh host and instance on the given configuration, sounding a nominal note.
    auto newCase = [&](int32_t configuration, HostedInstance *&instance) -> const TarnPins * {
        Host *host = context.newHost(44100.0f, blockSize);
        instance = host ? host->addInstance() : nullptr;
        if (!instance) {
            return nullptr;
        }
        pins.reset(new TarnPins(context, *instance));
        if (!pins->ok) {
            return nullptr;
        }
        applyConfiguration(*instance, *pins, configuration);
        setNominalInputs(*instance, *pins, 0);
        startNote(*instance, *pins, 0);
        host->run(blockSize);
        return pins.get();
    };
    // One input at a time.
    for (int32_t input = 0; input < 9; ++input) {
        for (int32_t v = 0; v < HOSTILE_COUNT; ++v) {
            const int32_t chosen = caseNumber % 8;
            for (int32_t configuration = 0; configuration < 8; ++configuration) {
                if (!everyConfiguration && configuration != chosen) {
                    continue;
                }
                HostedInstance *instance;
                const TarnPins *live = newCase(configuration, instance);
                if (!live) {
                    return;
                }
                Host &host = *context.host();
                const int32_t pin = live->audioInputs()[size_t(input)];
                instance->setInput(pin, static_cast<int32_t>(context.uniform(0, blockSize - 1)),
                                   HOSTILE_VALUES[v]);
                startNote(*instance, *live,
                          static_cast<int32_t>(context.uniform(0, blockSize - 1)));
                host.run(2 * blockSize);
                char what[96];
                std::snprintf(what, sizeof what, "pin %d at %g, configuration %d", pin,
                              double(HOSTILE_VALUES[v]), configuration);
                expectRecovered(context, host, *instance, *live, what);
                ++caseNumber;
            }
        }
    }
    // All at once.
    const int32_t rounds = context.pick(40, 400, 4000);
    for (int32_t round = 0; round < rounds; ++round) {
        HostedInstance *instance;
        const TarnPins *live = newCase(static_cast<int32_t>(context.uniform(0, 7)), instance);
        if (!live) {
            return;
        }
        Host &host = *context.host();
        for (int32_t pin : live->audioInputs()) {
            if (context.unit() < 0.7) {
                instance->setInput(pin, static_cast<int32_t>(context.uniform(0, blockSize - 1)),
                                   HOSTILE_VALUES[context.uniform(0, HOSTILE_COUNT - 1)]);
            }
        }
        startNote(*instance, *live, static_cast<int32_t>(context.uniform(0, blockSize - 1)));
        host.run(2 * blockSize);
        char what[48];
        std::snprintf(what, sizeof what, "all inputs hostile, round %d", round);
        expectRecovered(context, host, *instance, *live, what);
    }
    context.closeHost();
}

void scenarioListValues(ScenarioContext &context) {
    const int32_t blockSize = 128;
    const int16_t beyond[] = {0, -1, 3, 17, 32767, -32768};
    Host *host = context.newHost(44100.0f, blockSize);
    HostedInstance *probe = host ? host->addInstance() : nullptr;
    if (!probe) {
        return;
    }
    const TarnPins pins(context, *probe);
    if (!pins.ok) {
        return;
    }
    // Each list's values (its items, then values outside it) and its default.
    std::vector<std::vector<int16_t>> lists;
    std::vector<int16_t> defaults;
    for (int32_t pin : pins.listSettings()) {
        lists.push_back(listItems(*probe->pin(pin)));
        if (lists.back().empty()) {
            context.checker().fail("pins", "list pin %d has no items", pin);
        }
        lists.back().insert(lists.back().end(), std::begin(beyond), std::end(beyond));
        defaults.push_back(probe->pin(pin)->list_value);
    }
    for (size_t l = 0; l < lists.size(); ++l) {
        const int32_t pin = pins.listSettings()[l];
        for (int16_t value : lists[l]) {
            for (int32_t instances = 1; instances <= 2; ++instances) {
                Host *h = context.newHost(44100.0f, blockSize);
                std::vector<HostedInstance *> made;
                for (int32_t i = 0; i < instances; ++i) {
                    made.push_back(h->addInstance());
                    setNominalInputs(*made.back(), pins, 0);
                    startNote(*made.back(), pins, 0);
                }
                h->run(blockSize);
                for (HostedInstance *instance : made) {
                    instance->setList(pin, value);
                    startNote(*instance, pins,
                              static_cast<int32_t>(context.uniform(0, blockSize - 1)));
                }
                h->run(2 * blockSize);
                char what[48];
                std::snprintf(what, sizeof what, "list pin %d at %d", pin, value);
                for (HostedInstance *instance : made) {
                    instance->setList(pin, defaults[l]);
                    expectRecovered(context, *h, *instance, pins, what);
                }
            }
        }
    }
    // Every list at a random value, several notes.
    const int32_t rounds = context.pick(50, 500, 5000);
    for (int32_t round = 0; round < rounds; ++round) {
        Host *h = context.newHost(44100.0f, blockSize);
        HostedInstance *instance = h->addInstance();
        setNominalInputs(*instance, pins, 0);
        for (size_t l = 0; l < lists.size(); ++l) {
            const std::vector<int16_t> &values = lists[l];
            instance->setList(pins.listSettings()[l],
                              values[size_t(context.uniform(0, int64_t(values.size()) - 1))]);
        }
        for (int32_t note = 0; note < 3; ++note) {
            startNote(*instance, pins, static_cast<int32_t>(context.uniform(0, blockSize - 1)));
            h->run(blockSize);
        }
    }
    context.closeHost();
}

void scenarioStatusEvents(ScenarioContext &context) {
    const std::vector<int32_t> sizes =
        context.pick(std::vector<int32_t>{64}, std::vector<int32_t>{64, 17, 100},
                     std::vector<int32_t>{64, 17, 100, 1, 2, 256});
    const int32_t statuses[] = {STREAM_STEADY, STREAM_SINGLE_CHANGE, STREAM_RUNNING, 3, -1};
    for (int32_t blockSize : sizes) {
        Host *host = context.newHost(44100.0f, blockSize);
        HostedInstance *instance = host ? host->addInstance() : nullptr;
        if (!instance) {
            return;
        }
        const TarnPins pins(context, *instance);
        if (!pins.ok) {
            return;
        }
        setNominalInputs(*instance, pins, 0);
        startNote(*instance, pins, 0);
        host->run(blockSize);
        for (int32_t pin = 0; pin < instance->pinCount(); ++pin) {
            for (int32_t status : statuses) {
                for (int32_t offset = 0; offset < blockSize; ++offset) {
                    instance->scheduleStatus(pin, static_cast<uint32_t>(offset), status);
                }
                // Unannounced per-sample values, so that the handler sees the gate open and
                // shut and "sync" on both sides of its threshold at different offsets.
                float *gate = instance->buffer(pins.gate);
                float *sync = instance->buffer(pins.sync);
                const float syncValues[] = {0.0f, 0.1f, 0.2f, 1.0f};
                for (int32_t i = 0; i < blockSize; ++i) {
                    gate[i] = context.unit() < 0.3 ? 0.0f : 1.0f;
                    sync[i] = syncValues[context.uniform(0, 3)];
                }
                host->run(blockSize);
            }
        }
    }
    context.closeHost();
}

void scenarioClockWrap(ScenarioContext &context) {
    const int32_t blockSize = 64;
    const uint32_t distances[] = {0, 1, 7, 32, 64, 64 * 3 + 5, 100000};
    for (uint32_t distance : distances) {
        for (int32_t before = 0; before < 2; ++before) {
            Host *host = context.newHost(44100.0f, blockSize);
            if (!host) {
                return;
            }
            // The instance made before the clock is set near the wrap, or after.
            HostedInstance *instance = nullptr;
            if (before) {
                instance = host->addInstance();
            }
            host->setSampleClock(0u - distance);
            if (!before) {
                instance = host->addInstance();
            }
            if (!instance) {
                return;
            }
            const TarnPins pins(context, *instance);
            if (!pins.ok) {
                return;
            }
            setNominalInputs(*instance, pins, 0);
            startNote(*instance, pins, static_cast<int32_t>(context.uniform(0, blockSize - 1)));
            const int64_t total = int64_t(distance) + 6 * blockSize;
            for (int64_t done = 0; done < total; done += blockSize) {
                const double event = context.unit();
                const int32_t at = static_cast<int32_t>(context.uniform(0, blockSize - 1));
                if (event < 0.1) {
                    instance->setInput(pins.gate, at, 0.0f);
                } else if (event < 0.3) {
                    startNote(*instance, pins, at);
                }
                instance->scheduleStatus(pins.sync,
                                         static_cast<uint32_t>(context.uniform(0, 3 * blockSize)),
                                         STREAM_SINGLE_CHANGE);
                host->run(blockSize);
            }
            expectRecovered(context, *host, *instance, pins, "after the clock wrapped");
        }
    }
    context.closeHost();
}

void scenarioDeterminism(ScenarioContext &context) {
    const int32_t blocks = context.pick(200, 2000, 20000);
    uint64_t hashes[2] = {0, 0};
    for (uint64_t &hash : hashes) {
        int channel[2];
        if (pipe(channel) != 0) {
            context.checker().fail("determinism", "no pipe");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            uint64_t h = renderHash(context, context.seed(), blocks);
            context.unloadLibrary();
            if (heap_watch::counters().tracked_bytes != 0) {
                context.checker().fail(
                    "leak", "%lld bytes kept",
                    static_cast<long long>(heap_watch::counters().tracked_bytes));
            }
            ssize_t written = write(channel[1], &h, sizeof h);
            _exit(written == sizeof h ? 0 : 1);
        }
        close(channel[1]);
        ssize_t got = child > 0 ? read(channel[0], &hash, sizeof hash) : 0;
        close(channel[0]);
        int status = 0;
        if (child > 0) {
            waitpid(child, &status, 0);
        }
        if (child <= 0 || got != sizeof hash || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            context.checker().fail("determinism", "a rendering process failed");
            return;
        }
    }
    if (hashes[0] != hashes[1]) {
        context.checker().fail(
            "determinism", "two renderings from seed %llu differ (%016llx, %016llx)",
            static_cast<unsigned long long>(context.seed()),
            static_cast<unsigned long long>(hashes[0]), static_cast<unsigned long long>(hashes[1]));
    }
}
