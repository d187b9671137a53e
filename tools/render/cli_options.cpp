// Options may come in any order before, between or after the file names; "--opt=value" and
// "--opt value" are both accepted.
#include "tools/render/cli_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tarn::render {

const char *const USAGE_TEXT =
    R"(usage: tarn-render [options] PATCH.json [OUT.wav]      (PATCH.json "-": standard input)
       tarn-render [options] OUT.wav
       tarn-render --null|--dry-run [options] [PATCH.json]
       tarn-render [options] [PATCH.json] --midi FILE.mid [OUT.wav]
       tarn-render --pins [--plugin PATH]

Renders a patch (JSON, see docs/patch-format.md) on the TARN oscillator plug-in to a stereo
WAV file: "outputl" on the left channel, "outputr" on the right. Without OUT.wav the WAV goes
beside the patch under its name (song.json -> song.wav); without PATCH.json the built-in demo
patch is rendered. No output ever replaces the patch or a file whose name ends in .json.
Each render ends with the peak and RMS of each channel, and a warning when samples lie beyond
full scale (a 16- or 24-bit file clips them, most players clip a float one).

options:
  --format float|16|24     sample format of the sound file (default: float, 32-bit; FLAC:
                           24); the container follows OUT's extension: .wav .w64 .aif
                           .aiff .caf .flac (16 or 24), .ogg .opus .mp3 (lossy: the encoder
                           takes the float render, --format does nothing); OUT "-" writes a
                           WAV to standard output and the report to standard error
  --no-dither              round 16-bit samples to nearest without the default TPDF dither
  --midi FILE.mid          play the notes of a Standard MIDI File (format 0 or 1) in place
                           of the score: key as pitch, velocity as gain, the rest from
                           the patch's "defaults"; without OUT.wav, writes FILE.wav
  --channel LIST           the MIDI channels to play, such as 1,2,10 (default: all)
  --null                   render but write no WAV file (for timing)
  --dry-run                list every note with the instance that plays it, the note it
                           steals and what "alternate" does to it; render nothing
  --normalize [DBFS]       scale the mix so that its peak is DBFS (default -1, at most 0);
                           renders twice, and replaces the patch's "gain"
  --spectrogram FILE.png   also draw a spectrogram of both channels
  --spectrum FILE.png      also draw the magnitude spectrum of one window
  --spectrum-at SECONDS    centre of that window (default: middle of the first note)
  --max-freq HZ            top of the plots' frequency axis (default: half the sample rate)
  --plugin PATH            plug-in to load (default: tarn.so beside tarn-render)
  --pins                   print the plug-in's pins as the host sees them, then stop
  --print-demo             print the built-in demo patch, then stop
  --quiet                  no progress bar, summary or level report (warnings remain)
  --version                the tool's version and the source revision it was configured at
  --help                   this text

exit codes:
  0  success
  1  bad command line
  2  bad patch or MIDI file: unreadable file, malformed JSON or MIDI, unknown field, wrong
     type, value out of range, or an output that would replace an input
  3  the plug-in does not load or cannot play the patch
  4  an output file cannot be written (nothing is left behind)
  5  gnuplot is missing or failed to draw a plot
  130, 143, 129  interrupted by SIGINT, SIGTERM or SIGHUP (nothing is left behind)
)";

namespace {

double parseNumber(const std::string &option, const std::string &text, const char *what) {
    char *end = nullptr;
    errno = 0;
    double x = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(x) || x < 0.0)
        throw UsageError(option + " expects " + what + ", got \"" + text + "\"");
    return x;
}

// A level in dB of at most 0, or empty when the text is not a number.
std::optional<double> parseLevel(const std::string &text) {
    char *end = nullptr;
    errno = 0;
    double x = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(x))
        return std::nullopt;
    return x;
}

// "1,2,10": MIDI channels 1 to 16, as a bit set.
uint32_t parseChannels(const std::string &text) {
    uint32_t channels = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = std::min(text.find(',', at), text.size());
        std::string item = text.substr(at, comma - at);
        char *end = nullptr;
        long c = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || c < 1 || c > 16)
            throw UsageError("--channel expects MIDI channels from 1 to 16 such as 1,2,10, got \"" +
                             text + "\"");
        channels |= 1u << (c - 1);
        at = comma + 1;
    }
    return channels;
}

SampleFormat parseFormat(const std::string &text) {
    if (text == "float")
        return SampleFormat::FLOAT32;
    if (text == "16")
        return SampleFormat::PCM16;
    if (text == "24")
        return SampleFormat::PCM24;
    throw UsageError("--format expects float, 16 or 24, got \"" + text + "\"");
}

const char *const KNOWN_OPTIONS[] = {
    "--help",        "--version",  "--pins",        "--print-demo", "--null",     "--dry-run",
    "--quiet",       "--plugin",   "--format",      "--normalize",  "--midi",     "--channel",
    "--spectrogram", "--spectrum", "--spectrum-at", "--max-freq",   "--no-dither"};

