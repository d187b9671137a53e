// libsmf parses the file (smf_loading.h); note_events turns its messages into the starts and
// ends of notes and the steps of each channel's wheel.
#include "tools/render/midi_score.h"

#include "tools/render/errors.h"
#include "tools/render/input_file.h"
#include "tools/render/smf_loading.h"

#include <algorithm>
#include <map>
#include <set>

namespace tarn::render {

namespace {

// "1", "1 and 7", "1, 7 and 10".
std::string joined(const std::vector<int> &numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i)
        text += (i == 0                    ? ""
                 : i + 1 == numbers.size() ? " and "
                                           : ", ") +
                std::to_string(numbers[i]);
    return text;
}

// "dropped 3 control change events (controllers 1 and 7; not played)".
std::string droppedLine(midi::MessageUse use, size_t count, const std::set<int> &controllers) {
    std::string line = "dropped " + std::to_string(count) + " " + midi::droppedKindName(use) +
                       (count == 1 ? " event (" : " events (");
    if (use == midi::MessageUse::ControlChange)
        line += (controllers.size() == 1 ? "controller " : "controllers ") +
                joined({controllers.begin(), controllers.end()}) + "; ";
    return line + "not played)";
}

MidiScore scoreOf(smf_t *smf, uint32_t channels, double bendRange) {
    MidiScore score;
    std::vector<MidiNote> &notes = score.notes;
    std::map<std::pair<int, int>, size_t> sounding; // (channel, key) -> index into notes
    std::map<int, int> counts;                      // notes per track
    auto end = [&](int channel, int key, double at, bool silenced) {
        auto open = sounding.find({channel, key});
        if (open == sounding.end())
            return;
        MidiNote &note = notes[open->second];
        note.lengthSeconds = at - note.startSeconds;
        note.silenced = silenced;
        sounding.erase(open);
    };
    midi::NoteEvents events;
    midi::NoteActions actions;
    events.setChannels(channels);
    events.setBendRange(bendRange, actions);
    std::map<midi::MessageUse, size_t> dropped;
    std::set<int> controllers; // of the control changes dropped
    smf_rewind(smf);
    while (smf_event_t *event = smf_get_next_event(smf)) {
        if (smf_event_is_metadata(event))
            continue;
        const double at = event->time_seconds;
        const midi::MessageUse use = events.handle(
            event->midi_buffer, static_cast<uint32_t>(event->midi_buffer_length), actions);
        if (*midi::droppedKindName(use) != '\0') {
            ++dropped[use];
            if (use == midi::MessageUse::ControlChange)
                controllers.insert(event->midi_buffer[1]);
        }
        for (int a = 0; a < actions.count; ++a) {
            const midi::NoteAction &action = actions.items[a];
            const int channel = action.channel + 1;
            switch (action.kind) {
            case midi::ActionKind::StartNote: {
                end(channel, action.key, at, false); // a retrigger ends the sounding note here
                MidiNote note;
                note.startSeconds = at;
                note.key = action.key;
                note.gain = action.gain;
                note.channel = channel;
                note.track = event->track_number;
                note.number = ++counts[note.track];
                sounding[{channel, note.key}] = notes.size();
                notes.push_back(note);
                break;
            }
            case midi::ActionKind::ReleaseNote:
                end(channel, action.key, at, false);
                break;
            case midi::ActionKind::SilenceChannel:
                for (int key = 0; key < midi::KEY_COUNT; ++key)
                    end(channel, key, at, true);
                break;
            case midi::ActionKind::SetBend:
                score.bends[action.channel].push_back({at, action.bendSemitones});
                break;
            }
        }
    }
    const double fileEnd = smf_get_length_seconds(smf);
    for (const auto &[where, index] : sounding)
        notes[index].lengthSeconds = std::max(0.0, fileEnd - notes[index].startSeconds);
    std::stable_sort(notes.begin(), notes.end(), [](const MidiNote &x, const MidiNote &y) {
        return x.startSeconds < y.startSeconds;
    });
    for (const auto &[use, count] : dropped)
        score.dropped.push_back(droppedLine(use, count, controllers));
    return score;
}

} // namespace

std::string describeChannels(uint32_t channels) {
    std::vector<int> list;
    for (int c = 1; c <= 16; ++c)
        if (channels & (1u << (c - 1)))
            list.push_back(c);
    return (list.size() == 1 ? "channel " : "channels ") + joined(list);
}

MidiScore readMidiScore(const std::string &path, uint32_t channels, double bendRange) {
    return midiScoreOf(readInputFile(path, "a MIDI file"), path, channels, bendRange);
}

MidiScore midiScoreOf(const std::string &bytes, const std::string &path, uint32_t channels,
                      double bendRange) {
    if (std::string problem = smfProblem(bytes); !problem.empty())
        throw PatchError(path + ": " + problem);
    smf_t *smf = loadSmf(bytes);
    if (!smf)
        throw PatchError(path + ": unreadable");
    MidiScore score = scoreOf(smf, channels, bendRange);
    smf_delete(smf);
    score.fileName = path;
    if (score.notes.empty())
        throw PatchError(path + ": expected notes on " + describeChannels(channels) +
                         ", found none");
    return score;
}

} // namespace tarn::render
