// The run's input files read whole, with a bound: a file such as /dev/zero must not make the
// tool read and keep without end.
#pragma once

#include <cstddef>
#include <string>

namespace tarn::render {

// Far beyond any patch written by hand or generated (a note takes about 60 bytes) or any MIDI
// file a sequencer writes.
constexpr size_t MAX_INPUT_BYTES = size_t{1} << 26; // 64 MiB

// The bytes of `path` ("-": standard input). Throws PatchError "PATH: cannot read: ..." for a
// missing or unreadable file and a directory, and when it holds more than MAX_INPUT_BYTES.
// `kind` names what was expected ("a patch file", "a MIDI file").
std::string readInputFile(const std::string &path, const char *kind);

} // namespace tarn::render
