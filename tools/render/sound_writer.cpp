// libsndfile writes through the pending file's descriptor and closes it at sf_close. Standard
// output may be a pipe, which cannot take the header libsndfile rewrites at close, so "-" is
// written to a temporary file and copied out at commit.
#include "tools/render/sound_writer.h"

#include "tools/render/errors.h"
#include "tools/render/output_space.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

namespace tarn::render {

namespace {

struct ContainerInfo {
    Container container;
    const char *extensions[2]; // the second may be null
    const char *name;
    int major; // SF_FORMAT_* container
};

const ContainerInfo CONTAINERS[] = {
    {Container::WAV, {".wav", nullptr}, "WAV", SF_FORMAT_WAVEX},
    {Container::W64, {".w64", nullptr}, "Wave64", SF_FORMAT_W64},
    {Container::AIFF, {".aif", ".aiff"}, "AIFF", SF_FORMAT_AIFF},
    {Container::CAF, {".caf", nullptr}, "CAF", SF_FORMAT_CAF},
    {Container::FLAC, {".flac", nullptr}, "FLAC", SF_FORMAT_FLAC},
    {Container::OGG_VORBIS, {".ogg", nullptr}, "Ogg Vorbis", SF_FORMAT_OGG},
    {Container::OPUS, {".opus", nullptr}, "Opus", SF_FORMAT_OGG},
    {Container::MP3, {".mp3", nullptr}, "MP3", SF_FORMAT_MPEG},
};

const ContainerInfo &infoOf(Container container) {
    return CONTAINERS[static_cast<size_t>(container)];
}

// Room for the RIFF, fmt (extensible: 40 bytes), fact, PEAK and data chunk headers, and for
// the larger headers of the other containers.
constexpr int64_t HEADER_BYTES = 1024;
constexpr int64_t RIFF_LIMIT_BYTES = 0xFFFFFFFFll;
constexpr int32_t OPUS_RATES[] = {8000, 12000, 16000, 24000, 48000};
constexpr int32_t MP3_RATES[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

int64_t bytesPerFrame(SampleFormat format) {
    return 2 * (format == SampleFormat::PCM16 ? 2 : format == SampleFormat::PCM24 ? 3 : 4);
}

int subtypeOf(Container container, SampleFormat format) {
    switch (container) {
    case Container::OGG_VORBIS:
        return SF_FORMAT_VORBIS;
    case Container::OPUS:
        return SF_FORMAT_OPUS;
    case Container::MP3:
        return SF_FORMAT_MPEG_LAYER_III;
    default:
        return format == SampleFormat::PCM16   ? SF_FORMAT_PCM_16
               : format == SampleFormat::PCM24 ? SF_FORMAT_PCM_24
                                               : SF_FORMAT_FLOAT;
    }
}

template <size_t N> std::string rateList(const int32_t (&rates)[N]) {
    std::string text;
    for (size_t i = 0; i < N; ++i)
        text += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::to_string(rates[i]);
    return text;
}

// The header libsndfile writes for a float WAVEX file: RIFF (12 bytes), fmt (8 + 40, cbSize 22
// at 36), fact (12), PEAK (8 + 24), then data at 104.
constexpr size_t WAVEX_FLOAT_HEADER_BYTES = 104;

uint32_t le32(const unsigned char *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// sox 14.4.2 reads a second cbSize after the 22 bytes of the extension and warns "wave header
// missing extended part of fmt chunk" on every 40-byte extensible float header. This grows
// the extension by 2 zero bytes (fmt 42 bytes, cbSize 24; readers skip the bytes beyond the
// 22 they know) and gives up the PEAK chunk for the room: a JUNK chunk fills the rest, so the
// data stays at byte 104 and only the header is rewritten. A file of any other layout is left
// as libsndfile wrote it, a valid extensible WAV.
void padExtensibleHeader(int fd) {
    unsigned char h[WAVEX_FLOAT_HEADER_BYTES + 4]; // and the data chunk's id
    if (::pread(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h))
        return;
    auto is = [&](size_t at, const char *id) { return std::memcmp(h + at, id, 4) == 0; };
    if (!is(0, "RIFF") || !is(8, "WAVE") || !is(12, "fmt ") || le32(h + 16) != 40 ||
        h[20] != 0xFE || h[21] != 0xFF || h[36] != 22 || h[37] != 0 || !is(60, "fact") ||
        le32(h + 64) != 4 || !is(72, "PEAK") || le32(h + 76) != 24 || !is(104, "data"))
        return;
    unsigned char out[WAVEX_FLOAT_HEADER_BYTES - 12] = {};
    unsigned char *p = out;
    std::memcpy(p, "fmt \x2a\0\0\0", 8); // 42
    std::memcpy(p + 8, h + 20, 40);
    p[8 + 16] = 24;             // cbSize
    p += 8 + 42;                // the 2 added bytes stay 0
    std::memcpy(p, h + 60, 12); // fact
    p += 12;
    std::memcpy(p, "JUNK\x16\0\0\0", 8); // 22 zero bytes
    if (::pwrite(fd, out, sizeof out, 12) != static_cast<ssize_t>(sizeof out))
        throw OutputError(std::strerror(errno));
}

void copyToStandardOutput(const std::string &path) {
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw OutputError("cannot write to standard output: " + std::string(std::strerror(errno)));
    // A reader that quits early must give an error, not a SIGPIPE that skips the clean-up of
    // the temporary file.
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    std::vector<char> buffer(1 << 16);
    int error = 0;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < n && error == 0;) {
            ssize_t w = ::write(STDOUT_FILENO, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR)
                error = errno;
            done += w > 0 ? w : 0;
        }
        if (error != 0)
            break;
    }
    ::close(in);
    ::sigaction(SIGPIPE, &previous, nullptr);
    if (error != 0)
        throw OutputError("cannot write to standard output: " + std::string(std::strerror(error)));
}

} // namespace

std::string stagingPath(const std::string &path) {
    if (path != STANDARD_OUTPUT)
        return path;
    const char *tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tarn-render-stdout.wav";
}

std::optional<Container> containerForPath(const std::string &path) {
    if (path == STANDARD_OUTPUT)
        return Container::WAV;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::nullopt;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const ContainerInfo &info : CONTAINERS)
        for (const char *known : info.extensions)
            if (known && extension == known)
                return info.container;
    return std::nullopt;
}

