// PNG plots of a render, drawn by gnuplot's pngcairo terminal: this code computes the spectra
// with FFTW, writes them and a script to a temporary directory and runs gnuplot on them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarn::render {

// gnuplot is missing or failed; what() says which and shows its complaint.
class PlotError : public std::runtime_error {
public:
    explicit PlotError(const std::string &message) : std::runtime_error(message) {}
};

struct StereoSignal {
    std::vector<float> left;  // "outputl"
    std::vector<float> right; // "outputr"
    int32_t sampleRate = 44100;
};

// Spectrogram of both channels, one panel each: time in s, frequency in Hz, level in dB
// (colour). Written to pngPath, which should be a temporary name the caller renames.
// Frequencies are shown from 0 to maxHz, or to half the sample rate when maxHz is 0 or more.
void plotSpectrogram(const StereoSignal &signal, double maxHz, const std::string &title,
                     const std::string &pngPath);

// Magnitude spectra of both channels in a Hann window centred at atSeconds: frequency in Hz,
// level in dB.
// level in dB, from 0 to maxHz as for plotSpectrogram.
void plotSpectrum(const StereoSignal &signal, double atSeconds, double maxHz,
                  const std::string &title, const std::string &pngPath);

// Window length in samples of plotSpectrum at a sample rate: about 0.37 s, a power of two.
size_t spectrumWindowSize(int32_t sampleRate);

} // namespace tarn::render
