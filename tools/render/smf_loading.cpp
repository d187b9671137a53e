// The chunk headers are walked (MThd, then one MTrk per track) to name a byte offset; each
// track is then loaded alone, as a format 0 file of one track, to name the track libsmf
// complains about.
#include "tools/render/smf_loading.h"

#include "tools/render/input_file.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarn::render {

namespace {

constexpr size_t HEADER_BYTES = 14; // "MThd", length 6, format, tracks, division
constexpr size_t CHUNK_HEADER_BYTES = 8;
constexpr int EXIT_COMPLAINED = 1;
// libsmf finds each next event by looking at every track (about 3 ns a look here), and reads a
// file several times over: 2^26 looks keep a file under a second. 16 tracks of 4 million
// events pass; 65535 one-event tracks (786 KB) took 124 s.
constexpr uint64_t MAX_TRACK_EVENT_VISITS = uint64_t{1} << 26;

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

// The first of `files` that libsmf complains about, and what it says.
struct Complaint {
    size_t file = 0;  // index into the files; their count when libsmf took every one
    std::string text; // "" when libsmf took every one
};

// libsmf loads `files` in turn in one child process (one fork, however many tracks), which
// writes "INDEX\n" to a pipe before each load and "#COMPLAINT" at the first complaint; a
// child that dies (libsmf's assertions) is a complaint about the file it was loading.
Complaint firstComplaint(const std::vector<std::string> &files) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {0, "cannot examine the file (no pipe)"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A crash handler inherited from the parent (libFuzzer's, a debugger's) would turn
        // libsmf's assertion into an exit status; the default action is the complaint.
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
            std::signal(signal, SIG_DFL);
        ::close(pipeEnds[0]);
        int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDERR_FILENO);
        auto send = [&](const std::string &text) {
            for (size_t sent = 0; sent < text.size();) {
                const ssize_t n = ::write(pipeEnds[1], text.data() + sent, text.size() - sent);
                if (n <= 0 && errno != EINTR)
                    ::_exit(EXIT_COMPLAINED);
                sent += n > 0 ? static_cast<size_t>(n) : 0;
            }
        };
        for (size_t i = 0; i < files.size(); ++i) {
            send(std::to_string(i) + "\n");
            SmfMessages messages;
            smf_t *smf = smf_load_from_memory(files[i].data(), static_cast<int>(files[i].size()));
            std::string text = messages.text();
            if (!smf && text.empty())
                text = "unreadable";
            if (!text.empty()) {
                send("#" + text);
                ::_exit(EXIT_COMPLAINED);
            }
            smf_delete(smf);
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string reply;
    char buffer[512];
    for (ssize_t n; pid > 0 && (n = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0)
            reply.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (pid < 0)
        return {0, "cannot examine the file (no process)"};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const size_t mark = reply.find('#');
    const std::string progress = reply.substr(0, mark);
    const size_t lastLine = progress.rfind('\n', progress.size() < 2 ? 0 : progress.size() - 2);
    const std::string index = progress.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    Complaint complaint{index.empty() ? 0 : std::stoul(index), ""};
    if (mark != std::string::npos)
        complaint.text = reply.substr(mark + 1);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {files.size(), ""};
    if (WIFSIGNALED(status) || complaint.text.empty())
        complaint.text = "libsmf stopped on it" +
                         (complaint.text.empty() ? std::string() : " (" + complaint.text + ")") +
                         "; expected events that end with an End of Track";
    return complaint;
}

std::string headerProblem(const std::string &bytes) {
    if (bytes.size() > MAX_INPUT_BYTES) // and libsmf takes an int length
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
// `problemAt` is set to the event's offset; `events` grows by the events walked.
std::string tempoProblem(const std::string &bytes, size_t at, size_t end, size_t &problemAt,
                         uint64_t &events) {
    unsigned status = 0; // running status; meta and system exclusive events cancel it
    while (at < end) {
        uint32_t delta = 0, length = 0;
        if (!readVlq(bytes, end, at, delta) || at >= end)
            return "";
        const size_t eventAt = at;
        ++events;
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
    std::vector<std::string> files; // each track alone, then the whole file
    std::vector<size_t> trackAt;
    uint64_t events = 0;
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
        const size_t first = at + CHUNK_HEADER_BYTES;
        size_t eventAt = 0;
        if (std::string problem = tempoProblem(bytes, first, first + length, eventAt, events);
            !problem.empty())
            return "byte " + std::to_string(eventAt) + ": track " + std::to_string(t) + ": " +
                   problem;
        std::string alone = bytes.substr(0, HEADER_BYTES);
        alone[9] = 0;  // format 0
        alone[10] = 0; // one track
        alone[11] = 1;
        alone += bytes.substr(at, CHUNK_HEADER_BYTES + length);
        files.push_back(std::move(alone));
        trackAt.push_back(at);
        at += CHUNK_HEADER_BYTES + length;
    }
    if (events * tracks > MAX_TRACK_EVENT_VISITS)
        return "byte 10: expected tracks times events of at most " +
               std::to_string(MAX_TRACK_EVENT_VISITS) + ", got " + std::to_string(tracks) +
               " tracks of " + std::to_string(events) + " events";
    files.push_back(bytes);
    const Complaint complaint = firstComplaint(files);
    if (complaint.file >= trackAt.size())
        return complaint.text;
    return "byte " + std::to_string(trackAt[complaint.file]) + ": track " +
           std::to_string(complaint.file + 1) + ": " + complaint.text;
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
