// libFuzzer target: a patch file's bytes down the whole road tarn-render takes them (JSON text
// checks, schema, range checks, units, then the schedule of the notes on the instances). A
// refused patch is a PatchError; anything else escaping, a crash or a hang is a finding.
#include "tools/render/errors.h"
#include "tools/render/model/patch_parser.h"
#include "tools/render/model/score_scheduler.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const tarn::render::Patch patch = tarn::render::parsePatch(text, "fuzz.json");
        const tarn::render::Schedule schedule = tarn::render::scheduleScore(patch);
        if (schedule.instances.size() != static_cast<size_t>(patch.voices))
            __builtin_trap();
    } catch (const tarn::render::PatchError &) {
    }
    return 0;
}
