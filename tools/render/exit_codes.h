// Exit codes of tarn-render, as documented in its --help text.
#pragma once

namespace tarn::render {

constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE = 1;     // bad command line
constexpr int EXIT_BAD_PATCH = 2; // unreadable file, malformed JSON or MIDI, an invalid patch,
                                  // or an output that would replace an input
constexpr int EXIT_PLUGIN = 3;    // the plug-in does not load or cannot play the patch
constexpr int EXIT_OUTPUT = 4;    // an output file cannot be written
constexpr int EXIT_PLOT = 5;      // gnuplot is missing or failed
// An interrupted run exits with 128 + the signal (interrupt_cleanup.h).

} // namespace tarn::render
