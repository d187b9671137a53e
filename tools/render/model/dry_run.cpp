// Notes that start on the same sample are started in instance order, since the host delivers
// the events of one sample instance by instance; the alternation counts them in that order.
#include "tools/render/model/dry_run.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tarn::render {

const char *alternation(int16_t alternate, size_t n) {
    if ((alternate & 1) == 0 || n % 2 == 0)
        return "as is";
    switch (alternate >> 1) {
    case 0:
        return "swapped";
    case 1:
        return "right inverted";
    default:
        return "left inverted";
    }
}

namespace {

struct Started {
    const ScheduledNote *note;
    size_t instance;
};

std::string seconds(const Patch &patch, int64_t sample) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f s", static_cast<double>(sample) / patch.sampleRate);
    return text;
}

} // namespace

std::string dryRunReport(const Patch &patch, const Schedule &schedule) {
    std::vector<Started> started;
    for (size_t v = 0; v < schedule.instances.size(); ++v)
        for (const ScheduledNote &s : schedule.instances[v].notes)
            started.push_back({&s, v});
    std::stable_sort(started.begin(), started.end(), [](const Started &x, const Started &y) {
        return x.note->onSample != y.note->onSample ? x.note->onSample < y.note->onSample
                                                    : x.instance < y.instance;
    });
    std::string text;
    size_t steals = 0;
    for (size_t i = 0; i < started.size(); ++i) {
        const ScheduledNote &s = *started[i].note;
        const PatchNote &note = patch.notes[s.note];
        char line[160];
        std::snprintf(line, sizeof line, "%-12s at %s  %9.2f Hz  instance %2zu  %-14s",
                      note.pointer.c_str(), seconds(patch, s.onSample).c_str(), note.pitchHz,
                      started[i].instance + 1,
                      alternation(patch.settings[SETTING_ALTERNATE], i + 1));
        text += line;
        if (s.stolenNote != ScheduledNote::NO_NOTE) {
            text += "  steals " + patch.notes[s.stolenNote].pointer;
            ++steals;
        }
        text.erase(text.find_last_not_of(' ') + 1);
        text += "\n";
    }
    for (size_t n : schedule.dropped)
        text += patch.notes[n].pointer + "  dropped: every instance started a note within one "
                                         "sample of it\n";
    text += std::to_string(started.size()) + " notes on " +
            std::to_string(schedule.instances.size()) + " instances, " + std::to_string(steals) +
            " steals, " + std::to_string(schedule.dropped.size()) + " dropped; nothing rendered\n";
    return text;
}

} // namespace tarn::render
