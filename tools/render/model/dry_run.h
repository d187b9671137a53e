// The --dry-run listing: for every note, in the order the instances start them, the instance
// that plays it, the note it steals, and what "alternate" does to its outputs. Nothing is
// rendered; the listing follows from the schedule and the module's alternation rule.
#pragma once

#include "tools/render/model/patch.h"
#include "tools/render/model/score_scheduler.h"

#include <string>

namespace tarn::render {

// What the module's "alternate" does to the n-th note started (counted from 1 over all
// instances): "swapped", "right inverted" or "left inverted" for the odd notes of the
// alternating choices, the first one included; "as is" otherwise.
const char *alternation(int16_t alternate, size_t n);

std::string dryRunReport(const Patch &patch, const Schedule &schedule);

} // namespace tarn::render
