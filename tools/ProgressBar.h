// A progress bar on stderr, drawn only when stderr is a terminal and the render has already
// taken more than a second, so short renders and redirected output stay quiet.
#pragma once

#include <chrono>

namespace tarn::render {

class ProgressBar {
public:
    // enabled: not --quiet. The terminal test is made here.
    explicit ProgressBar(bool enabled);
    // Ends the bar's line if one was drawn.
    ~ProgressBar();
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    // fraction in [0, 1]; redraws at most ten times a second.
    void update(double fraction);

private:
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_last_draw;
};

} // namespace tarn::render
