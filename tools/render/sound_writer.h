// Stereo sound files through libsndfile: "outputl" on the left channel, "outputr" on the right,
// in the container the file name's extension names. Integer samples are quantised here (round
// to nearest, TPDF dither at 16 bits), not by libsndfile. Written to a PendingFile, so the
// target appears only complete; "-" is standard output, copied there at commit.
#pragma once

#include "tools/render/pending_file.h"

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace tarn::render {

enum class SampleFormat { FLOAT32, PCM16, PCM24 };

// The containers tarn-render writes, each chosen by its extensions (any case):
// WAV ".wav" (RF64 past 4 GiB), W64 ".w64", AIFF ".aif"/".aiff", CAF ".caf", FLAC ".flac",
// OGG_VORBIS ".ogg", OPUS ".opus", MP3 ".mp3".
enum class Container { WAV, W64, AIFF, CAF, FLAC, OGG_VORBIS, OPUS, MP3 };

// The output path that stands for standard output; it gets a WAV file.
inline const std::string STANDARD_OUTPUT = "-";

// The file that is written for `path` before it is moved into place: `path` itself, or a
// temporary file under $TMPDIR (default /tmp) for "-".
std::string stagingPath(const std::string &path);

// The container of `path` from its extension, WAV for "-", or empty for any other name.
std::optional<Container> containerForPath(const std::string &path);
// ".wav, .w64, .aif, .aiff, .caf, .flac, .ogg, .opus, .mp3": the extensions that work.
std::string knownSoundExtensions();
// "FLAC", "Ogg Vorbis", ...: the container's name in messages.
const char *containerName(Container container);
// Ogg Vorbis, Opus and MP3: the encoder takes floats and keeps no sample format.
bool isLossy(Container container);

// The sample format written for `requested` (--format, or empty for the default): float where
// the container holds floats, 24-bit for FLAC, float for the lossy containers (the encoder's
// input). Empty with `problem` set when the container cannot hold the request (float FLAC) or
// the rate (Opus, MP3, ...): the message says what works instead.
std::optional<SampleFormat> formatFor(Container container, std::optional<SampleFormat> requested,
                                      int32_t sampleRate, std::string &problem);

// Bytes of the file for `frames` stereo frames, headers included: exact within 1 KiB for the
// uncompressed containers, an upper bound for FLAC (stored uncompressed at worst) and for the
// lossy ones (taken as 8 bits a sample, about 700 kbit/s at 44.1 kHz).
int64_t soundFileBytes(int64_t frames, Container container, SampleFormat format);

// Whether a WAV is too large for the 32-bit sizes of RIFF (4 GiB), and must be written as RF64
// (EBU Tech 3306), which players that read large WAVs accept. False for other containers.
bool needsRf64(int64_t frames, Container container, SampleFormat format);

// Why `frames` stereo frames do not fit in the container (AIFF's 32-bit sizes end at 4 GiB),
// or empty.
std::optional<std::string> sizeProblem(int64_t frames, Container container, SampleFormat format);

// Deterministic TPDF dither for one channel: the sum of two independent uniform values in
// [-0.5, 0.5) LSB, triangular over (-1, 1) LSB, variance 1/6 LSB^2, from a fixed seed so that
// renders are reproducible.
class TpdfDither {
public:
    explicit TpdfDither(uint32_t seed) : m_rng(seed) {}
    double next() { return uniform() + uniform(); }

private:
    // 24 random bits: a step of 2^-24 LSB.
    double uniform() { return static_cast<double>(m_rng() >> 8) * 0x1p-24 - 0.5; }
    std::mt19937 m_rng;
};

// x (1.0 = full scale) as a `bits`-bit integer: x 2^(bits-1) + d rounded to nearest (ties to
// even), clipped to the integer range; NaN gives 0. `d` is the dither in LSB.
int32_t quantise(float x, int bits, double d);

class SoundWriter {
public:
    // Writes `path` ("-": standard output) in `container`, which the caller takes from the
    // name the user gave (containerForPath): through a symbolic link, `path` may be named
    // otherwise. `frames`: how many frames will be written, which chooses RF64 over WAV.
    // `format` comes from formatFor. `dither`: TPDF dither on 16-bit samples. Float WAVs use
    // the extensible format header (WAVE_FORMAT_EXTENSIBLE, with 2 bytes beyond it that sox
    // needs to read it without a warning) and no PEAK chunk. Throws OutputError when the
    // target cannot be written.
    SoundWriter(const std::string &path, Container container, int32_t sampleRate,
                SampleFormat format, int64_t frames = 0, bool dither = true);
    ~SoundWriter();
    SoundWriter(const SoundWriter &) = delete;
    SoundWriter &operator=(const SoundWriter &) = delete;

    // Appends count frames. Integer formats clip at full scale (1.0) instead of wrapping.
    void write(const float *left, const float *right, int32_t count);
    // Finishes the file and moves it into place (or copies it to standard output). Throws
    // OutputError.
    void commit();

private:
    std::string m_target;
    PendingFile m_file;
    SNDFILE *m_sound = nullptr;
    SampleFormat m_format;
    bool m_dither;
    bool m_paddedHeader = false; // a float WAVEX file, whose fmt chunk grows for sox
    TpdfDither m_ditherLeft{1};
    TpdfDither m_ditherRight{2};
    std::vector<float> m_floats; // interleaving buffers, reused between writes
    std::vector<int16_t> m_shorts;
    std::vector<int32_t> m_ints;
};

} // namespace tarn::render
