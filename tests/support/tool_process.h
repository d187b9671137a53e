// Fixtures for tests that run the built tarn-render: a scratch directory, a child process
// with its output captured, and WAV files read back with libsndfile. Header only, so that
// only the tool's tests pull in libsndfile.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sndfile.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace tarn::test {

// A fresh directory under /tmp, removed with everything in it (one level) at the end.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/tarn-tool-test.XXXXXX";
        m_path = ::mkdtemp(pattern) ? pattern : "";
    }
    ~ScratchDir() {
        for (const std::string &name : entries())
            ::unlink((m_path + "/" + name).c_str());
        ::rmdir(m_path.c_str());
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string path(const std::string &name) const { return m_path + "/" + name; }
    std::string write(const std::string &name, const std::string &text) const {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }
    // Names of the files in the directory, hidden ones included.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        if (DIR *dir = ::opendir(m_path.c_str())) {
            while (dirent *e = ::readdir(dir))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.insert(e->d_name);
            ::closedir(dir);
        }
        return names;
    }

private:
    std::string m_path;
};

struct ToolRun {
    int exitCode = -1; // -1 when the program could not be started or was killed
    std::string out;
    std::string err;
};

inline std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A started program: its pid, and where its stdout and stderr go.
struct StartedProgram {
    pid_t pid = 0; // 0 when it could not be started
    std::string outPath;
    std::string errPath;
};

// Starts `program` with `args`, stdin from `stdinPath`, stdout and stderr captured through
// files in `scratch`. `environment` replaces the environment when not empty.
inline StartedProgram startProgram(const std::string &program, const std::vector<std::string> &args,
                                   const ScratchDir &scratch,
                                   const std::vector<std::string> &environment = {},
                                   const std::string &stdinPath = "/dev/null") {
    StartedProgram started{0, scratch.path(".stdout"), scratch.path(".stderr")};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, started.outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, started.errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argvText = {program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = environment;
    std::vector<char *> envp;
    for (std::string &e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(),
                    environment.empty() ? environ : envp.data()) == 0)
        started.pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

// Waits for a started program and collects its output.
inline ToolRun finishProgram(const StartedProgram &started) {
    ToolRun run;
    if (started.pid != 0) {
        int status = 0;
        while (::waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    run.out = readText(started.outPath);
    run.err = readText(started.errPath);
    ::unlink(started.outPath.c_str());
    ::unlink(started.errPath.c_str());
    return run;
}

inline ToolRun runProgram(const std::string &program, const std::vector<std::string> &args,
                          const ScratchDir &scratch,
                          const std::vector<std::string> &environment = {},
                          const std::string &stdinPath = "/dev/null") {
    return finishProgram(startProgram(program, args, scratch, environment, stdinPath));
}

struct WavData {
    int sampleRate = 0;
    int channels = 0;
    int format = 0; // SF_FORMAT_* of the file (container | subtype)
    std::vector<float> left;
    std::vector<float> right;
};

// Empty channels (and channels 0) when the file cannot be read.
inline WavData readWav(const std::string &path) {
    WavData wav;
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return wav;
    wav.sampleRate = info.samplerate;
    wav.channels = info.channels;
    wav.format = info.format;
    std::vector<float> frames(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    for (sf_count_t i = 0; info.channels == 2 && i < info.frames; ++i) {
        wav.left.push_back(frames[2 * i]);
        wav.right.push_back(frames[2 * i + 1]);
    }
    return wav;
}

#ifdef TARN_RENDER_PATH
// The patch text rendered by the built tarn-render (--quiet) in a scratch folder: the WAV it
// wrote. The run must succeed.
inline WavData render(const std::string &patch) {
    ScratchDir dir;
    dir.write("p.json", patch);
    ToolRun run =
        runProgram(TARN_RENDER_PATH, {"--quiet", dir.path("p.json"), dir.path("o.wav")}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readWav(dir.path("o.wav"));
}
#endif

} // namespace tarn::test
