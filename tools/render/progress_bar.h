// A progress bar on stderr, drawn only when stderr is a terminal and the render has already
// taken more than a second, so short renders and redirected output stay quiet. It fits the
// terminal's width and estimates the time left from the pace so far.
#pragma once

#include <chrono>
#include <string>

namespace tarn::render {

// "rendering [#####.....]  50%  2.0 s, 2.0 s left" in at most `columns` characters (the bar
// shrinks first; below 20 columns only the text is kept). fraction in [0, 1]; elapsed in s.
std::string progressLine(const std::string &label, double fraction, double elapsedSeconds,
                         int columns);

class ProgressBar {
public:
    // enabled: not --quiet. The terminal test is made here. label: "rendering", "measuring".
    ProgressBar(bool enabled, std::string label = "rendering");
    // Ends the bar's line if one was drawn.
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    // fraction in [0, 1]; redraws at most ten times a second.
    void update(double fraction);

private:
    bool m_enabled;
    bool m_drawn = false;
    std::string m_label;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_last_draw;
};

} // namespace tarn::render
