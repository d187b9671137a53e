// Magnitude spectra with FFTW: one Hann-windowed frame, a spectrogram of frames, and the
// frequency of a spectral peak refined between bins. Levels in dB relative to a full-scale
// sine (a sine of amplitude 1 at a bin centre reads 0 dB).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarn::render {

// fftSize / 2 + 1 levels in dB, bin k at k * sampleRate / fftSize Hz. The frame is the
// fftSize samples from `start` (zeros past the end of `samples`); -300 dB stands for zero.
std::vector<double> spectrumDb(const std::vector<float> &samples, size_t start, size_t fftSize);

struct Spectrogram {
    size_t frames = 0;     // columns
    size_t bins = 0;       // rows: fftSize / 2 + 1
    double hopSeconds = 0; // time between frame centres
    double binHz = 0;      // frequency between bins
    std::vector<float> db; // frames * bins levels, frame after frame
};

// Frames every `hop` samples, each centred on its time (the first on sample 0, zero-padded).
Spectrogram spectrogram(const std::vector<float> &samples, int32_t sampleRate, size_t fftSize,
                        size_t hop);

// Frequency of the local maximum of `db` at bin `peak`, refined between bins from the levels
// of the bin and its larger neighbour (for spectra of spectrumDb's Hann window).
double interpolatedPeakHz(const std::vector<double> &db, size_t peak, double binHz);

// Bins that are local maxima, at least `minimumDb` and at least `prominenceDb` above the
// lowest level within `reach` bins on either side; in increasing frequency.
std::vector<size_t> spectralPeaks(const std::vector<double> &db, double minimumDb,
                                  double prominenceDb, size_t reach);

} // namespace tarn::render
