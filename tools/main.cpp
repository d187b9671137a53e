// tarn-render: renders a patch on the TARN plug-in to a WAV file and, on request, plots.
// Every output is written under a temporary name and renamed only once everything has
// succeeded, so a failing run leaves no file behind.
#include "host/PluginLibrary.h"
#include "tools/OutputError.h"
#include "tools/PatchError.h"
#include "tools/LevelMeter.h"
#include "tools/PendingFile.h"
#include "tools/PluginError.h"
#include "tools/ProgressBar.h"
#include "tools/WavWriter.h"
#include "tools/cli_options.h"
#include "tools/dry_run.h"
#include "tools/embedded_texts.h"
#include "tools/input_guard.h"
#include "tools/interrupt_cleanup.h"
#include "tools/midi_score.h"
#include "tools/exit_codes.h"
#include "tools/patch_parser.h"
#include "tools/pin_listing.h"
#include "tools/plots.h"
#include "tools/render_driver.h"
#include "tools/score_scheduler.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits.h>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace tarn::render;

namespace {

std::string defaultPluginPath() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "tarn.so";
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1) + "tarn.so";
}

int fail(int code, const std::string &message) {
    std::cerr << "tarn-render: " << message << "\n";
    return code;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    return text.str();
}

double firstNoteMiddle(const Patch &patch) {
    auto first = std::min_element(
        patch.notes.begin(), patch.notes.end(),
        [](const PatchNote &x, const PatchNote &y) { return x.startSeconds < y.startSeconds; });
    return first->startSeconds + 0.5 * first->lengthSeconds;
}

// Renders the patch once with the mix multiplied by `scale`, as a mixer after the instances
// would, and hands every block to `sink`.
void renderMix(const PluginLibrary &library, const Patch &patch, const Schedule &schedule,
               float scale, bool showProgress, const BlockSink &sink) {
    ProgressBar bar(showProgress);
    std::vector<float> left;
    std::vector<float> right;
    renderPatch(
        library, patch, schedule,
        [&](const float *l, const float *r, int32_t count) {
            left.assign(l, l + count);
            right.assign(r, r + count);
            for (int32_t i = 0; i < count; ++i) {
                left[static_cast<size_t>(i)] *= scale;
                right[static_cast<size_t>(i)] *= scale;
            }
            sink(left.data(), right.data(), count);
        },
        [&](double fraction) { bar.update(fraction); });
}

std::string gigabytes(int64_t bytes) {
    std::ostringstream text;
    text.precision(3);
    text << static_cast<double>(bytes) / 1e9 << " GB";
    return text.str();
}

// Why a file of `bytes` cannot be written beside `path`, when its file system has less room.
std::optional<std::string> spaceProblem(const std::string &path, int64_t bytes) {
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct statvfs info;
    if (::statvfs(directory.c_str(), &info) != 0)
        return std::nullopt; // PendingFile reports a missing directory
    const double room = static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize);
    if (static_cast<double>(bytes) <= room)
        return std::nullopt;
    return "cannot write " + path + ": it needs " + gigabytes(bytes) + " and its file system has " +
           gigabytes(static_cast<int64_t>(room)) + " free";
}

// The first output that would replace an input, as a message; empty when there is none.
std::optional<std::string> findOverwrite(const Options &options) {
    const std::vector<std::string> inputs = {options.patchPath, options.midiPath};
    for (const std::string *output :
         {&options.outputPath, &options.spectrogramPath, &options.spectrumPath})
        if (!output->empty())
            if (auto problem = overwriteProblem(*output, inputs))
                return problem;
    return std::nullopt;
}

