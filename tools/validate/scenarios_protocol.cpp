// Scenarios of the protocol itself: properties and records, the dispatcher sweep, the
// lifecycle orders, make/open/process/close cycles and load/unload cycles of the library.
#include "tools/validate/scenarios.h"

#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/SEProcessInfo.h"
#include "se_sdk2/se_protocol.h"
#include "tools/validate/TarnPins.h"
#include "tools/validate/shared/heap_watch.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr unsigned char FILL_BYTE = 0xa5;

// Whether bytes [begin, end) of `raw` all still hold FILL_BYTE.
bool untouched(const unsigned char *raw, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        if (raw[i] != FILL_BYTE) {
            return false;
        }
    }
    return true;
}

bool isShortText(const char *text) {
    return text && text[0] != 0 && strnlen(text, 256) < 256;
}

void checkProperties(ScenarioContext &context, const PluginLibrary &library) {
    // A record larger than the interface's, so writes past sdk_version show.
    unsigned char raw[sizeof(SEModuleProperties) + 32];
    const size_t versionAt = offsetof(SEModuleProperties, sdk_version);
    const size_t versionEnd = versionAt + sizeof(int32_t);
    const size_t textsEnd = offsetof(SEModuleProperties, unnamed1);
    for (int32_t index :
         {1, -1, 2, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(), 0}) {
        std::memset(raw, FILL_BYTE, sizeof raw);
        SEModuleProperties *properties = reinterpret_cast<SEModuleProperties *>(raw);
        const int32_t answer = library.getModuleProperties(index, properties);
        int32_t version;
        std::memcpy(&version, raw + versionAt, sizeof version);
        if (version != SE_SDK_VERSION) {
            context.checker().fail("properties", "index %d: sdk_version %d", index, version);
        }
        if (!untouched(raw, textsEnd, versionAt) || !untouched(raw, versionEnd, sizeof raw)) {
            context.checker().fail("properties", "index %d wrote outside its fields", index);
        }
        if (index != 0) {
            if (answer != 0 || !untouched(raw, 0, textsEnd)) {
                context.checker().fail("properties", "index %d answered %d or wrote the texts",
                                       index, answer);
            }
            continue;
        }
        if (answer != 1 || !isShortText(properties->id) || !isShortText(properties->name) ||
            !isShortText(properties->about)) {
            context.checker().fail("properties", "index 0 answered %d without three texts", answer);
        }
    }
}

void checkRecord(ScenarioContext &context, HostedInstance &instance) {
    const SEModuleRecord *record = instance.record();
    bool zeroes = record->reserved0 == nullptr;
    for (void *word : record->reserved1) {
        zeroes = zeroes && word == nullptr;
    }
    if (record->magic != SE_RECORD_MAGIC || record->version != SE_RECORD_VERSION ||
        record->host_data != instance.hostData() || !record->object || !zeroes ||
        !record->dispatch_entry || !record->process_entry || !record->event_entry) {
        context.checker().fail("record", "the record's fixed words are wrong");
    }
    const auto *info = reinterpret_cast<const SEProcessInfo *>(
        instance.dispatch(MOD_GET_PROCESS_INFO, 0, 0, nullptr, 0.0f));
    if (!info || info->version != SE_PROCESS_INFO_VERSION ||
        info->host_constant != SE_PROCESS_INFO_CONSTANT || !info->process_function ||
        info->function_size != static_cast<int32_t>(2 * sizeof(void *))) {
        context.checker().fail("record", "MOD_GET_PROCESS_INFO answered a wrong record");
    } else {
        // The pair's address word is the routine a host may run instead of process_entry.
        SEProcessEntry routine;
        std::memcpy(&routine, info->process_function, sizeof routine);
        if (routine != record->process_entry) {
            context.checker().fail("record", "MOD_GET_PROCESS_INFO names another routine than "
                                             "the record's process_entry");
        }
    }
    int32_t outputs = 0;
    for (int32_t p = 0; p < instance.pinCount(); ++p) {
        outputs += instance.pin(p)->properties.direction == DR_OUT ? 1 : 0;
        if (!isShortText(instance.pin(p)->properties.name)) {
            context.checker().fail("pins", "pin %d has no name", p);
        }
    }
    if (outputs == 0) {
        context.checker().fail("pins", "the module has no output");
    }
}

// Renders `blocks` whole blocks with a note at the start of the first.
void playBlocks(Host &host, HostedInstance &instance, const TarnPins &pins, int32_t blocks) {
    if (!pins.ok) {
        return;
    }
    setNominalInputs(instance, pins, host.position());
    startNote(instance, pins, host.position());
    host.run(blocks * host.blockSize() - host.position());
}

} // namespace

