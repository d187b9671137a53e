// Patch file to Patch: syntax, schema, the remaining range checks, and the conversion of
// designer units to pin values.
#include "tools/render/model/patch_parser.h"

#include "tools/render/errors.h"
#include "tools/render/model/embedded_texts.h"
#include "tools/render/model/json_text_check.h"
#include "tools/render/model/pin_units.h"
#include "tools/render/model/pitch.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace tarn::render {

using nlohmann::json;

namespace {

constexpr double COMBPHASE_HALF_TURNS_LIMIT = 3.0;
constexpr int16_t CYCLIC_OFF = 1;

// Collects problems found after the schema, so that one run reports them all.
class Problems {
public:
    explicit Problems(const std::string &fileName) : m_file(fileName) {}
    // Past MAX_SCHEMA_ERRORS problems only the count grows, as for the schema's.
    void add(const std::string &pointer, const std::string &message) {
        if (m_count < MAX_SCHEMA_ERRORS)
            m_text << m_file << ": " << (pointer.empty() ? "/" : pointer) << ": " << message
                   << "\n";
        else if (m_count == MAX_SCHEMA_ERRORS)
            m_text << m_file << ": stopped after " << MAX_SCHEMA_ERRORS << " problems\n";
        ++m_count;
    }
    void throwIfAny() const {
        if (m_count > 0) {
            std::string text = m_text.str();
            text.pop_back();
            throw PatchError(text);
        }
    }

private:
    std::string m_file;
    std::ostringstream m_text;
    size_t m_count = 0;
};

std::string formatNumber(double x) {
    std::ostringstream out;
    out << x;
    return out.str();
}

// "FILE:LINE:COLUMN: message" or "FILE: /pointer: message".
[[noreturn]] void throwTextProblem(const std::string &text, const std::string &fileName,
                                   const JsonTextProblem &problem) {
    if (problem.atPointer)
        throw PatchError(fileName + ": " + (problem.pointer.empty() ? "/" : problem.pointer) +
                         ": " + problem.message);
    size_t end = std::min(problem.byte, text.size());
    size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + end, '\n'));
    size_t lineStart = text.rfind('\n', end == 0 ? 0 : end - 1);
    size_t column = lineStart == std::string::npos || end == 0 ? end + 1 : end - lineStart;
    throw PatchError(fileName + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                     problem.message);
}

struct ControlValue {
    double from;
    double to;
};

ControlValue readControl(const json &value) {
    if (value.is_object())
        return {value["from"].get<double>(), value["to"].get<double>()};
    return {value.get<double>(), value.get<double>()};
}

float controlPin(int control, double x, int16_t cyclic) {
    switch (control) {
    case CONTROL_FM1:
        return fm1PinFromRatio(x);
    case CONTROL_N:
        return nPinFromCount(x);
    case CONTROL_A:
        return aPinFromRatio(x);
    case CONTROL_DETUNE:
        return detunePinFromHz(x);
    case CONTROL_COMBFREQ:
        return combfreqPinFromHalfTurns(x);
    default:
        return cyclic == CYCLIC_OFF ? combphasePinFromHalfTurns(x) : combphasePinFromHz(x);
    }
}

void checkCombphase(const json &holder, const std::string &pointer, int16_t cyclic,
                    Problems &problems) {
    if (cyclic != CYCLIC_OFF || !holder.contains("combphase"))
        return;
    ControlValue v = readControl(holder["combphase"]);
    for (double x : {v.from, v.to})
        if (std::fabs(x) > COMBPHASE_HALF_TURNS_LIMIT) {
            problems.add(appendPointer(pointer, "combphase"),
                         "expected a comb phase from -3 to 3 half-turns while \"cyclic\" is "
                         "off, got " +
                             formatNumber(x));
            return;
        }
}

// Pitch in Hz of a value that passed the schema; 0 for a note name outside the MIDI range.
double pitchHz(const json &pitch) {
    if (pitch.is_string()) {
        auto midi = midiFromNoteName(pitch.get<std::string>());
        return midi ? hzFromMidi(*midi) : 0.0;
    }
    if (pitch.is_number())
        return hzFromMidi(pitch.get<double>());
    if (pitch.contains("hz"))
        return pitch["hz"].get<double>();
    return hzFromVolts(pitch["volts"].get<double>());
}

double pitchVolts(const json &pitch) {
    if (pitch.is_object() && pitch.contains("volts"))
        return pitch["volts"].get<double>();
    return voltsFromHz(pitchHz(pitch));
}

// The value of a list setting in holder's "settings", or fallback. The schema admits exactly
// the labels and values of the list.
int16_t settingValue(const json &holder, int setting, int16_t fallback) {
    const ListSetting &list = LIST_SETTINGS[setting];
    if (!holder.contains("settings") || !holder["settings"].contains(list.name))
        return fallback;
    const json &choice = holder["settings"][list.name];
    return choice.is_string() ? *findListValue(list.listText, choice.get<std::string>())
                              : *findListValue(list.listText, choice.get<int64_t>());
}

