// Patch files to pin values: every pitch form and unit conversion against the module's own
// formulas, the precedence of note values over defaults, and one error case per kind of
// mistake, each naming the file, the field and what was expected.
#include "tools/render/model/patch_parser.h"

#include "tools/render/errors.h"
#include "tools/render/model/embedded_texts.h"
#include "tools/render/model/pitch.h"
#include "tools/render/model/score_scheduler.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace tarn::render;

namespace {

std::string errorOf(const std::string &text) {
    try {
        parsePatch(text, "p.json");
    } catch (const PatchError &e) {
        return e.what();
    }
    return "(no error)";
}

TEST(PatchParser, ConvertsEveryPitchFormToTheFcValueThatPlaysIt) {
    Patch patch = parsePatch(R"({"score": [
        {"start": 0, "length": 1, "pitch": "A4"},
        {"start": 1, "length": 1, "pitch": 60},
        {"start": 2, "length": 1, "pitch": {"hz": 220}},
        {"start": 3, "length": 1, "pitch": {"volts": 3.5}},
        {"start": 4, "length": 1, "pitch": "Eb2"}]})",
                             "p.json");
    const double expectedHz[] = {440.0, 261.6255653005986, 220.0, 440.0 / std::sqrt(8.0),
                                 77.78174593052023};
    ASSERT_EQ(patch.notes.size(), 5u);
    EXPECT_EQ(patch.notes[0].fc, 0.5f);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(patch.notes[i].pitchHz, expectedHz[i], 1e-9 * expectedHz[i]) << i;
        EXPECT_NEAR(hzPlayedForFc(patch.notes[i].fc) / expectedHz[i], 1.0, 1e-6) << i;
    }
}

TEST(PatchParser, NoteValuesOverrideDefaultsWhichOverrideBuiltInValues) {
    Patch patch = parsePatch(R"({
        "settings": {"Mode": 2, "cyclic": "off", "hq": "off", "poly": "3", "alternate": "M+S alt"},
        "defaults": {"N": 12, "combphase": 0.5},
        "score": [
            {"start": 0, "length": 1, "pitch": "A4", "a": {"from": 0.2, "to": 0.9}, "N": 3},
            {"start": 1, "length": 1, "pitch": "A4", "settings": {"Mode": "1-Sided", "hq": 1}}]})",
                             "p.json");
    EXPECT_EQ(patch.settings[SETTING_MODE], 2);
    EXPECT_EQ(patch.settings[SETTING_CYCLIC], 1);
    EXPECT_EQ(patch.settings[SETTING_HQ], 0);
    EXPECT_EQ(patch.settings[SETTING_POLY], 3);
    EXPECT_EQ(patch.settings[SETTING_ALTERNATE], 3);
    const PatchNote &first = patch.notes[0];
    EXPECT_FLOAT_EQ(first.controls[CONTROL_A].from, 0.02f);
    EXPECT_FLOAT_EQ(first.controls[CONTROL_A].to, 0.09f);
    EXPECT_FLOAT_EQ(first.controls[CONTROL_N].from, 0.3f);
    EXPECT_FLOAT_EQ(first.controls[CONTROL_COMBPHASE].to, 0.05f);
    EXPECT_FLOAT_EQ(first.controls[CONTROL_FM1].from, static_cast<float>(DEFAULT_FM1_RATIO / 10));
    EXPECT_EQ(first.mode, 2);
    EXPECT_EQ(first.hq, 0);
    const PatchNote &second = patch.notes[1];
    EXPECT_FLOAT_EQ(second.controls[CONTROL_N].from, 1.2f);
    EXPECT_FLOAT_EQ(second.controls[CONTROL_A].from, static_cast<float>(DEFAULT_A_RATIO / 10));
    EXPECT_EQ(second.mode, 1);
    EXPECT_EQ(second.hq, 1);
    EXPECT_DOUBLE_EQ(patch.durationSeconds, 2.0 + DEFAULT_TAIL_SECONDS);
    EXPECT_EQ(patch.fileName, "p.json");
}

