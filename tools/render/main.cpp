// tarn-render: renders a patch on the TARN plug-in to a WAV file and, on request, plots.
// Every output is written under a temporary name and renamed only once everything has
// succeeded, so a failing or interrupted run leaves no file behind.
#include "host/PluginLibrary.h"
#include "tools/render/cli_options.h"
#include "tools/render/errors.h"
#include "tools/render/exit_codes.h"
#include "tools/render/interrupt_cleanup.h"
#include "tools/render/level_meter.h"
#include "tools/render/model/dry_run.h"
#include "tools/render/model/embedded_texts.h"
#include "tools/render/option_notes.h"
#include "tools/render/output_guard.h"
#include "tools/render/output_space.h"
#include "tools/render/patch_loading.h"
#include "tools/render/pending_file.h"
#include "tools/render/pin_listing.h"
#include "tools/render/plots.h"
#include "tools/render/progress_bar.h"
#include "tools/render/render_driver.h"
#include "tools/render/sound_writer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <limits.h>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// The default centre of the spectrum window: the middle of the first note, or of the render.
double spectrumCentre(const Patch &patch, double seconds) {
    if (patch.notes.empty())
        return 0.5 * seconds;
    auto first = std::min_element(
        patch.notes.begin(), patch.notes.end(),
        [](const PatchNote &x, const PatchNote &y) { return x.startSeconds < y.startSeconds; });
    return first->startSeconds + 0.5 * first->lengthSeconds;
}

// The files the outputs replace, symbolic links followed.
struct OutputTargets {
    std::string sound;
    std::string spectrogram;
    std::string spectrum;
};

// The outputs this run writes, in the order they are reported; their targets go to `targets`.
std::vector<PlannedOutput> plannedOutputs(const Options &options, OutputTargets &targets) {
    std::vector<PlannedOutput> outputs;
    if (options.dryRun)
        return outputs;
    if (!options.nullOutput)
        outputs.push_back(
            {options.outputPath, OutputKind::SOUND, "the sound file", &targets.sound});
    if (!options.spectrogramPath.empty())
        outputs.push_back(
            {options.spectrogramPath, OutputKind::PNG, "the spectrogram", &targets.spectrogram});
    if (!options.spectrumPath.empty())
        outputs.push_back(
            {options.spectrumPath, OutputKind::PNG, "the spectrum", &targets.spectrum});
    return outputs;
}

// " in 0.41 s, 19.6 times realtime": how long `seconds` of sound took to render.
std::string renderSpeed(double seconds, double elapsed) {
    char text[96];
    if (elapsed > 0.0)
        std::snprintf(text, sizeof text, " in %.2f s, %.1f times realtime", elapsed,
                      seconds / elapsed);
    else
        std::snprintf(text, sizeof text, " in %.2f s", elapsed);
    return text;
}

struct Outputs {
    std::unique_ptr<SoundWriter> sound;
    std::unique_ptr<PendingFile> spectrogramPng;
    std::unique_ptr<PendingFile> spectrumPng;
};

// Throws PlotError. Draws into the plots' temporary files.
void drawPlots(const Options &options, const LoadedPatch &loaded, const StereoSignal &signal,
               const Outputs &out) {
    const std::string title = "tarn-render: " + loaded.name;
    if (out.spectrogramPng)
        plotSpectrogram(signal, options.maxHz, title + " (spectrogram)",
                        out.spectrogramPng->temporaryPath());
    if (out.spectrumPng) {
        const double seconds = static_cast<double>(signal.left.size()) / signal.sampleRate;
        double at = options.spectrumAtSeconds.value_or(spectrumCentre(loaded.patch, seconds));
        std::ostringstream heading;
        heading << title << " (spectrum at " << at << " s, "
                << spectrumWindowSize(signal.sampleRate) << "-sample Hann window)";
        plotSpectrum(signal, at, options.maxHz, heading.str(), out.spectrumPng->temporaryPath());
    }
}

// Where the report goes: standard error when standard output carries the sound file.
std::ostream &reportStream(const Options &options) {
    return options.outputPath == STANDARD_OUTPUT && !options.nullOutput ? std::cerr : std::cout;
}

