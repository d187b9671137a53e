// gnuplot runs as a child process with a generated script; its output goes to a log file that
// is shown when it fails. The spectrogram is written as a float32 array image, pooled to at
// most 1000 frames and 512 frequency rows so that plotting stays well under a second.
#include "tools/render/plots.h"

#include "tools/render/interrupt_cleanup.h"
#include "tools/render/spectrum.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tarn::render {

namespace {

constexpr size_t MAX_FRAMES = 1000;
constexpr size_t MAX_ROWS = 512;
constexpr double FLOOR_DB = -120.0;

// A directory under $TMPDIR (or /tmp) removed with its files at the end of the scope.
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char *base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarn-render.XXXXXX";
        std::vector<char> path(pattern.begin(), pattern.end());
        path.push_back('\0');
        if (!::mkdtemp(path.data()))
            throw PlotError("cannot create a temporary directory for gnuplot: " +
                            std::string(std::strerror(errno)));
        m_path = path.data();
        m_cleanups.push_back(std::make_unique<InterruptCleanup>(m_path, true));
    }
    ~ScratchDirectory() {
        for (const std::string &file : m_files)
            ::unlink(file.c_str());
        ::rmdir(m_path.c_str());
    }
    ScratchDirectory(const ScratchDirectory &) = delete;
    ScratchDirectory &operator=(const ScratchDirectory &) = delete;

    std::string file(const std::string &name) {
        m_files.push_back(m_path + "/" + name);
        m_cleanups.push_back(std::make_unique<InterruptCleanup>(m_files.back(), false));
        return m_files.back();
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
    std::vector<std::unique_ptr<InterruptCleanup>> m_cleanups;
};

// gnuplot's single-quoted strings: only the quote itself needs doubling.
std::string quoted(const std::string &text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("''") : std::string(1, c);
    return result + "'";
}

void runGnuplot(ScratchDirectory &scratch, const std::string &script) {
    std::string scriptPath = scratch.file("plot.gp");
    std::string logPath = scratch.file("gnuplot.log");
    {
        std::ofstream out(scriptPath);
        out << script;
        if (!out)
            throw PlotError("cannot write the gnuplot script " + scriptPath);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::string program = "gnuplot";
    char *argv[] = {program.data(), scriptPath.data(), nullptr};
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0)
        setInterruptChild(pid);
    if (spawned != 0)
        throw PlotError("cannot run gnuplot (" + std::string(std::strerror(spawned)) +
                        "); install it with: apt-get install gnuplot-nox");
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    setInterruptChild(0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    std::ifstream log(logPath);
    std::stringstream complaint;
    complaint << log.rdbuf();
    throw PlotError("gnuplot failed" +
                    (WIFEXITED(status) ? " with exit status " + std::to_string(WEXITSTATUS(status))
                                       : std::string(" (killed by a signal)")) +
                    ":\n" + complaint.str());
}

double shownTopHz(int32_t sampleRate, double maxHz) {
    const double nyquist = 0.5 * sampleRate;
    return maxHz > 0.0 && maxHz < nyquist ? maxHz : nyquist;
}

size_t powerOfTwoAtLeast(double x) {
    size_t n = 1;
    while (static_cast<double>(n) < x)
        n *= 2;
    return n;
}

struct ImageGrid {
    size_t columns = 0;   // frames
    size_t rows = 0;      // frequency rows
    double dxSeconds = 0; // between frame centres
    double dyHz = 0;      // between row centres
};

// The spectrogram as rows of frequency (pooled by their maximum) and columns of time,
// row after row as gnuplot's "binary array" expects.
ImageGrid writeSpectrogram(const std::vector<float> &samples, int32_t sampleRate,
                           const std::string &path) {
    size_t fftSize = powerOfTwoAtLeast(sampleRate / 22.0);
    size_t hop = std::max(fftSize / 8, (samples.size() + MAX_FRAMES - 1) / MAX_FRAMES);
    Spectrogram s = spectrogram(samples, sampleRate, fftSize, hop);
    size_t pool = (s.bins + MAX_ROWS - 1) / MAX_ROWS;
    ImageGrid grid;
    grid.columns = std::max<size_t>(s.frames, 1);
    grid.rows = (s.bins + pool - 1) / pool;
    grid.dxSeconds = s.hopSeconds;
    grid.dyHz = s.binHz * static_cast<double>(pool);
    const size_t columns = grid.columns;
    std::vector<float> image(grid.rows * columns, static_cast<float>(FLOOR_DB));
    for (size_t f = 0; f < s.frames; ++f)
        for (size_t k = 0; k < s.bins; ++k) {
            float &cell = image[(k / pool) * columns + f];
            cell = std::max(cell, s.db[f * s.bins + k]);
        }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(image.data()),
              static_cast<std::streamsize>(image.size() * sizeof(float)));
    if (!out)
        throw PlotError("cannot write gnuplot data " + path);
    return grid;
}

} // namespace

