// Stereo WAV output through libsndfile: "outputl" on the left channel, "outputr" on the right.
// Written to a PendingFile, so the target appears only complete.
#pragma once

#include "tools/PendingFile.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace tarn::render {

enum class SampleFormat { FLOAT32, PCM16, PCM24 };

class WavWriter {
public:
    // Throws OutputError when the target cannot be written.
    WavWriter(const std::string &path, int32_t sampleRate, SampleFormat format);
    ~WavWriter();
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

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
