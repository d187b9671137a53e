// The LV2 entry points: thin trampolines, each casting the handle once and forwarding to one
// Instrument operation. lv2_descriptor is the shared object's only visible name.
#include "lv2/Instrument.h"
#include "lv2/plugin_uri.h"

namespace {

using tarn::lv2::Instrument;

LV2_Handle instantiate(const LV2_Descriptor *, double rate, const char *,
                       const LV2_Feature *const *features) {
    return Instrument::create(rate, features);
}

void connectPort(LV2_Handle handle, uint32_t port, void *data) {
    static_cast<Instrument *>(handle)->connect(port, data);
}

void activate(LV2_Handle handle) {
    static_cast<Instrument *>(handle)->activate();
}

void run(LV2_Handle handle, uint32_t frames) {
    static_cast<Instrument *>(handle)->run(frames);
}

void cleanup(LV2_Handle handle) {
    delete static_cast<Instrument *>(handle);
}

const LV2_Descriptor DESCRIPTOR = {
    TARN_LV2_URI, instantiate, connectPort, activate, run, nullptr, cleanup, nullptr,
};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    return index == 0 ? &DESCRIPTOR : nullptr;
}