// What was written, how fast, and the levels.
void printSummary(const Options &options, const Patch &patch, const Outputs &out,
                  const std::string &speed, const LevelMeter &meter) {
    std::ostream &report = reportStream(options);
    const double seconds = static_cast<double>(meter.left().samples) / patch.sampleRate;
    if (out.sound)
        report << "wrote "
               << (options.outputPath == STANDARD_OUTPUT ? "standard output" : options.outputPath)
               << " (" << seconds << " s, stereo, " << patch.sampleRate << " Hz)" << speed << "\n";
    else
        report << "rendered " << seconds << " s" << speed << ", wrote no sound file (--null)\n";
    if (out.spectrogramPng)
        report << "wrote " << options.spectrogramPath << " (spectrogram)\n";
    if (out.spectrumPng)
        report << "wrote " << options.spectrumPath << " (spectrum)\n";
    report << levelReport(meter);
}

// Why the output names cannot be written as named (a sound file's extension, a plot that is
// not .png, sound data to a terminal), or empty. Checked before anything is rendered; a
// directory is left to the writer, which says so.
std::optional<std::string> outputNameProblem(const Options &options) {
    if (!options.nullOutput && !options.dryRun) {
        struct stat info;
        const bool directory =
            ::stat(options.outputPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        if (!directory && !containerForPath(options.outputPath))
            return "cannot write " + options.outputPath + ": a sound file's name ends in one of " +
                   knownSoundExtensions() + " (or is - for standard output)";
        if (options.outputPath == STANDARD_OUTPUT && ::isatty(STDOUT_FILENO))
            return "refusing to write sound data to a terminal: redirect standard output or "
                   "name a file";
    }
    for (const auto &[option, path] : {std::pair{"--spectrogram", &options.spectrogramPath},
                                       std::pair{"--spectrum", &options.spectrumPath}}) {
        std::string ending = path->substr(path->size() < 4 ? 0 : path->size() - 4);
        for (char &c : ending)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const bool png = path->size() > 4 && ending == ".png";
        if (!path->empty() && !png)
            return std::string(option) + " draws PNG only: name the file .png, not " + *path;
    }
    return std::nullopt;
}

// Throws OutputError.
Outputs openOutputs(const Options &options, const OutputTargets &targets, const Patch &patch,
                    Container container, SampleFormat format, int64_t frames) {
    Outputs out;
    if (!options.nullOutput) {
        const int64_t bytes = soundFileBytes(frames, container, format);
        if (auto problem = sizeProblem(frames, container, format))
            throw OutputError("cannot write " + options.outputPath + ": " + *problem);
        if (auto problem = spaceProblem(stagingPath(targets.sound), bytes))
            throw OutputError(*problem);
        out.sound = std::make_unique<SoundWriter>(targets.sound, container, patch.sampleRate,
                                                  format, frames, options.dither);
        if (needsRf64(frames, container, format) && !options.quiet)
            reportStream(options) << "writing RF64: " << gigabytes(bytes)
                                  << " is more than a plain WAV file can hold (4.29 GB)\n";
    }
    if (!targets.spectrogram.empty())
        out.spectrogramPng = std::make_unique<PendingFile>(targets.spectrogram);
    if (!targets.spectrum.empty())
        out.spectrumPng = std::make_unique<PendingFile>(targets.spectrum);
    return out;
}

// The mix's scale: the patch's gain, or what brings the peak to --normalize's level, found by
// a first render.
float mixScale(const Options &options, const PluginLibrary &library, const LoadedPatch &loaded) {
    if (!options.normalizeDbfs)
        return static_cast<float>(linearFromDb(loaded.patch.gainDb));
    LevelMeter unscaled;
    ProgressBar bar(!options.quiet, "measuring");
    renderMix(
        library, loaded.patch, loaded.schedule, 1.0f,
        [&](const float *left, const float *right, int32_t count) {
            unscaled.add(left, right, count);
        },
        [&](double fraction) { bar.update(fraction); });
    if (unscaled.peak() > 0.0)
        return static_cast<float>(linearFromDb(*options.normalizeDbfs) / unscaled.peak());
    std::cerr << "tarn-render: the render is silent; --normalize does nothing\n";
    return 1.0f;
}

int run(const Options &options) {
    std::string pluginPath = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    if (options.pins) {
        PluginLibrary library(pluginPath);
        if (!library.isLoaded())
            return fail(EXIT_PLUGIN,
                        "cannot load the plug-in " + pluginPath + ": " + library.error());
        printPins(library, std::cout);
        return EXIT_OK;
    }
    // Files that must be kept come first; a name that says no container, after.
    OutputTargets targets;
    std::vector<PlannedOutput> outputs = plannedOutputs(options, targets);
    if (auto problem =
            checkOutputs(outputs, {options.patchPath, options.midiPath, pluginPath}, options.force))
        return fail(EXIT_BAD_PATCH, *problem);
    if (auto problem = outputNameProblem(options))
        return fail(EXIT_USAGE, *problem);
    // From the name given, not the file a link names. A directory, which names none, is
    // reported when it is opened.
    const Container container = containerForPath(options.outputPath).value_or(Container::WAV);

    LoadedPatch loaded;
    try {
        loaded = loadPatch(options);
    } catch (const PatchError &e) {
        std::cerr << e.what() << "\n";
        return EXIT_BAD_PATCH;
    }
    const Patch &patch = loaded.patch;
    const Schedule &schedule = loaded.schedule;
    for (const std::string &note : idleOptionNotes(options, patch))
        std::cerr << "tarn-render: " << note << "\n";
    for (const std::string &warning : loaded.midiWarnings)
        std::cerr << "tarn-render: " << warning << "\n";
    if (loaded.scoreIgnored)
        std::cerr << "tarn-render: " << loaded.name
                  << ": the \"score\" is not played; the notes of " << options.midiPath
                  << " take its place\n";
    if (options.dryRun) {
        std::cout << dryRunReport(patch, schedule);
        return EXIT_OK;
    }
    for (size_t n : schedule.dropped)
        std::cerr << "tarn-render: " << loaded.name << ": " << patch.notes[n].pointer
                  << ": dropped: every instance started a note within one sample of it\n";
    std::string formatProblem;
    const std::optional<SampleFormat> format =
        options.nullOutput ? options.format.value_or(SampleFormat::FLOAT32)
                           : formatFor(container, options.format, patch.sampleRate, formatProblem);
    if (!format)
        return fail(EXIT_USAGE, "cannot write " + options.outputPath + ": " + formatProblem);
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

    Outputs out;
    try {
        out = openOutputs(options, targets, patch, container, *format, schedule.totalSamples);
    } catch (const OutputError &e) {
        return fail(EXIT_OUTPUT, e.what());
    }

    const bool keepSignal = out.spectrogramPng || out.spectrumPng;
    StereoSignal signal;
    signal.sampleRate = patch.sampleRate;
    LevelMeter meter;
    const auto started = std::chrono::steady_clock::now();
    try {
        const float scale = mixScale(options, library, loaded);
        ProgressBar bar(!options.quiet, "rendering");
        renderMix(
            library, patch, schedule, scale,
            [&](const float *left, const float *right, int32_t count) {
                meter.add(left, right, count);
                if (out.sound)
                    out.sound->write(left, right, count);
                if (keepSignal) {
                    signal.left.insert(signal.left.end(), left, left + count);
                    signal.right.insert(signal.right.end(), right, right + count);
                }
            },
            [&](double fraction) { bar.update(fraction); });
    } catch (const PluginError &e) {
        return fail(EXIT_PLUGIN, e.what());
    } catch (const OutputError &e) {
        return fail(EXIT_OUTPUT, e.what());
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    try {
        drawPlots(options, loaded, signal, out);
    } catch (const PlotError &e) {
        return fail(EXIT_PLOT, e.what());
    }
    try {
        if (out.sound)
            out.sound->commit();
        if (out.spectrogramPng)
            out.spectrogramPng->commit();
        if (out.spectrumPng)
            out.spectrumPng->commit();
    } catch (const OutputError &e) {
        return fail(EXIT_OUTPUT, e.what());
    }
    if (!options.quiet)
        printSummary(options, patch, out, renderSpeed(seconds, elapsed), meter);
    if (out.sound) {
        std::string warning = clipWarning(meter, *format);
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
    if (options.version) {
        std::cout << VERSION_TEXT << "\n";
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
