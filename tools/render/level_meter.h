// Peak, RMS and the count of samples beyond full scale of the two channels of a render, as
// written to the file, and the report printed at its end.
#pragma once

#include "tools/render/sound_writer.h"

#include <cstdint>
#include <string>

namespace tarn::render {

struct ChannelLevels {
    double peak = 0.0;       // largest |x|; 1.0 is full scale
    double sumSquares = 0.0; // of every sample, in double
    int64_t beyondFull = 0;  // samples with |x| > 1.0: an integer format clips them
    int64_t samples = 0;
};

class LevelMeter {
public:
    void add(const float *left, const float *right, int32_t count);
    const ChannelLevels &left() const { return m_left; }
    const ChannelLevels &right() const { return m_right; }
    double peak() const { return m_left.peak > m_right.peak ? m_left.peak : m_right.peak; }

private:
    ChannelLevels m_left;
    ChannelLevels m_right;
};

// 20 log10(x); -infinity for 0.
double dbfsFromLinear(double x);
double linearFromDb(double db);

// "left   peak  +5.46 dBFS   RMS  -3.51 dBFS   0 samples beyond full scale", one line per
// channel; -inf for silence.
std::string levelReport(const LevelMeter &meter);

// The warning for samples beyond full scale, or "" when there are none: an integer format
// clipped them; a float or lossy file keeps them, but most players clip them.
std::string clipWarning(const LevelMeter &meter, SampleFormat format);

} // namespace tarn::render
