// Stereo WAV output through libsndfile: "outputl" on the left channel, "outputr" on the right.
// Written to a PendingFile, so the target appears only complete.
#pragma once

#include "tools/render/pending_file.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace tarn::render {

enum class SampleFormat { FLOAT32, PCM16, PCM24 };

// Bytes of the file for `frames` stereo frames, headers included (an estimate within 1 KiB).
int64_t wavFileBytes(int64_t frames, SampleFormat format);

// Whether the file is too large for the 32-bit sizes of a RIFF WAV (4 GiB), and must be
// written as RF64 (EBU Tech 3306), which players that read large WAVs accept.
bool needsRf64(int64_t frames, SampleFormat format);

class SoundWriter {
public:
    // `frames`: how many frames will be written, which chooses RF64 over WAV. Float files use
    // the extensible format header (WAVE_FORMAT_EXTENSIBLE), as sox and others expect.
    // Throws OutputError when the target cannot be written.
    SoundWriter(const std::string &path, int32_t sampleRate, SampleFormat format, int64_t frames = 0);
    ~SoundWriter();
    SoundWriter(const SoundWriter &) = delete;
    SoundWriter &operator=(const SoundWriter &) = delete;

    // Appends count frames. Integer formats clip at full scale (1.0) instead of wrapping.
    void write(const float *left, const float *right, int32_t count);
    // Finishes the file and moves it into place. Throws OutputError.
    void commit();

private:
    PendingFile m_file;
    SNDFILE *m_sound = nullptr;
    std::vector<float> m_frames; // interleaving buffer, reused between writes
};

} // namespace tarn::render
