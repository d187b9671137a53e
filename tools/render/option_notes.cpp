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
    if (options.format && !rendersWav)
        notes.push_back("--format does nothing without a sound file");
    const std::optional<Container> container = containerForPath(options.outputPath);
    if (options.format && rendersWav && container && isLossy(*container))
        notes.push_back(std::string("--format does nothing for ") + containerName(*container) +
                        ": the encoder takes the float render");
    if (!options.dither && options.format != SampleFormat::PCM16)
        notes.push_back("--no-dither does nothing without --format 16 (only 16-bit samples are "
                        "dithered)");
    return notes;
}

} // namespace tarn::render
