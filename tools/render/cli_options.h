// The command line of tarn-render: `tarn-render [options] PATCH [OUT]`, or `--demo [OUT]`.
#pragma once

#include "tools/render/sound_writer.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarn::render {

class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string &message) : std::runtime_error(message) {}
};

struct Options {
    bool help = false;
    bool version = false;
    bool pins = false;       // print the plug-in's pins and stop
    bool printDemo = false;  // print the embedded demo patch and stop
    bool demo = false;       // render the embedded demo patch (patchPath stays empty)
    bool force = false;      // an output may replace a file holding another kind of data
    bool nullOutput = false; // render, write no WAV
    bool dryRun = false;     // list the notes' instances, steals and alternation; no render
    bool quiet = false;      // no progress bar, no summary line
    std::string plugin;      // empty: tarn.so beside the executable
    std::optional<SampleFormat> format;      // --format; empty: the container's default
    bool dither = true;                      // TPDF dither on 16-bit samples (--no-dither)
    std::string patchPath;                   // empty: the demo patch, or "{}" with midi
    std::string midiPath;                    // Standard MIDI File played in place of the score
    uint32_t midiChannels = 0xFFFF;          // bit c - 1 selects MIDI channel c
    std::string outputPath;                  // the sound file, "-" for standard output;
                                             // empty with nullOutput
    std::string spectrogramPath;             // PNG, or empty
    std::string spectrumPath;                // PNG, or empty
    std::optional<double> spectrumAtSeconds; // centre of the spectrum window
    double maxHz = 0.0;                      // top of the plots' frequency axis; 0: Nyquist
    std::optional<double> normalizeDbfs;     // peak of the written mix, when normalizing
};

// The peak --normalize aims at when given no level.
constexpr double DEFAULT_NORMALIZE_DBFS = -1.0;

// The WAV written for an input when no output is named: the same path with ".wav" in place
// of its extension ("songs/a.json" -> "songs/a.wav").
std::string defaultOutputPath(const std::string &inputPath);

// Where --demo writes when given no output.
constexpr const char *DEFAULT_DEMO_OUTPUT = "demo.wav";

// Throws UsageError with a one-line reason.
Options parseOptions(int argc, const char *const *argv);

// The --help text, exit codes included.
extern const char *const USAGE_TEXT;

} // namespace tarn::render
