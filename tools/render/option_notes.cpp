// Each remark follows from the options alone, or with the patch's sample rate and gain;
// none changes what is rendered.
#include "tools/render/option_notes.h"

#include <sstream>

namespace tarn::render {

std::vector<std::string> idleOptionNotes(const Options &options, const Patch &patch) {
    std::vector<std::string> notes;
    const bool plots = !options.spectrogramPath.empty() || !options.spectrumPath.empty();
    const bool rendersWav = !options.nullOutput && !options.dryRun;
    if (options.spectrumAtSeconds && options.spectrumPath.empty())
        notes.push_back("--spectrum-at does nothing without --spectrum");
    if (options.maxHz > 0.0 && !plots)
        notes.push_back("--max-freq does nothing without --spectrogram or --spectrum");
    else if (options.maxHz > 0.5 * patch.sampleRate) {
        std::ostringstream text;
        text << "--max-freq " << options.maxHz << " lies above half the sample rate ("
             << 0.5 * patch.sampleRate << " Hz), where the plots stop anyway";
        notes.push_back(text.str());
    }
    if (options.midiChannels != 0xFFFF && options.midiPath.empty())
        notes.push_back("--channel does nothing without --midi");
    if (options.normalizeDbfs && patch.gainDb != 0.0)
        notes.push_back("--normalize replaces the patch's \"gain\"");
    if (options.normalizeDbfs && options.dryRun)
        notes.push_back("--normalize does nothing with --dry-run");
    if (options.format != SampleFormat::FLOAT32 && !rendersWav)
        notes.push_back("--format does nothing without a WAV file");
    return notes;
}

} // namespace tarn::render
