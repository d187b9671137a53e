// Redrawn in place with a carriage return; the width is asked of the terminal at each draw,
// so a resized window is followed.
#include "tools/render/progress_bar.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace tarn::render {

namespace {
constexpr int MAX_CELLS = 40;
constexpr int MIN_CELLS = 10;
constexpr int DEFAULT_COLUMNS = 80;
constexpr auto QUIET_FOR = std::chrono::seconds(1);
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return DEFAULT_COLUMNS;
}
} // namespace

std::string progressLine(const std::string &label, double fraction, double elapsedSeconds,
                         int columns) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    char times[64];
    if (fraction > 0.0 && fraction < 1.0)
        std::snprintf(times, sizeof times, "  %3d%%  %.1f s, %.1f s left",
                      static_cast<int>(fraction * 100), elapsedSeconds,
                      elapsedSeconds * (1.0 - fraction) / fraction);
    else
        std::snprintf(times, sizeof times, "  %3d%%  %.1f s", static_cast<int>(fraction * 100),
                      elapsedSeconds);
    // One column is kept free: a full last column makes some terminals wrap.
    const int room = columns - 1 - static_cast<int>(label.size() + 3 + std::string(times).size());
    const int cells = std::min(MAX_CELLS, room);
    if (cells < MIN_CELLS)
        return (label + times).substr(0, static_cast<size_t>(std::max(0, columns - 1)));
    const int filled = static_cast<int>(fraction * cells + 0.5);
    return label + " [" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(cells - filled), '.') + "]" + times;
}

ProgressBar::ProgressBar(bool enabled, std::string label)
    : m_enabled(enabled && ::isatty(STDERR_FILENO)), m_label(std::move(label)),
      m_start(std::chrono::steady_clock::now()), m_last_draw(m_start) {}

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
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    const std::string line = progressLine(m_label, fraction, elapsed, terminalColumns());
    // "\x1b[K" clears what a longer earlier line left on the right.
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
}

} // namespace tarn::render
