// The rule that no output of a run ever replaces one of its inputs: the patch, or a file that
// looks like a patch. Other existing files may be overwritten, as Csound and sox allow.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn::render {

// Why `output` must not be written, or empty when it may: it names one of `inputs` (the same
// path, or the same file through another path or a link), or it ends in ".json".
std::optional<std::string> overwriteProblem(const std::string &output,
                                            const std::vector<std::string> &inputs);

} // namespace tarn::render
