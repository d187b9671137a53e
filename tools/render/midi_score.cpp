// libsmf parses the file (smf_loading.h); this file pairs its note-ons and note-offs.
#include "tools/render/midi_score.h"

#include "tools/render/errors.h"
#include "tools/render/smf_loading.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace tarn::render {

namespace {

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
    if (std::string problem = smfProblem(bytes); !problem.empty())
        throw PatchError(path + ": " + problem);
    smf_t *smf = loadSmf(bytes);
    if (!smf)
        throw PatchError(path + ": unreadable");
    std::vector<MidiNote> notes = notesOf(smf, channels);
    smf_delete(smf);
    if (notes.empty())
        throw PatchError(path + ": expected notes on " + describeChannels(channels) +
                         ", found none");
    return notes;
}

} // namespace tarn::render