void scenarioProperties(ScenarioContext &context) {
    const PluginLibrary *library = context.library();
    if (!library) {
        return;
    }
    checkProperties(context, *library);
    Host *host = context.newHost(44100.0f, 256);
    for (auto [index, kind] :
         {std::pair<int32_t, int32_t>{0, 0}, {0, 2}, {1, 1}, {-1, 1}, {0, -1}, {2, 1}}) {
        if (host->makeInstance(index, kind)) {
            context.checker().fail("make", "makeModule(%d, %d) made an instance", index, kind);
        }
    }
    HostedInstance *instance = host->addInstance();
    if (!context.require(instance != nullptr, "make", "makeModule(0, 1) answered null")) {
        return;
    }
    checkRecord(context, *instance);
    playBlocks(*host, *instance, TarnPins(context, *instance), 4);
    context.require(instance->close() == 1, "close", "MOD_CLOSE did not answer 1");
}

void scenarioDispatcher(ScenarioContext &context) {
    const float rates[] = {44100.0f,
                           48000.0f,
                           0.0f,
                           -1.0f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           1.0f,
                           1e9f};
    const int32_t values[] = {0,
                              -1,
                              1,
                              7,
                              1024,
                              65536,
                              std::numeric_limits<int32_t>::max(),
                              std::numeric_limits<int32_t>::min()};
    const int32_t indexes[] = {-1, 0, 3, 15, 16, 1000, std::numeric_limits<int32_t>::min()};
    const int32_t rounds = context.pick(8, 64, 512);
    for (int32_t round = 0; round < rounds; ++round) {
        Host *host = context.newHost(44100.0f, 128);
        if (!host) {
            return;
        }
        HostedInstance *instance = host->makeInstance();
        if (!context.require(instance != nullptr, "make", "makeModule(0, 1) answered null")) {
            return;
        }
        const TarnPins pins(context, *instance);
        for (int32_t phase = 0; phase < 2; ++phase) {
            for (int32_t opcode = -5; opcode <= 40; ++opcode) {
                // 7 and 10 are contract breaches; 0 and 1 are the lifecycle's own.
                if (opcode == 7 || opcode == 10 || opcode == MOD_OPEN || opcode == MOD_CLOSE) {
                    continue;
                }
                alignas(16) unsigned char scratch[64] = {};
                const int32_t index = indexes[context.uniform(0, 6)];
                const int32_t value = values[context.uniform(0, 7)];
                const float opt = rates[context.uniform(0, 7)];
                const intptr_t answer = instance->dispatch(opcode, index, value, scratch, opt);
                if (opcode == MOD_GET_PIN_PROPERTIES) {
                    const bool described = index >= 0 && index < instance->descriptionCount();
                    if ((answer != 0) != described) {
                        context.checker().fail("dispatcher", "pin description %d answered %lld",
                                               index, static_cast<long long>(answer));
                    }
                }
            }
            if (phase == 0) {
                instance->open();
            }
            playBlocks(*host, *instance, pins, 2);
            // Back to a usable rate and block size: the module must take them between blocks.
            instance->setSampleRate(44100.0f);
            instance->setBlockSize(host->blockSize());
            playBlocks(*host, *instance, pins, 2);
        }
    }
}

