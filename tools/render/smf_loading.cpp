// The chunk headers are walked (MThd, then one MTrk per track) to name a byte offset; each
// track is then loaded alone, as a format 0 file of one track, to name the track libsmf
// complains about.
#include "tools/render/smf_loading.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarn::render {

namespace {

constexpr size_t HEADER_BYTES = 14; // "MThd", length 6, format, tracks, division
constexpr size_t CHUNK_HEADER_BYTES = 8;
constexpr size_t MAX_FILE_BYTES = size_t{1} << 26; // 64 MiB: libsmf takes an int length
constexpr int EXIT_COMPLAINED = 1;

uint32_t bigEndian(const std::string &bytes, size_t at, size_t count) {
    uint32_t x = 0;
    for (size_t i = 0; i < count; ++i)
        x = (x << 8) | static_cast<unsigned char>(bytes[at + i]);
    return x;
}

// Collects what libsmf logs between construction and destruction.
class SmfMessages {
public:
    SmfMessages() { m_previous = g_log_set_default_handler(collect, &m_text); }
    ~SmfMessages() { g_log_set_default_handler(m_previous, nullptr); }
    SmfMessages(const SmfMessages &) = delete;
    SmfMessages &operator=(const SmfMessages &) = delete;
    const std::string &text() const { return m_text; }

private:
    static void collect(const gchar *, GLogLevelFlags, const gchar *message, gpointer text) {
        std::string &all = *static_cast<std::string *>(text);
        std::string line = message;
        if (line.rfind("SMF error: ", 0) == 0 || line.rfind("SMF warning: ", 0) == 0)
            line = line.substr(line.find(": ") + 2);
        if (!line.empty() && line.back() == '.')
            line.pop_back();
        all += (all.empty() ? "" : "; ") + line;
    }
    GLogFunc m_previous;
    std::string m_text;
};

// What libsmf says about `bytes`: "" when it loads them without a word. The load runs in a
// child process, which writes the complaints to a pipe; a child that dies (libsmf's
// assertions) is a complaint of its own.
std::string complaints(const std::string &bytes) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return "cannot examine the file (no pipe)";
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A crash handler inherited from the parent (libFuzzer's, a debugger's) would turn
        // libsmf's assertion into an exit status; the default action is the complaint.
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
            std::signal(signal, SIG_DFL);
        ::close(pipeEnds[0]);
        int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDERR_FILENO);
        SmfMessages messages;
        smf_t *smf = smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size()));
        std::string text = messages.text();
        if (!smf && text.empty())
            text = "unreadable";
        ssize_t written = ::write(pipeEnds[1], text.data(), text.size());
        ::_exit(written == static_cast<ssize_t>(text.size()) && text.empty() ? 0 : EXIT_COMPLAINED);
    }
    ::close(pipeEnds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0)
            text.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    if (pid < 0)
        return "cannot examine the file (no process)";
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status) || (WEXITSTATUS(status) != 0 && text.empty()))
        return "libsmf stopped on it" + (text.empty() ? std::string() : " (" + text + ")") +
               "; expected events that end with an End of Track";
    return text;
}

std::string headerProblem(const std::string &bytes) {
    if (bytes.size() > MAX_FILE_BYTES)
        return "expected a MIDI file of at most 64 MiB, got " + std::to_string(bytes.size()) +
               " bytes";
    if (bytes.size() < HEADER_BYTES || bytes.compare(0, 4, "MThd") != 0)
        return "byte 0: expected the \"MThd\" header of a Standard MIDI File";
    if (uint32_t length = bigEndian(bytes, 4, 4); length != 6)
        return "byte 4: expected a header length of 6, got " + std::to_string(length);
    if (uint32_t format = bigEndian(bytes, 8, 2); format > 1)
        return "byte 8: expected format 0 or 1, got " + std::to_string(format);
    if (bigEndian(bytes, 12, 1) & 0x80)
        return "byte 12: expected a division in ticks per quarter note, got SMPTE frames";
    if (bigEndian(bytes, 12, 2) == 0)
        return "byte 12: expected a division of 1 or more ticks per quarter note, got 0";
    return "";
}