TEST(PatchParser, CombPhaseIsInHalfTurnsWithCyclicOffAndInHertzWithItOn) {
    const char *text = R"({"settings": {"cyclic": "%s"}, "score": [
        {"start": 0, "length": 1, "pitch": "A4", "combphase": 8}]})";
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, text, "on");
    Patch on = parsePatch(buffer, "p.json");
    // The module turns the comb at 40 Hz per unit of the pin.
    EXPECT_FLOAT_EQ(on.notes[0].controls[CONTROL_COMBPHASE].from * 40.0f, 8.0f);
    std::snprintf(buffer, sizeof buffer, text, "off");
    EXPECT_NE(errorOf(buffer).find("p.json: /score/0/combphase: expected a comb phase from -3 to "
                                   "3 half-turns while \"cyclic\" is off, got 8"),
              std::string::npos)
        << errorOf(buffer);
}

struct BadPatch {
    const char *text;
    const char *error; // a part of the message
};

class PatchParserErrors : public testing::TestWithParam<BadPatch> {};

TEST_P(PatchParserErrors, NameTheFileTheFieldAndWhatWasExpected) {
    std::string error = errorOf(GetParam().text);
    EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

const BadPatch BAD_PATCHES[] = {
    {"{\"score\": [}", "p.json:1:12: malformed JSON: syntax error"},
    {"{\n  \"voices\": 2,\n  \"score\" [\n", "p.json:3:11: malformed JSON"},
    {"", "p.json:1:1: malformed JSON"},
    {R"({"score": [], "voice": 2})", "p.json: /voice: unknown field \"voice\"; known fields:"},
    {R"({"score": []})", "p.json: /: expected a \"duration\" for a patch without notes"},
    {R"({})", "p.json: /: expected a \"score\" (or a MIDI file given with --midi)"},
    {R"({"score": [{"start": "0", "length": 1, "pitch": "A4"}]})",
     "p.json: /score/0/start: expected a number, got a string"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "gain": 1}]})",
     "p.json: /score/0/gain: unknown field \"gain\""},
    {R"({"score": [{"start": 0, "length": 1}]})", "p.json: /score/0/pitch: missing required"},
    {R"({"voices": 25, "score": [{"start": 0, "length": 1, "pitch": "A4"}]})",
     "p.json: /voices: expected a value of at most 24, got 25"},
    {R"({"voices": 2.5, "score": [{"start": 0, "length": 1, "pitch": "A4"}]})",
     "p.json: /voices: expected an integer, got a number"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "a": 5}]})",
     "p.json: /score/0/a: expected a value of at most 4, got 5"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "N": {"from": 1}}]})",
     "p.json: /score/0/N/to: missing required field"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": "A4", "fm1": {"from": 1, "to": 11}}]})",
     "p.json: /score/0/fm1/to: expected a value of at most 10, got 11"},
    {R"({"settings": {"Mode": "3-Sided"}, "score": [{"start": 0, "length": 1, "pitch": "A4"}]})",
     "p.json: /settings/Mode: expected one of 1, 2, \"1-Sided\", \"2-Sided\", got \"3-Sided\""},
    {R"({"settings": {"poly": 17}, "score": [{"start": 0, "length": 1, "pitch": "A4"}]})",
     "p.json: /settings/poly: expected one of 1, 2,"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": "H4"}]})",
     "p.json: /score/0/pitch: expected a note name like \"A4\""},
    {R"({"score": [{"start": 0, "length": 1, "pitch": 128}]})",
     "p.json: /score/0/pitch: expected a value of at most 127, got 128"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": {"hz": 0}}]})",
     "p.json: /score/0/pitch/hz: expected a value greater than 0, got 0"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": {"midi": 60}}]})",
     "p.json: /score/0/pitch: expected a note name like"},
    {R"({"score": [{"start": 0, "length": 1, "pitch": "G#9"}]})",
     "p.json: /score/0/pitch: expected a note from C-1 to G9, got \"G#9\""},
    {R"({"sample_rate": 8000, "score": [{"start": 0, "length": 1, "pitch": {"hz": 4500}}]})",
     "p.json: /score/0/pitch: expected a pitch below the Nyquist frequency (4000 Hz), got 4500"},
    {R"({"score": [{"start": 0, "length": 0.00001, "pitch": "A4"}]})",
     "p.json: /score/0/length: expected a length of at least one sample"},
    {R"({"duration": 1, "score": [{"start": 0.5, "length": 1, "pitch": "A4"}]})",
     "p.json: /duration: expected at least the end of the last note (1.5 s), got 1"},
};

