// The rules an output must pass before a render starts: it never replaces an input, never a
// file of another kind (unless forced), never a device, and no two outputs share a file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn::render {

// What an output holds, which decides the existing files it may replace.
enum class OutputKind { SOUND, PNG };

struct PlannedOutput {
    std::string path;    // as given; "-" is standard output
    OutputKind kind;     // what is written there
    const char *role;    // "the sound file", "the spectrogram": for messages
    std::string *target; // where checkOutputs puts the file to replace, links followed
};

// Whether the first bytes of a file hold the data an output of `kind` named `path` writes:
// for a sound file, the container its extension names (RIFF, RF64 or BW64 for .wav, fLaC,
// OggS, FORM, caff, ...), for a plot a PNG signature.
bool holdsKindOf(const std::string &path, OutputKind kind, const std::string &firstBytes);

// Why the outputs must not be written, or empty when they may; sets each output's target.
// `inputs` are the run's input files (the patch, the MIDI file, the plug-in; "-" and empty
// names are skipped), compared by device and inode, so that links and other spellings count.
// An existing output is replaced only when it holds the kind of data written, or `force`;
// a symbolic link is followed and the file it names is replaced (a dangling one is refused).
std::optional<std::string> checkOutputs(std::vector<PlannedOutput> &outputs,
                                        const std::vector<std::string> &inputs, bool force);

} // namespace tarn::render
