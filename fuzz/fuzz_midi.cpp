// libFuzzer target: a MIDI file's bytes as tarn-render reads them: the checks of the header,
// chunks and tempo events, libsmf's load of each track in a child process, then its load here,
// every event and the tempo map read back, and the notes its events make. A crash, a hang or
// libsmf aborting here (after the child found the file sound) is a finding.
#include "tools/render/errors.h"
#include "tools/render/midi_score.h"
#include "tools/render/smf_loading.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    if (!tarn::render::smfProblem(bytes).empty())
        return 0;
    smf_t *smf = tarn::render::loadSmf(bytes);
    if (!smf)
        return 0;
    smf_rewind(smf);
    while (smf_event_t *event = smf_get_next_event(smf))
        if (event->midi_buffer_length > 0 && event->time_seconds < 0.0)
            __builtin_trap();
    if (smf_get_length_seconds(smf) < 0.0)
        __builtin_trap();
    smf_delete(smf);
    try {
        const tarn::render::MidiScore score =
            tarn::render::midiScoreOf(bytes, "fuzz.mid", tarn::render::ALL_CHANNELS, 2.0);
        for (const tarn::render::MidiNote &note : score.notes)
            if (!(note.lengthSeconds >= 0.0) || note.key < 0 || note.key > 127)
                __builtin_trap();
    } catch (const tarn::render::PatchError &) {
    }
    return 0;
}