INSTANTIATE_TEST_SUITE_P(Cases, PatchParserErrors, testing::ValuesIn(BAD_PATCHES));

TEST(PatchParser, ReportsAllSchemaProblemsAtOnceOneLineEach) {
    std::string error = errorOf(R"({"voices": 0, "score": [{"start": -1, "length": 1,
                                   "pitch": "A4", "detune": "x"}]})");
    std::istringstream lines(error);
    std::vector<std::string> pointers;
    for (std::string line; std::getline(lines, line);)
        pointers.push_back(line.substr(0, line.find(": ", 8)));
    const std::vector<std::string> expected = {"p.json: /score/0/detune", "p.json: /score/0/start",
                                               "p.json: /voices"};
    EXPECT_EQ(pointers, expected) << error;
}

TEST(PatchParser, ListsTheFirstHundredSchemaProblemsOfAFloodAndSaysItStopped) {
    std::string score;
    for (int i = 0; i < 5000; ++i)
        score += (i ? "," : "") + std::string("1");
    const std::string error = errorOf("{\"score\": [" + score + "]}");
    std::istringstream lines(error);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
        all.push_back(line);
    ASSERT_EQ(all.size(), 101u) << error.substr(0, 500);
    EXPECT_EQ(all[99].substr(0, 19), "p.json: /score/99: ");
    EXPECT_EQ(all[100], "p.json: stopped after 100 problems");
}

TEST(PatchParser, AMidiNoteEndedOnItsOwnTickPlaysOneSampleWhereverItStarts) {
    // At 480 ticks per quarter and 120 bpm a tick is 45.9375 samples, so every 8th tick starts
    // half-way between two samples.
    MidiScore midi;
    midi.fileName = "m.mid";
    for (int tick = 0; tick < 64; ++tick) {
        MidiNote note;
        note.startSeconds = tick / 960.0;
        note.number = tick + 1;
        midi.notes.push_back(note);
    }
    const Patch patch = parsePatch(R"({"voices": 24})", "p.json", &midi);
    ASSERT_EQ(patch.notes.size(), 64u);
    for (const PatchNote &note : patch.notes)
        EXPECT_EQ(sampleAt(note.startSeconds + note.lengthSeconds, patch.sampleRate),
                  sampleAt(note.startSeconds, patch.sampleRate) + 1)
            << note.pointer;
}

TEST(PatchParser, DemoPatchTheDocumentedExampleAndTheGuidePatchesAreValid) {
    Patch demo = parsePatch(DEMO_PATCH_TEXT, "demo");
    EXPECT_GE(demo.notes.size(), 4u);
    // The example is the first ```json block of the format document.
    std::ifstream doc(TARN_SOURCE_DIR "/docs/patch-format.md");
    ASSERT_TRUE(doc) << "docs/patch-format.md";
    std::stringstream text;
    text << doc.rdbuf();
    std::string all = text.str();
    size_t begin = all.find("```json\n");
    ASSERT_NE(begin, std::string::npos);
    begin += 8;
    size_t end = all.find("```", begin);
    EXPECT_NO_THROW(parsePatch(all.substr(begin, end - begin), "patch-format.md"));
    // The patches the user guide's pictures are drawn from.
    const std::string guide = TARN_SOURCE_DIR "/docs/patches";
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator(guide)) {
        if (entry.path().extension() != ".json")
            continue;
        std::ifstream file(entry.path());
        std::stringstream patch;
        patch << file.rdbuf();
        std::string name = entry.path().filename().string();
        EXPECT_NO_THROW(scheduleScore(parsePatch(patch.str(), name))) << name;
        ++count;
    }
    EXPECT_GE(count, 4);
}

} // namespace