// A note's velocity as a gain: its own, the defaults', or 1. A MIDI velocity v is v / 127.
float velocityGain(const json &entry, const json &defaults) {
    const json &holder = entry.contains("velocity") ? entry : defaults;
    if (!holder.contains("velocity"))
        return 1.0f;
    const json &v = holder["velocity"];
    return v.is_object() ? static_cast<float>(v["midi"].get<int>() / 127.0) : v.get<float>();
}

// An envelope time in seconds: the note's own, the defaults', or 0.
double envelopeSeconds(const json &entry, const json &defaults, const char *field) {
    for (const json *holder : {&entry, &defaults})
        if (holder->contains("envelope") && (*holder)["envelope"].contains(field))
            return (*holder)["envelope"][field].get<double>() / 1000.0;
    return 0.0;
}

struct ScoreEntry {
    json entry;                         // a note as the schema admits it
    std::string pointer;                // where it comes from, for messages
    const MidiNote *midiNote = nullptr; // the MIDI note it plays, if any
};

// The semitones of a channel's wheel at `seconds`: its last step at or before then, so that a
// note takes a bend sent on its own tick.
double bendAt(const std::vector<BendStep> &steps, double seconds) {
    auto after = std::upper_bound(steps.begin(), steps.end(), seconds,
                                  [](double t, const BendStep &s) { return t < s.seconds; });
    return after == steps.begin() ? 0.0 : std::prev(after)->semitones;
}

double keyVolts(int key) {
    return voltsFromHz(hzFromMidi(key));
}

// The notes to play: the MIDI file's, as score entries, in place of the patch's "score".
std::vector<ScoreEntry> scoreEntries(const json &document, const MidiScore *midi,
                                     int32_t sampleRate) {
    std::vector<ScoreEntry> entries;
    if (!midi) {
        const json score = document.value("score", json::array());
        for (size_t i = 0; i < score.size(); ++i)
            entries.push_back({score[i], "/score/" + std::to_string(i)});
        return entries;
    }
    for (const MidiNote &note : midi->notes) {
        const double bend = bendAt(midi->bends[note.channel - 1], note.startSeconds);
        // A note-off on its note-on's tick still plays one sample: up to the sample after the
        // one nearest its start, which 1 / sampleRate alone misses when the start rounds up.
        const double nextSample =
            static_cast<double>(std::llround(note.startSeconds * sampleRate) + 1) / sampleRate;
        json entry = {{"start", note.startSeconds},
                      {"length", std::max(note.lengthSeconds, nextSample - note.startSeconds)},
                      {"pitch", bend == 0.0 ? json(note.key)
                                            : json{{"volts", keyVolts(note.key) + bend / 12.0}}},
                      {"velocity", note.gain}};
        if (note.silenced)
            entry["envelope"] = {{"release_ms", 0}};
        std::ostringstream where;
        where << midi->fileName << ": track " << note.track << ", note " << note.number
              << " (channel " << note.channel << ", key " << note.key << ", at "
              << note.startSeconds << " s)";
        entries.push_back({entry, where.str(), &note});
    }
    return entries;
}

// The wheel's steps on the MIDI note's channel after its start and before the end of its
// release, as pitch pin values.
std::vector<PitchStep> pitchSteps(const MidiNote &note, const std::vector<BendStep> &bends,
                                  double endSeconds) {
    std::vector<PitchStep> steps;
    auto step = std::upper_bound(bends.begin(), bends.end(), note.startSeconds,
                                 [](double t, const BendStep &s) { return t < s.seconds; });
    for (; step != bends.end() && step->seconds < endSeconds; ++step)
        steps.push_back({step->seconds, fcFromVolts(keyVolts(note.key) + step->semitones / 12.0)});
    return steps;
}

} // namespace

double bendRangeOf(const std::string &text) {
    const json document = json::parse(text, nullptr, false);
    if (!document.is_object() || !document.contains("defaults") ||
        !document["defaults"].is_object() || !document["defaults"].contains("bend_range"))
        return midi::DEFAULT_BEND_RANGE;
    const json &range = document["defaults"]["bend_range"];
    if (!range.is_number() || !(range.get<double>() >= 0.0) ||
        range.get<double>() > midi::MAX_BEND_RANGE)
        return midi::DEFAULT_BEND_RANGE;
    return range.get<double>();
}

const JsonSchema &patchSchema() {
    static const JsonSchema schema(json::parse(PATCH_SCHEMA_TEXT));
    return schema;
}