int run(const Options &options) {
    if (auto problem = findOverwrite(options))
        return fail(EXIT_BAD_PATCH, *problem);
    std::string pluginPath = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    if (options.pins) {
        PluginLibrary library(pluginPath);
        if (!library.isLoaded())
            return fail(EXIT_PLUGIN,
                        "cannot load the plug-in " + pluginPath + ": " + library.error());
        printPins(library, std::cout);
        return EXIT_OK;
    }

    std::string patchName = !options.patchPath.empty() ? options.patchPath
                            : options.midiPath.empty() ? "demo patch"
                                                       : "built-in defaults";
    Patch patch;
    Schedule schedule;
    try {
        // A MIDI file alone plays through the built-in defaults, not the demo's settings.
        std::string text = !options.patchPath.empty() ? readFile(options.patchPath)
                           : options.midiPath.empty() ? DEMO_PATCH_TEXT
                                                      : "{}";
        std::optional<MidiScore> midi;
        if (!options.midiPath.empty())
            midi = MidiScore{options.midiPath,
                             readMidiNotes(options.midiPath, options.midiChannels)};
        patch = parsePatch(text, patchName, midi ? &*midi : nullptr);
        schedule = scheduleScore(patch);
    } catch (const PatchError &e) {
        std::cerr << e.what() << "\n";
        return EXIT_BAD_PATCH;
    }
    for (size_t n : schedule.dropped)
        if (!options.dryRun)
            std::cerr << "tarn-render: " << patchName << ": " << patch.notes[n].pointer
                  << ": dropped: every instance started a note within one sample of it\n";

    if (options.dryRun) {
        std::cout << dryRunReport(patch, schedule);
        return EXIT_OK;
    }
    const double seconds = static_cast<double>(schedule.totalSamples) / patch.sampleRate;
    if (options.spectrumAtSeconds && *options.spectrumAtSeconds > seconds) {
        std::ostringstream message;
        message << "--spectrum-at " << *options.spectrumAtSeconds
                << " lies after the end of the render (" << seconds << " s)";
        return fail(EXIT_USAGE, message.str());
    }

    PluginLibrary library(pluginPath);
    if (!library.isLoaded())
        return fail(EXIT_PLUGIN, "cannot load the plug-in " + pluginPath + ": " + library.error());

    std::unique_ptr<WavWriter> wav;
    std::unique_ptr<PendingFile> spectrogramPng;
    std::unique_ptr<PendingFile> spectrumPng;
    try {
        if (!options.nullOutput) {
            if (auto problem = spaceProblem(options.outputPath,
                                            wavFileBytes(schedule.totalSamples, options.format)))
                return fail(EXIT_OUTPUT, *problem);
            wav = std::make_unique<WavWriter>(options.outputPath, patch.sampleRate, options.format,
                                              schedule.totalSamples);
            if (needsRf64(schedule.totalSamples, options.format) && !options.quiet)
                std::cout << "writing RF64: " << gigabytes(wavFileBytes(schedule.totalSamples,
                                                                         options.format))
                          << " is more than a plain WAV file can hold (4.29 GB)\n";
        }
        if (!options.spectrogramPath.empty())
            spectrogramPng = std::make_unique<PendingFile>(options.spectrogramPath);
        if (!options.spectrumPath.empty())
            spectrumPng = std::make_unique<PendingFile>(options.spectrumPath);
    } catch (const OutputError &e) {
        return fail(EXIT_OUTPUT, e.what());
    }

    const bool keepSignal = spectrogramPng || spectrumPng;
    StereoSignal signal;
    signal.sampleRate = patch.sampleRate;
    LevelMeter meter;
    try {
        float scale = static_cast<float>(linearFromDb(patch.gainDb));
        if (options.normalizeDbfs) {
            LevelMeter unscaled;
            renderMix(library, patch, schedule, 1.0f, !options.quiet,
                      [&](const float *left, const float *right, int32_t count) {
                          unscaled.add(left, right, count);
                      });
            if (unscaled.peak() > 0.0)
                scale = static_cast<float>(linearFromDb(*options.normalizeDbfs) / unscaled.peak());
            else
                std::cerr << "tarn-render: the render is silent; --normalize does nothing\n";
        }
        renderMix(library, patch, schedule, scale, !options.quiet,
                  [&](const float *left, const float *right, int32_t count) {
                      meter.add(left, right, count);
                      if (wav)
                          wav->write(left, right, count);
                      if (keepSignal) {
                          signal.left.insert(signal.left.end(), left, left + count);
                          signal.right.insert(signal.right.end(), right, right + count);
                      }
                  });
    } catch (const PluginError &e) {
        return fail(EXIT_PLUGIN, e.what());
    } catch (const OutputError &e) {
        return fail(EXIT_OUTPUT, e.what());
    }

    try {
        std::string title = "tarn-render: " + patchName;
        if (spectrogramPng)
            plotSpectrogram(signal, options.maxHz, title + " (spectrogram)",
                            spectrogramPng->temporaryPath());
        if (spectrumPng) {
            double at = options.spectrumAtSeconds.value_or(firstNoteMiddle(patch));
            std::ostringstream heading;
            heading << title << " (spectrum at " << at << " s, "
                    << spectrumWindowSize(patch.sampleRate) << "-sample Hann window)";
            plotSpectrum(signal, at, options.maxHz, heading.str(), spectrumPng->temporaryPath());
        }
    } catch (const PlotError &e) {
        return fail(EXIT_PLOT, e.what());
    }

    try {
        if (wav)
            wav->commit();
        if (spectrogramPng)
            spectrogramPng->commit();
        if (spectrumPng)
            spectrumPng->commit();
    } catch (const OutputError &e) {
        return fail(EXIT_OUTPUT, e.what());
    }
    if (!options.quiet) {
        if (wav)
            std::cout << "wrote " << options.outputPath << " (" << seconds << " s, stereo, "
                      << patch.sampleRate << " Hz)\n";
        else
            std::cout << "rendered " << seconds << " s, wrote no WAV file (--null)\n";
        if (spectrogramPng)
            std::cout << "wrote " << options.spectrogramPath << " (spectrogram)\n";
        if (spectrumPng)
            std::cout << "wrote " << options.spectrumPath << " (spectrum)\n";
        std::cout << levelReport(meter);
    }
    if (wav) {
        std::string warning = clipWarning(meter, options.format);
        if (!warning.empty())
            std::cerr << "tarn-render: " << warning << "\n";
    }
    return EXIT_OK;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError &e) {
        std::cerr << "tarn-render: " << e.what() << "\n(tarn-render --help shows the usage)\n";
        return EXIT_USAGE;
    }
    if (options.help) {
        std::cout << USAGE_TEXT;
        return EXIT_OK;
    }
    if (options.printDemo) {
        std::cout << DEMO_PATCH_TEXT;
        return EXIT_OK;
    }
    installInterruptCleanup();
    try {
        return run(options);
    } catch (const PluginError &e) {
        return fail(EXIT_PLUGIN, e.what());
    }
}