std::string knownSoundExtensions() {
    std::string text;
    for (const ContainerInfo &info : CONTAINERS)
        for (const char *known : info.extensions)
            if (known)
                text += (text.empty() ? "" : ", ") + std::string(known);
    return text;
}

const char *containerName(Container container) {
    return infoOf(container).name;
}

bool isLossy(Container container) {
    return container == Container::OGG_VORBIS || container == Container::OPUS ||
           container == Container::MP3;
}

std::optional<SampleFormat> formatFor(Container container, std::optional<SampleFormat> requested,
                                      int32_t sampleRate, std::string &problem) {
    const std::string name = containerName(container);
    const std::string rate = std::to_string(sampleRate);
    if (container == Container::OPUS && std::find(std::begin(OPUS_RATES), std::end(OPUS_RATES),
                                                  sampleRate) == std::end(OPUS_RATES)) {
        problem = "an Opus file holds " + rateList(OPUS_RATES) + " Hz, not the patch's " + rate +
                  " Hz: set \"sample_rate\" to one of them, or write .ogg or .flac";
        return std::nullopt;
    }
    if (container == Container::MP3 &&
        std::find(std::begin(MP3_RATES), std::end(MP3_RATES), sampleRate) == std::end(MP3_RATES)) {
        problem = "an MP3 file holds " + rateList(MP3_RATES) + " Hz, not the patch's " + rate +
                  " Hz: set \"sample_rate\" to one of them, or write .ogg or .flac";
        return std::nullopt;
    }
    if (container == Container::FLAC && requested == SampleFormat::FLOAT32) {
        problem = "a FLAC file holds 16- or 24-bit samples, not float: use --format 16 or 24 "
                  "(24 is the default), or write .wav for float";
        return std::nullopt;
    }
    const SampleFormat format = isLossy(container)             ? SampleFormat::FLOAT32
                                : requested                    ? *requested
                                : container == Container::FLAC ? SampleFormat::PCM24
                                                               : SampleFormat::FLOAT32;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = infoOf(container).major | subtypeOf(container, format);
    if (!sf_format_check(&info)) {
        problem = "a " + name + " file cannot hold " + rate + " Hz stereo";
        return std::nullopt;
    }
    return format;
}

int64_t soundFileBytes(int64_t frames, Container container, SampleFormat format) {
    return HEADER_BYTES + frames * (isLossy(container) ? 2 : bytesPerFrame(format));
}

bool needsRf64(int64_t frames, Container container, SampleFormat format) {
    return container == Container::WAV &&
           soundFileBytes(frames, container, format) > RIFF_LIMIT_BYTES;
}

