// One FFTW plan per frame size and call; FFTW_ESTIMATE keeps planning instant.
#include "tools/render/spectrum.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>

namespace tarn::render {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double FLOOR_DB = -300.0;

// Real-to-complex transform of Hann-windowed frames, scaled so that a full-scale sine at a bin
// centre gives magnitude 1: the window's coherent gain is fftSize / 2, one-sided spectrum x2.
class FrameTransform {
public:
    explicit FrameTransform(size_t fftSize)
        : m_size(fftSize), m_window(fftSize), m_in(fftw_alloc_real(fftSize)),
          m_out(fftw_alloc_complex(fftSize / 2 + 1)) {
        for (size_t i = 0; i < fftSize; ++i)
            m_window[i] = 0.5 - 0.5 * std::cos(2.0 * PI * static_cast<double>(i) /
                                               static_cast<double>(fftSize));
        m_plan = fftw_plan_dft_r2c_1d(static_cast<int>(fftSize), m_in, m_out, FFTW_ESTIMATE);
    }
    ~FrameTransform() {
        fftw_destroy_plan(m_plan);
        fftw_free(m_in);
        fftw_free(m_out);
    }
    FrameTransform(const FrameTransform &) = delete;
    FrameTransform &operator=(const FrameTransform &) = delete;

    // Frame of samples first .. first + size - 1; indexes outside the signal read as zero.
    template <typename Out> void levels(const std::vector<float> &samples, int64_t first, Out out) {
        for (size_t i = 0; i < m_size; ++i) {
            int64_t t = first + static_cast<int64_t>(i);
            double x = (t >= 0 && t < static_cast<int64_t>(samples.size()))
                           ? samples[static_cast<size_t>(t)]
                           : 0.0;
            m_in[i] = x * m_window[i];
        }
        fftw_execute(m_plan);
        const double scale = 4.0 / static_cast<double>(m_size);
        for (size_t k = 0; k <= m_size / 2; ++k) {
            double magnitude = scale * std::hypot(m_out[k][0], m_out[k][1]);
            out[k] = magnitude > 0.0 ? std::max(FLOOR_DB, 20.0 * std::log10(magnitude)) : FLOOR_DB;
        }
    }

private:
    size_t m_size;
    std::vector<double> m_window;
    double *m_in;
    fftw_complex *m_out;
    fftw_plan m_plan;
};

} // namespace

std::vector<double> spectrumDb(const std::vector<float> &samples, size_t start, size_t fftSize) {
    std::vector<double> db(fftSize / 2 + 1);
    FrameTransform transform(fftSize);
    transform.levels(samples, static_cast<int64_t>(start), db.begin());
    return db;
}

Spectrogram spectrogram(const std::vector<float> &samples, int32_t sampleRate, size_t fftSize,
                        size_t hop) {
    Spectrogram result;
    result.bins = fftSize / 2 + 1;
    result.frames = samples.empty() ? 0 : (samples.size() - 1) / hop + 1;
    result.hopSeconds = static_cast<double>(hop) / sampleRate;
    result.binHz = static_cast<double>(sampleRate) / static_cast<double>(fftSize);
    result.db.resize(result.frames * result.bins);
    FrameTransform transform(fftSize);
    const int64_t half = static_cast<int64_t>(fftSize / 2);
    for (size_t f = 0; f < result.frames; ++f)
        transform.levels(samples, static_cast<int64_t>(f * hop) - half,
                         result.db.begin() + static_cast<std::ptrdiff_t>(f * result.bins));
    return result;
}

double interpolatedPeakHz(const std::vector<double> &db, size_t peak, double binHz) {
    if (peak == 0 || peak + 1 >= db.size())
        return static_cast<double>(peak) * binHz;
    // Grandke's estimator, exact for a lone sine under a Hann window: with alpha the ratio of
    // the larger neighbour's magnitude to the peak's, the sine lies (2 alpha - 1) / (alpha + 1)
    // bins from the peak towards that neighbour.
    auto magnitude = [&](size_t k) { return std::pow(10.0, db[k] / 20.0); };
    double centre = magnitude(peak);
    double below = magnitude(peak - 1);
    double above = magnitude(peak + 1);
    double side = above > below ? 1.0 : -1.0;
    double alpha = std::max(above, below) / centre;
    double offset = side * (2.0 * alpha - 1.0) / (alpha + 1.0);
    return (static_cast<double>(peak) + offset) * binHz;
}

std::vector<size_t> spectralPeaks(const std::vector<double> &db, double minimumDb,
                                  double prominenceDb, size_t reach) {
    std::vector<size_t> peaks;
    for (size_t k = 1; k + 1 < db.size(); ++k) {
        if (db[k] < minimumDb || db[k] < db[k - 1] || db[k] <= db[k + 1])
            continue;
        size_t lo = k > reach ? k - reach : 0;
        size_t hi = std::min(db.size() - 1, k + reach);
        double left = *std::min_element(db.begin() + static_cast<std::ptrdiff_t>(lo),
                                        db.begin() + static_cast<std::ptrdiff_t>(k));
        double right = *std::min_element(db.begin() + static_cast<std::ptrdiff_t>(k + 1),
                                         db.begin() + static_cast<std::ptrdiff_t>(hi + 1));
        if (db[k] - std::max(left, right) >= prominenceDb)
            peaks.push_back(k);
    }
    return peaks;
}

} // namespace tarn::render
