// Levels in dBFS relative to a full-scale peak of 1.0 (a full-scale sine has an RMS of
// -3.01 dBFS).
#include "tools/render/level_meter.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace tarn::render {

namespace {

void measure(ChannelLevels &levels, const float *x, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const double magnitude = std::fabs(static_cast<double>(x[i]));
        if (magnitude > levels.peak)
            levels.peak = magnitude;
        levels.sumSquares += magnitude * magnitude;
        levels.beyondFull += magnitude > 1.0 ? 1 : 0;
    }
    levels.samples += count;
}

std::string formatDb(double db) {
    if (std::isinf(db))
        return "  -inf";
    char text[32];
    std::snprintf(text, sizeof text, "%+6.2f", db);
    return text;
}

double rmsOf(const ChannelLevels &levels) {
    return levels.samples == 0 ? 0.0
                               : std::sqrt(levels.sumSquares / static_cast<double>(levels.samples));
}

} // namespace

void LevelMeter::add(const float *left, const float *right, int32_t count) {
    measure(m_left, left, count);
    measure(m_right, right, count);
}

double dbfsFromLinear(double x) {
    return x > 0.0 ? 20.0 * std::log10(x) : -std::numeric_limits<double>::infinity();
}

double linearFromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

std::string levelReport(const LevelMeter &meter) {
    std::string text;
    for (const auto &[name, levels] :
         {std::pair<const char *, const ChannelLevels &>{"left ", meter.left()},
          std::pair<const char *, const ChannelLevels &>{"right", meter.right()}}) {
        text += std::string(name) + "  peak " + formatDb(dbfsFromLinear(levels.peak)) +
                " dBFS   RMS " + formatDb(dbfsFromLinear(rmsOf(levels))) + " dBFS   " +
                std::to_string(levels.beyondFull) + " samples beyond full scale\n";
    }
    return text;
}

std::string clipWarning(const LevelMeter &meter, SampleFormat format) {
    const int64_t clipped = meter.left().beyondFull + meter.right().beyondFull;
    if (clipped == 0)
        return "";
    const int64_t samples = meter.left().samples + meter.right().samples;
    const double overDb = dbfsFromLinear(meter.peak());
    char text[320];
    if (format == SampleFormat::FLOAT32)
        std::snprintf(text, sizeof text,
                      "warning: the file keeps %lld of %lld samples (%.1f %%) beyond full scale, "
                      "which most players clip; the peak is %+.2f dBFS: lower \"gain\" by %.1f dB "
                      "or use --normalize",
                      static_cast<long long>(clipped), static_cast<long long>(samples),
                      100.0 * clipped / samples, overDb, overDb);
    else
        std::snprintf(text, sizeof text,
                      "warning: the %s-bit file clipped %lld of %lld samples (%.1f %%) at full "
                      "scale; the peak is %+.2f dBFS: lower \"gain\" by %.1f dB or use --normalize",
                      format == SampleFormat::PCM16 ? "16" : "24", static_cast<long long>(clipped),
                      static_cast<long long>(samples), 100.0 * clipped / samples, overDb, overDb);
    return text;
}

} // namespace tarn::render
