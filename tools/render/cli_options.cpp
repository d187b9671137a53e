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
    R"(usage: tarn-render [options] PATCH [OUT.wav]        (PATCH "-": standard input)
       tarn-render [options] --midi FILE.mid [PATCH] [OUT.wav]
       tarn-render [options] --demo [OUT.wav]
       tarn-render --null|--dry-run [options] PATCH
       tarn-render --pins [--plugin PATH]

Renders a patch (JSON, see docs/patch-format.md) on the TARN oscillator plug-in to a stereo
WAV file: "outputl" on the left channel, "outputr" on the right. A lone file name is always the
patch: without OUT.wav the WAV goes beside it under its name (song.json -> song.wav). OUT.wav
"-" writes the WAV to standard output, and the report to standard error. --demo renders the
built-in demo patch (to demo.wav without OUT.wav).
No output ever replaces one of the run's inputs (the patch, the MIDI file, the plug-in, through
any link), and an output replaces an existing file only when that file holds the same kind of
data (a WAV file a RIFF or RF64 file, a plot a PNG), unless --force. An output that is a
symbolic link is written through the link: the file it points to is replaced.
Each render ends with the peak and RMS of each channel, and a warning when samples lie beyond
full scale (a 16- or 24-bit file clips them, most players clip a float one).

options:
  --format float|16|24     sample format of the sound file (default: float, 32-bit; FLAC:
                           24); the container follows OUT's extension: .wav .w64 .aif
                           .aiff .caf .flac (16 or 24), .ogg .opus .mp3 (lossy: the encoder
                           takes the float render, --format does nothing)
  --no-dither              round 16-bit samples to nearest without the default TPDF dither
  -o, --output FILE        the sound file (in place of OUT.wav)
  --demo                   render the built-in demo patch (see --print-demo)
  --force                  let an output replace a file that holds another kind of data
  --midi FILE.mid          play the notes of a Standard MIDI File (format 0 or 1) in place
                           of the score: key as pitch, velocity as gain, the rest from
                           the patch's "defaults"; without OUT.wav, writes FILE.wav
  --channel LIST           the MIDI channels to play, such as 1,2,10 (default: all)
  -n, --null               render but write no WAV file (for timing)
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
     type, value out of range; or an output that would replace an input, a file of another
     kind (without --force) or a device, or two outputs of one name
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

const char *const KNOWN_OPTIONS[] = {"--help",     "--version",     "--pins",     "--print-demo",
                                     "--null",     "--dry-run",     "--quiet",    "--plugin",
                                     "--format",   "--normalize",   "--midi",     "--channel",
                                     "--demo",     "--force",       "--output",   "--spectrogram",
                                     "--spectrum", "--spectrum-at", "--max-freq", "--no-dither"};

// Csound's options that a Csound user may type, with the way tarn-render says the same.
struct CsoundOption {
    const char *flag;
    const char *answer;
};
const CsoundOption CSOUND_OPTIONS[] = {
    {"-W", "the sound file's container follows OUT's extension (out.wav)"},
    {"-A", "the sound file's container follows OUT's extension (out.aiff)"},
    {"-f", "use --format float (the default)"},
    {"-s", "use --format 16"},
    {"-3", "use --format 24"},
    {"-F", "use --midi FILE.mid"},
    {"-T", "a MIDI render ends by itself after the last note's release"},
    {"-r", "the sample rate is the patch's \"sample_rate\""},
    {"-k", "there is no control rate: the patch's \"block_size\" sets the block"},
    {"-b", "the patch's \"block_size\" sets the block"},
    {"-B", "the patch's \"block_size\" sets the block"},
    {"-d", "tarn-render draws no displays; --quiet also hides the progress bar"},
    {"-m", "use --quiet for fewer messages"},
    {"-i", "tarn-render reads no sound input"},
};

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
    for (const CsoundOption &csound : CSOUND_OPTIONS)
        if (arg.rfind(csound.flag, 0) == 0)
            return "unknown option " + arg + " (a Csound option?): " + csound.answer;
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

} // namespace

std::string defaultOutputPath(const std::string &inputPath) {
    size_t slash = inputPath.rfind('/');
    size_t dot = inputPath.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        return inputPath + ".wav";
    return inputPath.substr(0, dot) + ".wav";
}

Options parseOptions(int argc, const char *const *argv) {
    Options options;
    std::vector<std::string> files;
    std::string outputOption; // -o FILE
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
        } else if (arg == "--demo") {
            noValue();
            options.demo = true;
        } else if (arg == "--force") {
            noValue();
            options.force = true;
        } else if (arg == "--output" || arg == "-o") {
            std::string output = takeValue();
            if (output.empty())
                throw UsageError(arg + " expects a file name");
            if (!outputOption.empty())
                throw UsageError("two outputs given: " + outputOption + " and " + output);
            outputOption = output;
        } else if (arg == "--null" || arg == "-n") {
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
    if (options.demo && !options.midiPath.empty())
        throw UsageError("--demo plays its own score; --midi needs a patch or none");
    // The patch comes first and is never taken for the output: a lone name is the patch (or,
    // with --demo, the output), so a forgotten output name never renders over a file.
    const size_t patches = options.demo ? 0 : 1;
    const size_t outputs = writesNoWav || !outputOption.empty() ? 0 : 1;
    if (files.size() > patches + outputs)
        throw UsageError("too many file names: " + files[patches + outputs] +
                         (outputOption.empty() ? "" : " (the output is given by -o)"));
    if (patches == 1 && !files.empty())
        options.patchPath = files[0];
    if (patches == 1 && files.empty() && options.midiPath.empty())
        throw UsageError("no patch given (tarn-render --demo renders the built-in demo)");
    if (writesNoWav) {
        if (!outputOption.empty())
            throw UsageError((options.nullOutput ? "--null" : "--dry-run") +
                             std::string(" writes no sound file, but -o names one"));
        return options;
    }
    if (!outputOption.empty())
        options.outputPath = outputOption;
    else if (files.size() > patches)
        options.outputPath = files.back();
    else if (options.demo)
        options.outputPath = DEFAULT_DEMO_OUTPUT;
    else {
        // Beside the MIDI file when there is one, else beside the patch.
        const std::string &input = options.midiPath.empty() ? options.patchPath : options.midiPath;
        if (input == "-")
            throw UsageError("a patch read from standard input (-) needs an output file name");
        options.outputPath = defaultOutputPath(input);
    }
    return options;
}

} // namespace tarn::render