// Levenshtein distance: insertions, deletions and substitutions of one character.
size_t editDistance(const std::string &x, const std::string &y) {
    std::vector<size_t> row(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] != y[j - 1])});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// "unknown option --nomalize; did you mean --normalize?" when one is close (at most a third
// of its letters differ).
std::string unknownOption(const std::string &arg) {
    const char *nearest = nullptr;
    size_t best = SIZE_MAX;
    for (const char *known : KNOWN_OPTIONS) {
        size_t d = editDistance(arg, known);
        if (d < best) {
            best = d;
            nearest = known;
        }
    }
    std::string message = "unknown option " + arg;
    if (nearest && best * 3 <= std::string(nearest).size())
        message += "; did you mean " + std::string(nearest) + "?";
    return message;
}

bool endsWith(const std::string &text, const std::string &suffix) {
    if (text.size() < suffix.size())
        return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) !=
            suffix[i])
            return false;
    return true;
}

} // namespace

std::string defaultOutputPath(const std::string &inputPath) {
    size_t slash = inputPath.rfind('/');
    size_t dot = inputPath.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return inputPath + ".wav";
    return inputPath.substr(0, dot) + ".wav";
}

bool looksLikePatchName(const std::string &name) {
    return endsWith(name, ".json");
}

Options parseOptions(int argc, const char *const *argv) {
    Options options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        }
        auto takeValue = [&]() {
            if (hasValue)
                return value;
            if (i + 1 >= argc)
                throw UsageError(arg + " expects a value");
            return std::string(argv[++i]);
        };
        auto noValue = [&]() {
            if (hasValue)
                throw UsageError(arg + " takes no value");
        };
        if (arg == "--help" || arg == "-h") {
            noValue();
            options.help = true;
        } else if (arg == "--version") {
            noValue();
            options.version = true;
        } else if (arg == "--pins") {
            noValue();
            options.pins = true;
        } else if (arg == "--print-demo") {
            noValue();
            options.printDemo = true;
        } else if (arg == "--null") {
            noValue();
            options.nullOutput = true;
        } else if (arg == "--dry-run") {
            noValue();
            options.dryRun = true;
        } else if (arg == "--quiet" || arg == "-q") {
            noValue();
            options.quiet = true;
        } else if (arg == "--plugin") {
            options.plugin = takeValue();
        } else if (arg == "--format") {
            options.format = parseFormat(takeValue());
        } else if (arg == "--no-dither") {
            noValue();
            options.dither = false;
        } else if (arg == "--normalize") {
            // The level is optional: the next argument is taken only when it is a number.
            std::optional<double> level =
                hasValue ? parseLevel(value)
                         : (i + 1 < argc ? parseLevel(argv[i + 1]) : std::nullopt);
            if (hasValue && !level)
                throw UsageError("--normalize expects a level in dBFS, got \"" + value + "\"");
            if (level && !hasValue)
                ++i;
            if (level && *level > 0.0)
                throw UsageError("--normalize expects a level of at most 0 dBFS");
            options.normalizeDbfs = level.value_or(DEFAULT_NORMALIZE_DBFS);
        } else if (arg == "--midi") {
            options.midiPath = takeValue();
        } else if (arg == "--channel") {
            options.midiChannels = parseChannels(takeValue());
        } else if (arg == "--spectrogram") {
            options.spectrogramPath = takeValue();
        } else if (arg == "--spectrum") {
            options.spectrumPath = takeValue();
        } else if (arg == "--spectrum-at") {
            options.spectrumAtSeconds = parseNumber(arg, takeValue(), "a time in seconds");
        } else if (arg == "--max-freq") {
            options.maxHz = parseNumber(arg, takeValue(), "a frequency in Hz");
        } else if (arg.size() > 1 && arg[0] == '-') { // "-" alone is standard input
            throw UsageError(unknownOption(arg));
        } else {
            files.push_back(arg);
        }
    }
    if (options.help || options.version || options.pins || options.printDemo) {
        if (!files.empty())
            throw UsageError("unexpected file name " + files[0]);
        return options;
    }
    const bool writesNoWav = options.nullOutput || options.dryRun;
    size_t wanted = writesNoWav ? 0 : 1;
    if (files.size() > wanted + 1)
        throw UsageError("too many file names: " + files[wanted + 1]);
    // A lone name is the patch when it looks like one, so that a forgotten output name never
    // turns "tarn-render song.json" into a demo render over the patch.
    const bool lonePatch =
        files.size() == 1 && !writesNoWav && (looksLikePatchName(files[0]) || files[0] == "-");
    if (files.size() == wanted + 1 || lonePatch)
        options.patchPath = files[0];
    // With a MIDI file the output may be left out too: it goes beside the MIDI file.
    const bool derived = lonePatch || (files.empty() && !options.midiPath.empty());
    if (!writesNoWav) {
        if (files.empty() && options.midiPath.empty())
            throw UsageError("no output file given (or use --null)");
        const std::string &input = options.midiPath.empty() ? files[0] : options.midiPath;
        if (derived && input == "-")
            throw UsageError("a patch read from standard input (-) needs an output file name");
        options.outputPath = derived ? defaultOutputPath(input) : files.back();
    }
    return options;
}

} // namespace tarn::render