// Reads a variable-length quantity (at most 4 bytes) at `at`, moving `at` past it.
bool readVlq(const std::string &bytes, size_t end, size_t &at, uint32_t &x) {
    x = 0;
    for (int n = 0; n < 4 && at < end; ++n) {
        const auto b = static_cast<unsigned char>(bytes[at++]);
        x = (x << 7) | (b & 0x7F);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

// The first tempo event in the events [at, end) of one track that libsmf would ignore with
// a mere warning (a tempo of 0) or read past (a length other than 3). The walk stops, finding
// nothing, wherever the events are malformed: libsmf names those itself.
// `problemAt` is set to the event's offset.
std::string tempoProblem(const std::string &bytes, size_t at, size_t end, size_t &problemAt) {
    unsigned status = 0; // running status; meta and system exclusive events cancel it
    while (at < end) {
        uint32_t delta = 0, length = 0;
        if (!readVlq(bytes, end, at, delta) || at >= end)
            return "";
        const size_t eventAt = at;
        const auto first = static_cast<unsigned char>(bytes[at]);
        if (first == 0xFF || first == 0xF0 || first == 0xF7) {
            const bool meta = first == 0xFF;
            if (meta && at + 1 >= end)
                return "";
            const auto type = meta ? static_cast<unsigned char>(bytes[at + 1]) : 0;
            at += meta ? 2 : 1;
            if (!readVlq(bytes, end, at, length) || length > end - at)
                return "";
            problemAt = eventAt;
            if (meta && type == 0x51 && length != 3)
                return "expected a tempo of 3 bytes, got " + std::to_string(length);
            if (meta && type == 0x51 && bigEndian(bytes, at, 3) == 0)
                return "expected a tempo of 1 or more microseconds per quarter note, got 0";
            at += length;
            status = 0;
            continue;
        }
        if (first & 0x80) {
            status = first;
            ++at;
        }
        if (status == 0 || status >= 0xF0)
            return "";
        const unsigned kind = status & 0xF0;
        at += kind == 0xC0 || kind == 0xD0 ? 1 : 2; // program change, channel pressure: 1 byte
    }
    return "";
}

} // namespace

std::string smfProblem(const std::string &bytes) {
    if (std::string problem = headerProblem(bytes); !problem.empty())
        return problem;
    const uint32_t tracks = bigEndian(bytes, 10, 2);
    size_t at = HEADER_BYTES;
    for (uint32_t t = 1; t <= tracks; ++t) {
        const std::string where = "byte " + std::to_string(at) + ": track " + std::to_string(t);
        if (at + CHUNK_HEADER_BYTES > bytes.size())
            return where + ": expected an \"MTrk\" chunk, got the end of the file";
        if (bytes.compare(at, 4, "MTrk") != 0)
            return where + ": expected an \"MTrk\" chunk, got \"" + bytes.substr(at, 4) + "\"";
        const uint32_t length = bigEndian(bytes, at + 4, 4);
        if (length > bytes.size() - at - CHUNK_HEADER_BYTES)
            return where + ": expected " + std::to_string(length) + " bytes of events, got " +
                   std::to_string(bytes.size() - at - CHUNK_HEADER_BYTES);
        const size_t events = at + CHUNK_HEADER_BYTES;
        size_t eventAt = 0;
        if (std::string problem = tempoProblem(bytes, events, events + length, eventAt);
            !problem.empty())
            return "byte " + std::to_string(eventAt) + ": track " + std::to_string(t) + ": " +
                   problem;
        std::string alone = bytes.substr(0, HEADER_BYTES);
        alone[9] = 0;  // format 0
        alone[10] = 0; // one track
        alone[11] = 1;
        alone += bytes.substr(at, CHUNK_HEADER_BYTES + length);
        if (std::string problem = complaints(alone); !problem.empty())
            return where + ": " + problem;
        at += CHUNK_HEADER_BYTES + length;
    }
    return complaints(bytes);
}

smf_t *loadSmf(const std::string &bytes) {
    SmfMessages messages;
    smf_t *smf = smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size()));
    if (smf && !messages.text().empty()) {
        smf_delete(smf);
        return nullptr;
    }
    return smf;
}

} // namespace tarn::render