void scenarioLifecycle(ScenarioContext &context) {
    const int32_t blockSize = 64;
    // Closed at once, before anything else.
    if (Host *host = context.newHost(44100.0f, blockSize)) {
        if (HostedInstance *instance = host->makeInstance()) {
            instance->close();
        }
    }
    // A process call before MOD_OPEN runs the routine the record holds; it must write nothing.
    if (Host *host = context.newHost(44100.0f, blockSize)) {
        if (HostedInstance *instance = host->makeInstance()) {
            ModuleCall call{};
            call.kind = MODULE_CALL_PROCESS;
            call.count = blockSize;
            SEModuleRecord *record = instance->record();
            context.checker().manualCall(
                *instance, call, [&] { record->process_entry(record->object, 0, blockSize); });
            instance->close();
        }
    }
    // Opened with no rate or block size ever set; then opened after the settings; then the
    // settings changed after open and between blocks.
    for (int32_t order = 0; order < 4; ++order) {
        Host *host = context.newHost(48000.0f, blockSize);
        if (!host) {
            return;
        }
        HostedInstance *instance = host->makeInstance();
        if (!instance) {
            context.checker().fail("make", "makeModule(0, 1) answered null");
            return;
        }
        const TarnPins pins(context, *instance);
        if (order == 1) {
            instance->setSampleRate(48000.0f);
            instance->setBlockSize(blockSize);
        }
        instance->open();
        if (order == 2 || order == 3) {
            instance->setSampleRate(96000.0f);
            instance->setBlockSize(blockSize * 3);
        }
        if (order == 3) {
            instance->close();
            continue;
        }
        playBlocks(*host, *instance, pins, 3);
        for (int32_t change = 0; change < 20; ++change) {
            instance->setSampleRate(static_cast<float>(context.uniform(8000, 192000)));
            instance->setBlockSize(static_cast<int32_t>(context.uniform(0, 4096)));
            host->run(blockSize);
        }
        instance->close();
    }
    // Several instances opened in reverse order and closed in a random one.
    if (Host *host = context.newHost(44100.0f, blockSize)) {
        std::vector<HostedInstance *> made;
        for (int32_t i = 0; i < 6; ++i) {
            if (HostedInstance *instance = host->makeInstance()) {
                made.push_back(instance);
            }
        }
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            (*it)->open();
            playBlocks(*host, **it, TarnPins(context, **it), 1);
        }
        std::shuffle(made.begin(), made.end(), context.rng());
        for (HostedInstance *instance : made) {
            instance->close();
            host->run(blockSize);
        }
    }
    context.closeHost();
}

void scenarioCycles(ScenarioContext &context) {
    const int32_t cycles = context.pick(2000, 100000, 2000000);
    const int32_t perHost = 100;
    const int32_t blockSize = 32;
    int64_t settledBytes = 0;
    for (int32_t cycle = 0; cycle < cycles; ++cycle) {
        if (cycle % perHost == 0) {
            Host *host = context.newHost(44100.0f, blockSize);
            if (!host) {
                return;
            }
            if (cycle == perHost) {
                context.closeHost();
                settledBytes = heap_watch::counters().live_bytes;
                context.newHost(44100.0f, blockSize);
            }
        }
        Host &host = *context.host();
        const int64_t before = heap_watch::counters().tracked_bytes;
        HostedInstance *instance = host.addInstance();
        if (!instance) {
            context.checker().fail("make", "cycle %d: makeModule(0, 1) answered null", cycle);
            return;
        }
        if (cycle % 7 == 0) {
            startNote(*instance, TarnPins(context, *instance), 0);
        }
        host.run(blockSize);
        instance->close();
        const int64_t after = heap_watch::counters().tracked_bytes;
        if (after != before) {
            context.checker().fail("leak", "cycle %d kept %lld bytes", cycle,
                                   static_cast<long long>(after - before));
            return;
        }
    }
    context.closeHost();
    const int64_t growth = heap_watch::counters().live_bytes - settledBytes;
    if (cycles > 2 * perHost && growth != 0) {
        context.checker().fail("heap-growth", "the heap grew by %lld bytes over %d cycles",
                               static_cast<long long>(growth), cycles - perHost);
    }
}

void scenarioLoadUnload(ScenarioContext &context) {
    const int32_t cycles = context.pick(100, 1000, 10000);
    const int32_t settle = 10;
    int64_t settledBytes = 0;
    for (int32_t cycle = 0; cycle < cycles; ++cycle) {
        if (cycle == settle) {
            settledBytes = heap_watch::counters().live_bytes;
        }
        Host *host = context.newHost(44100.0f, 64);
        if (!host) {
            return;
        }
        HostedInstance *first = host->addInstance();
        HostedInstance *second = host->addInstance();
        if (!first || !second) {
            context.checker().fail("make", "cycle %d: makeModule(0, 1) answered null", cycle);
            return;
        }
        const TarnPins pins(context, *first);
        if (pins.ok) {
            startNote(*first, pins, 0);
            startNote(*second, pins, 5);
        }
        host->run(128);
        // The slot-0 owner goes first: the table must outlive it for the second instance.
        first->close();
        host->run(64);
        context.unloadLibrary();
        if (heap_watch::counters().tracked_bytes != 0) {
            context.checker().fail("leak", "cycle %d: %lld bytes kept after unloading", cycle,
                                   static_cast<long long>(heap_watch::counters().tracked_bytes));
            return;
        }
    }
    const int64_t growth = heap_watch::counters().live_bytes - settledBytes;
    if (cycles > settle && growth != 0) {
        context.checker().fail("heap-growth", "the heap grew by %lld bytes over %d load cycles",
                               static_cast<long long>(growth), cycles - settle);
    }
}
