// libFuzzer target: the raw bytes of the input, as floats of any bit pattern (NaN, infinities,
// subnormals), fill every audio input buffer of one open instance, block after block. The
// first bytes choose the block size, the sample rate and the five list settings. Every block
// also carries status events on "sync" (a note when its first sample is above 0.1) and "gate".
#include "fuzz/FuzzBytes.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/list_settings.h"
#include "fuzz/pin_buffers.h"
#include "se_sdk2/se_protocol.h"

#include <vector>

namespace {

constexpr const char *TARGET = "fuzz_pin_buffers";
// Samples rendered per input, at most.
constexpr int32_t SAMPLE_BUDGET = 1 << 15;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzBytes in(data, size);
    const int32_t blockSize = PIN_BUFFER_BLOCK_SIZES[in.pick(PIN_BUFFER_BLOCK_SIZE_COUNT)];
    const float sampleRate = in.value();
    FuzzSession session(TARGET, sampleRate, blockSize);
    Host &host = session.host();
    HostedInstance *instance = session.makeInstance(0, 1);
    if (!instance) {
        FuzzSession::finding(TARGET, "make", "makeModule(0, 1) answered null");
    }
    std::vector<int32_t> audio;
    for (int32_t p = 0; p < instance->pinCount(); ++p) {
        const SEPinProperties &properties = instance->pin(p)->properties;
        if (properties.direction != DR_IN) {
            continue;
        }
        if (properties.datatype == DT_ENUM) {
            instance->setList(p, readListSetting(in, properties));
        } else if (properties.datatype == DT_FSAMPLE) {
            audio.push_back(p);
        }
    }
    instance->setSampleRate(sampleRate);
    instance->setBlockSize(blockSize);
    instance->open();

    const int32_t sync = session.pinNamed("sync");
    const int32_t gate = session.pinNamed("gate");
    std::vector<float> samples(static_cast<size_t>(blockSize));
    for (int32_t rendered = 0; rendered < SAMPLE_BUDGET && (rendered == 0 || !in.done());
         rendered += blockSize) {
        for (int32_t p : audio) {
            for (float &x : samples) {
                x = in.rawFloat();
            }
            instance->fillInput(p, 0, samples.data(), blockSize);
        }
        instance->scheduleStatus(sync, 0, STREAM_SINGLE_CHANGE);
        instance->scheduleStatus(gate, static_cast<uint32_t>(blockSize / 2), STREAM_RUNNING);
        host.process(0, blockSize);
    }
    return 0;
}
