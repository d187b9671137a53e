// Redrawn in place with a carriage return; 40 cells wide.
#include "tools/ProgressBar.h"

#include <cstdio>
#include <unistd.h>

namespace tarn::render {

namespace {
constexpr int CELLS = 40;
constexpr auto QUIET_FOR = std::chrono::seconds(1);
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);
} // namespace

ProgressBar::ProgressBar(bool enabled)
    : m_enabled(enabled && ::isatty(STDERR_FILENO)), m_start(std::chrono::steady_clock::now()),
      m_last_draw(m_start) {}

ProgressBar::~ProgressBar() {
    if (m_drawn)
        std::fputc('\n', stderr);
}

void ProgressBar::update(double fraction) {
    if (!m_enabled)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now - m_start < QUIET_FOR ||
        (m_drawn && now - m_last_draw < REDRAW_EVERY && fraction < 1.0))
        return;
    m_last_draw = now;
    m_drawn = true;
    int filled = static_cast<int>(fraction * CELLS + 0.5);
    char cells[CELLS + 1];
    for (int i = 0; i < CELLS; ++i)
        cells[i] = i < filled ? '#' : '.';
    cells[CELLS] = '\0';
    double elapsed = std::chrono::duration<double>(now - m_start).count();
    std::fprintf(stderr, "\rrendering [%s] %3d%%  %.1f s", cells, static_cast<int>(fraction * 100),
                 elapsed);
    std::fflush(stderr);
}

} // namespace tarn::render