size_t spectrumWindowSize(int32_t sampleRate) {
    return powerOfTwoAtLeast(sampleRate * 0.37);
}

void plotSpectrogram(const StereoSignal &signal, double maxHz, const std::string &title,
                     const std::string &pngPath) {
    ScratchDirectory scratch;
    const double seconds = static_cast<double>(signal.left.size()) / signal.sampleRate;
    const double top = shownTopHz(signal.sampleRate, maxHz);
    std::ostringstream script;
    script << "set terminal pngcairo size 1400,1000 font 'sans,11'\n"
           << "set output " << quoted(pngPath) << "\n"
           << "set multiplot layout 2,1 title " << quoted(title) << "\n"
           << "set xlabel 'time (s)'\nset ylabel 'frequency (Hz)'\nset cblabel 'level (dB)'\n"
           << "set xrange [0:" << seconds << "]\nset yrange [0:" << top << "]\n"
           << "set cbrange [" << FLOOR_DB << ":0]\n"
           << "set palette defined (0 'black', 1 '#20206a', 2 '#b0207a', 3 '#ff8020', "
              "4 '#ffff80', 5 'white')\n";
    const std::pair<const std::vector<float> *, const char *> channels[] = {
        {&signal.left, "outputl (left channel)"}, {&signal.right, "outputr (right channel)"}};
    for (const auto &[samples, name] : channels) {
        std::string data = scratch.file(std::string(name).substr(0, 7) + ".f32");
        ImageGrid grid = writeSpectrogram(*samples, signal.sampleRate, data);
        script << "set title " << quoted(name) << "\n"
               << "plot " << quoted(data) << " binary array=(" << grid.columns << "," << grid.rows
               << ") format='%float32' origin=(0,0) dx=" << grid.dxSeconds << " dy=" << grid.dyHz
               << " with image notitle\n";
    }
    script << "unset multiplot\n";
    runGnuplot(scratch, script.str());
}

void plotSpectrum(const StereoSignal &signal, double atSeconds, double maxHz,
                  const std::string &title, const std::string &pngPath) {
    ScratchDirectory scratch;
    size_t fftSize = spectrumWindowSize(signal.sampleRate);
    int64_t centre = static_cast<int64_t>(std::llround(atSeconds * signal.sampleRate));
    size_t start =
        static_cast<size_t>(std::max<int64_t>(0, centre - static_cast<int64_t>(fftSize / 2)));
    std::vector<double> left = spectrumDb(signal.left, start, fftSize);
    std::vector<double> right = spectrumDb(signal.right, start, fftSize);
    std::string data = scratch.file("spectrum.txt");
    {
        std::ofstream out(data);
        double binHz = static_cast<double>(signal.sampleRate) / static_cast<double>(fftSize);
        for (size_t k = 0; k < left.size(); ++k)
            out << k * binHz << ' ' << std::max(left[k], FLOOR_DB - 20) << ' '
                << std::max(right[k], FLOOR_DB - 20) << '\n';
        if (!out)
            throw PlotError("cannot write gnuplot data " + data);
    }
    std::ostringstream script;
    script << "set terminal pngcairo size 1400,700 font 'sans,11'\n"
           << "set output " << quoted(pngPath) << "\n"
           << "set title " << quoted(title) << "\n"
           << "set xlabel 'frequency (Hz)'\nset ylabel 'level (dB)'\n"
           << "set xrange [0:" << shownTopHz(signal.sampleRate, maxHz) << "]\nset yrange ["
           << FLOOR_DB << ":6]\nset grid\nset key top right\n"
           << "plot " << quoted(data) << " using 1:2 with lines lw 1.2 lc rgb '#1060c0' title "
           << "'outputl (left)', '' using 1:3 with lines lw 1.2 lc rgb '#d04010' title "
           << "'outputr (right)'\n";
    runGnuplot(scratch, script.str());
}

} // namespace tarn::render
