// tarn-validate-tally: runs one validator command (or reads the saved output of one), passes
// every line through, and holds the whole to a CI leg's limits. Exit status 0 when the run
// meets them, 1 when it does not, 2 for a usage error.
#include "tools/validate/tally.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void usage() {
    std::fprintf(stderr, "usage: tarn-validate-tally [--min-calls N] [--min-scenarios N]\n"
                         "                           (--log FILE | -- COMMAND [ARGS...])\n"
                         "  --min-calls N      calls into the module summed over the result lines\n"
                         "  --min-scenarios N  result lines at least (default 1)\n"
                         "  --log FILE         the saved output of a run ('-' for stdin)\n"
                         "  -- COMMAND         the run itself: stdout and stderr both read\n");
}

bool readCount(const char *text, uint64_t &out) {
    char *end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 10);
    return text[0] >= '0' && text[0] <= '9' && errno == 0 && *end == 0;
}

// Every line of `in` through the tally and on to stdout.
void readAll(FILE *in, Tally &tally) {
    char *line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, in) >= 0) {
        std::fputs(line, stdout);
        std::fflush(stdout); // a long run shows its progress
        tally.read(line);
    }
    std::free(line);
    std::fflush(stdout);
}

// Runs `argv` with its stdout and stderr into a pipe; answers its exit status (128 + signal
// when a signal ended it, 127 when it could not start).
int runCommand(char **argv, Tally &tally) {
    int channel[2];
    if (pipe(channel) != 0) {
        return 127;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        dup2(channel[1], 1);
        dup2(channel[1], 2);
        close(channel[0]);
        close(channel[1]);
        execvp(argv[0], argv);
        std::fprintf(stderr, "tarn-validate-tally: cannot run %s: %s\n", argv[0],
                     std::strerror(errno));
        _exit(127);
    }
    close(channel[1]);
    if (child < 0) {
        close(channel[0]);
        return 127;
    }
    FILE *in = fdopen(channel[0], "r");
    readAll(in, tally);
    std::fclose(in);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char **argv) {
    TallyLimits limits;
    const char *log = nullptr;
    int command = -1;
    for (int i = 1; i < argc && command < 0; ++i) {
        const std::string arg = argv[i];
        uint64_t n = 0;
        if (arg == "--") {
            command = i + 1;
        } else if (i + 1 >= argc) {
            usage();
            return 2;
        } else if (arg == "--min-calls" && readCount(argv[i + 1], n)) {
            limits.min_calls = n;
            ++i;
        } else if (arg == "--min-scenarios" && readCount(argv[i + 1], n) && n <= UINT32_MAX) {
            limits.min_scenarios = static_cast<uint32_t>(n);
            ++i;
        } else if (arg == "--log") {
            log = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    if ((log != nullptr) == (command >= 0) || (command >= 0 && command >= argc)) {
        usage();
        return 2;
    }
    Tally tally;
    int exitStatus = 0;
    if (log) {
        FILE *in = std::strcmp(log, "-") == 0 ? stdin : std::fopen(log, "r");
        if (!in) {
            std::fprintf(stderr, "tarn-validate-tally: cannot read %s\n", log);
            return 2;
        }
        readAll(in, tally);
        if (in != stdin) {
            std::fclose(in);
        }
    } else {
        exitStatus = runCommand(argv + command, tally);
    }
    tally.finish(limits, exitStatus);
    for (const std::string &problem : tally.problems) {
        std::printf("PROBLEM %s\n", problem.c_str());
    }
    std::printf("%s\n", tally.summary().c_str());
    return tally.clean() ? 0 : 1;
}
