// libsmf parses the file. It reports problems through GLib's log and carries on (skipping a
// chunk, truncating a track), so every message it logs while loading fails the file. To say
// where a problem lies, the chunk headers are walked (MThd, then one MTrk per track), and a
// track libsmf complains about is found by loading each track alone.
#include "tools/midi_score.h"

#include "tools/PatchError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <smf.h>
#include <sstream>

namespace tarn::render {

namespace {

constexpr size_t HEADER_BYTES = 14; // "MThd", length 6, format, tracks, division
constexpr size_t CHUNK_HEADER_BYTES = 8;
constexpr size_t MAX_FILE_BYTES = size_t{1} << 26; // 64 MiB: libsmf takes an int length

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

struct Loaded {
    smf_t *smf = nullptr;
    std::string complaints;
};

Loaded load(const std::string &bytes) {
    SmfMessages messages;
    Loaded result;
    result.smf = smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size()));
    result.complaints = messages.text();
    return result;
}

// Where the structure of the file first goes wrong, or "" when the chunks are sound.
std::string structureProblem(const std::string &bytes) {
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
        std::string alone = bytes.substr(0, HEADER_BYTES);
        alone[9] = 0;  // format 0
        alone[10] = 0; // one track
        alone[11] = 1;
        alone += bytes.substr(at, CHUNK_HEADER_BYTES + length);
        Loaded single = load(alone);
        if (single.smf)
            smf_delete(single.smf);
        if (!single.smf || !single.complaints.empty())
            return where + ": " +
                   (single.complaints.empty() ? "unreadable events" : single.complaints);
        at += CHUNK_HEADER_BYTES + length;
    }
    return "";
}

std::string readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PatchError(path + ": cannot read: " + std::strerror(errno));
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<MidiNote> notesOf(smf_t *smf, uint32_t channels) {
    std::vector<MidiNote> notes;
    std::map<std::pair<int, int>, size_t> sounding; // (channel, key) -> index into notes
    std::map<int, int> counts;                      // notes per track
    auto end = [&](int channel, int key, double at) {
        auto open = sounding.find({channel, key});
        if (open == sounding.end())
            return;
        MidiNote &note = notes[open->second];
        note.lengthSeconds = at - note.startSeconds;
        sounding.erase(open);
    };
    smf_rewind(smf);
    while (smf_event_t *event = smf_get_next_event(smf)) {
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 3)
            continue;
        const int status = event->midi_buffer[0] & 0xF0;
        const int channel = (event->midi_buffer[0] & 0x0F) + 1;
        const int key = event->midi_buffer[1] & 0x7F;
        const int velocity = event->midi_buffer[2] & 0x7F;
        if ((status != 0x80 && status != 0x90) || !(channels & (1u << (channel - 1))))
            continue;
        end(channel, key, event->time_seconds);
        if (status == 0x90 && velocity > 0) {
            MidiNote note;
            note.startSeconds = event->time_seconds;
            note.key = key;
            note.velocity = velocity;
            note.channel = channel;
            note.track = event->track_number;
            note.number = ++counts[note.track];
            sounding[{channel, key}] = notes.size();
            notes.push_back(note);
        }
    }
    const double fileEnd = smf_get_length_seconds(smf);
    for (const auto &[where, index] : sounding)
        notes[index].lengthSeconds = std::max(0.0, fileEnd - notes[index].startSeconds);
    std::stable_sort(notes.begin(), notes.end(), [](const MidiNote &x, const MidiNote &y) {
        return x.startSeconds < y.startSeconds;
    });
    return notes;
}

} // namespace

std::string describeChannels(uint32_t channels) {
    std::vector<int> list;
    for (int c = 1; c <= 16; ++c)
        if (channels & (1u << (c - 1)))
            list.push_back(c);
    std::string text = list.size() == 1 ? "channel " : "channels ";
    for (size_t i = 0; i < list.size(); ++i)
        text += (i == 0 ? "" : i + 1 == list.size() ? " and " : ", ") + std::to_string(list[i]);
    return text;
}

std::vector<MidiNote> readMidiNotes(const std::string &path, uint32_t channels) {
    const std::string bytes = readBytes(path);
    std::string problem = structureProblem(bytes);
    Loaded file;
    if (problem.empty()) {
        file = load(bytes);
        if (!file.smf || !file.complaints.empty())
            problem = file.complaints.empty() ? "unreadable" : file.complaints;
    }
    if (!problem.empty()) {
        if (file.smf)
            smf_delete(file.smf);
        throw PatchError(path + ": " + problem);
    }
    std::vector<MidiNote> notes = notesOf(file.smf, channels);
    smf_delete(file.smf);
    if (notes.empty())
        throw PatchError(path + ": expected notes on " + describeChannels(channels) +
                         ", found none");
    return notes;
}

} // namespace tarn::render
