// libsndfile writes through the pending file's descriptor and closes it at sf_close.
#include "tools/render/sound_writer.h"

#include "tools/render/errors.h"

#include <sndfile.h>

namespace tarn::render {

namespace {

// Room for the RIFF, fmt (extensible: 40 bytes), fact, PEAK and data chunk headers.
constexpr int64_t HEADER_BYTES = 1024;
constexpr int64_t RIFF_LIMIT_BYTES = 0xFFFFFFFFll;

int64_t bytesPerFrame(SampleFormat format) {
    return 2 * (format == SampleFormat::PCM16 ? 2 : format == SampleFormat::PCM24 ? 3 : 4);
}

} // namespace

int64_t wavFileBytes(int64_t frames, SampleFormat format) {
    return HEADER_BYTES + frames * bytesPerFrame(format);
}

bool needsRf64(int64_t frames, SampleFormat format) {
    return wavFileBytes(frames, format) > RIFF_LIMIT_BYTES;
}

SoundWriter::SoundWriter(const std::string &path, int32_t sampleRate, SampleFormat format,
                     int64_t frames)
    : m_file(path) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    const int container = needsRf64(frames, format)         ? SF_FORMAT_RF64
                          : format == SampleFormat::FLOAT32 ? SF_FORMAT_WAVEX
                                                            : SF_FORMAT_WAV;
    info.format = container | (format == SampleFormat::PCM16   ? SF_FORMAT_PCM_16
                               : format == SampleFormat::PCM24 ? SF_FORMAT_PCM_24
                                                               : SF_FORMAT_FLOAT);
    m_sound = sf_open_fd(m_file.descriptor(), SFM_WRITE, &info, SF_TRUE);
    if (!m_sound)
        throw OutputError("cannot write " + path + ": " + sf_strerror(nullptr));
    m_file.releaseDescriptor();
    sf_command(m_sound, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

SoundWriter::~SoundWriter() {
    if (m_sound)
        sf_close(m_sound);
}

void SoundWriter::write(const float *left, const float *right, int32_t count) {
    m_frames.resize(2 * static_cast<size_t>(count));
    float *frames = m_frames.data();
    for (int32_t i = 0; i < count; ++i) {
        frames[2 * i] = left[i];
        frames[2 * i + 1] = right[i];
    }
    if (sf_writef_float(m_sound, frames, count) != count)
        throw OutputError("cannot write " + m_file.target() + ": " + sf_strerror(m_sound));
}

void SoundWriter::commit() {
    int status = sf_close(m_sound);
    m_sound = nullptr;
    if (status != 0)
        throw OutputError("cannot write " + m_file.target() + ": " + sf_error_number(status));
    m_file.commit();
}

} // namespace tarn::render