std::optional<std::string> sizeProblem(int64_t frames, Container container, SampleFormat format) {
    if (container != Container::AIFF ||
        soundFileBytes(frames, container, format) <= RIFF_LIMIT_BYTES)
        return std::nullopt;
    return "an AIFF file holds at most 4.29 GB, and this one would be " +
           gigabytes(soundFileBytes(frames, container, format)) +
           ": write .wav (RF64), .w64 or .caf";
}

int32_t quantise(float x, int bits, double d) {
    const double scale = std::ldexp(1.0, bits - 1);
    const double top = scale - 1.0;
    // Ties to even: a float in [0.5, 1) times 2^23 is a multiple of 0.5, a tie half the time,
    // which rounding half up would bias by +0.25 LSB at 24 bits.
    const double v = std::nearbyint(static_cast<double>(x) * scale + d);
    if (!(v > -scale)) // also NaN
        return std::isnan(v) ? 0 : static_cast<int32_t>(-scale);
    return static_cast<int32_t>(v < top ? v : top);
}

SoundWriter::SoundWriter(const std::string &path, Container container, int32_t sampleRate,
                         SampleFormat format, int64_t frames, bool dither)
    : m_target(path), m_file(stagingPath(path)), m_format(format),
      m_dither(dither && format == SampleFormat::PCM16) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    const int major = needsRf64(frames, container, format) ? SF_FORMAT_RF64
                      : container == Container::WAV && format != SampleFormat::FLOAT32
                          ? SF_FORMAT_WAV
                          : infoOf(container).major;
    info.format = major | subtypeOf(container, format);
    m_paddedHeader = major == SF_FORMAT_WAVEX && format == SampleFormat::FLOAT32;
    m_sound = sf_open_fd(m_file.descriptor(), SFM_WRITE, &info, SF_TRUE);
    if (!m_sound)
        throw OutputError("cannot write " + path + ": " + sf_strerror(nullptr));
    m_file.releaseDescriptor();
}

SoundWriter::~SoundWriter() {
    if (m_sound)
        sf_close(m_sound);
}

void SoundWriter::write(const float *left, const float *right, int32_t count) {
    const size_t n = 2 * static_cast<size_t>(count);
    sf_count_t written = 0;
    if (m_format == SampleFormat::FLOAT32) {
        m_floats.resize(n);
        for (int32_t i = 0; i < count; ++i) {
            m_floats[2 * i] = left[i];
            m_floats[2 * i + 1] = right[i];
        }
        written = sf_writef_float(m_sound, m_floats.data(), count);
    } else if (m_format == SampleFormat::PCM16) {
        m_shorts.resize(n);
        for (int32_t i = 0; i < count; ++i) {
            const double dl = m_dither ? m_ditherLeft.next() : 0.0;
            const double dr = m_dither ? m_ditherRight.next() : 0.0;
            m_shorts[2 * i] = static_cast<int16_t>(quantise(left[i], 16, dl));
            m_shorts[2 * i + 1] = static_cast<int16_t>(quantise(right[i], 16, dr));
        }
        written = sf_writef_short(m_sound, m_shorts.data(), count);
    } else {
        // libsndfile keeps the top 24 bits of each int.
        m_ints.resize(n);
        for (int32_t i = 0; i < count; ++i) {
            m_ints[2 * i] =
                static_cast<int32_t>(static_cast<uint32_t>(quantise(left[i], 24, 0.0)) << 8);
            m_ints[2 * i + 1] =
                static_cast<int32_t>(static_cast<uint32_t>(quantise(right[i], 24, 0.0)) << 8);
        }
        written = sf_writef_int(m_sound, m_ints.data(), count);
    }
    if (written != count)
        throw OutputError("cannot write " + m_target + ": " + sf_strerror(m_sound));
}

void SoundWriter::commit() {
    int status = sf_close(m_sound);
    m_sound = nullptr;
    if (status != 0)
        throw OutputError("cannot write " + m_target + ": " + sf_error_number(status));
    if (m_paddedHeader) {
        int fd = ::open(m_file.temporaryPath().c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            throw OutputError("cannot write " + m_target + ": " + std::strerror(errno));
        try {
            padExtensibleHeader(fd);
        } catch (const OutputError &e) {
            ::close(fd);
            throw OutputError("cannot write " + m_target + ": " + e.what());
        }
        ::close(fd);
    }
    if (m_target == STANDARD_OUTPUT)
        copyToStandardOutput(m_file.temporaryPath()); // the pending file removes it
    else
        m_file.commit();
}

} // namespace tarn::render