Patch parsePatch(const std::string &text, const std::string &fileName, const MidiScore *midi) {
    if (std::optional<JsonTextProblem> problem = checkJsonText(text))
        throwTextProblem(text, fileName, *problem);
    const json document = json::parse(text);
    std::vector<SchemaError> errors = patchSchema().validate(document);
    if (!errors.empty()) {
        std::string message;
        for (const SchemaError &e : errors)
            message += (message.empty() ? "" : "\n") + fileName + ": " +
                       (e.pointer.empty() ? "/" : e.pointer) + ": " + e.message;
        if (errors.size() == MAX_SCHEMA_ERRORS)
            message += "\n" + fileName + ": stopped after " + std::to_string(MAX_SCHEMA_ERRORS) +
                       " problems";
        throw PatchError(message);
    }

    Patch patch;
    patch.fileName = fileName;
    patch.sampleRate = document.value("sample_rate", patch.sampleRate);
    patch.blockSize = document.value("block_size", patch.blockSize);
    patch.voices = document.value("voices", patch.voices);
    patch.gainDb = document.value("gain", patch.gainDb);
    for (int s = 0; s < LIST_SETTING_COUNT; ++s)
        patch.settings[s] = settingValue(document, s, LIST_SETTINGS[s].patchDefault);
    int16_t cyclic = patch.settings[SETTING_CYCLIC];

    Problems problems(fileName);
    const json defaults = document.value("defaults", json::object());
    checkCombphase(defaults, "/defaults", cyclic, problems);
    const double builtIn[CONTROL_COUNT] = {
        DEFAULT_FM1_RATIO, DEFAULT_N_COUNT, DEFAULT_A_RATIO, 0.0, 0.0, 0.0};
    const double nyquist = 0.5 * patch.sampleRate;
    double lastEnd = 0.0;
    double lastRelease = 0.0; // end of the last release
    const std::vector<ScoreEntry> score = scoreEntries(document, midi, patch.sampleRate);
    if (score.empty() && !midi && !document.contains("score"))
        problems.add("", "expected a \"score\" (or a MIDI file given with --midi)");
    if (score.empty() && !document.contains("duration"))
        problems.add("", "expected a \"duration\" for a patch without notes");
    for (const auto &[entry, pointer, midiNote] : score) {
        PatchNote note;
        note.pointer = pointer;
        note.startSeconds = entry["start"].get<double>();
        note.lengthSeconds = entry["length"].get<double>();
        lastEnd = std::max(lastEnd, note.startSeconds + note.lengthSeconds);
        long long on = std::llround(note.startSeconds * patch.sampleRate);
        long long off = std::llround((note.startSeconds + note.lengthSeconds) * patch.sampleRate);
        if (off <= on)
            problems.add(note.pointer + "/length", "expected a length of at least one sample (" +
                                                       formatNumber(1.0 / patch.sampleRate) +
                                                       " s), got " +
                                                       formatNumber(note.lengthSeconds));
        const json &pitch = entry["pitch"];
        note.pitchHz = pitchHz(pitch);
        if (note.pitchHz == 0.0)
            problems.add(note.pointer + "/pitch",
                         "expected a note from C-1 to G9, got " + pitch.dump());
        else if (note.pitchHz > nyquist)
            problems.add(note.pointer + "/pitch", "expected a pitch below the Nyquist frequency (" +
                                                      formatNumber(nyquist) + " Hz), got " +
                                                      formatNumber(note.pitchHz) + " Hz");
        note.fc = fcFromVolts(pitchVolts(pitch));
        note.mode = settingValue(entry, SETTING_MODE, patch.settings[SETTING_MODE]);
        note.hq = settingValue(entry, SETTING_HQ, patch.settings[SETTING_HQ]);
        note.gain = velocityGain(entry, defaults);
        note.attackSeconds = envelopeSeconds(entry, defaults, "attack_ms");
        note.releaseSeconds = envelopeSeconds(entry, defaults, "release_ms");
        const double releaseEnd = note.startSeconds + note.lengthSeconds + note.releaseSeconds;
        lastRelease = std::max(lastRelease, releaseEnd);
        if (midiNote)
            note.pitchSteps = pitchSteps(*midiNote, midi->bends[midiNote->channel - 1], releaseEnd);
        checkCombphase(entry, note.pointer, cyclic, problems);
        for (int c = 0; c < CONTROL_COUNT; ++c) {
            const char *name = CONTROL_NAMES[c];
            ControlValue v = entry.contains(name)      ? readControl(entry[name])
                             : defaults.contains(name) ? readControl(defaults[name])
                                                       : ControlValue{builtIn[c], builtIn[c]};
            note.controls[c] = {controlPin(c, v.from, cyclic), controlPin(c, v.to, cyclic)};
        }
        patch.notes.push_back(note);
    }
    patch.durationSeconds = lastRelease + DEFAULT_TAIL_SECONDS;
    if (document.contains("duration")) {
        patch.durationSeconds = document["duration"].get<double>();
        if (patch.durationSeconds < lastEnd)
            problems.add("/duration", "expected at least the end of the last note (" +
                                          formatNumber(lastEnd) + " s), got " +
                                          formatNumber(patch.durationSeconds));
    }
    problems.throwIfAny();
    return patch;
}

} // namespace tarn::render
