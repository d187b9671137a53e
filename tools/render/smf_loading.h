// Standard MIDI Files loaded with libsmf, safely and with a message that says where a file is
// malformed. libsmf logs its complaints through GLib and carries on (skipping a chunk,
// truncating a track), and on some malformed tracks it stops the process with an assertion;
// a file is therefore first loaded in a child process, and refused on any complaint.
#pragma once

// smf.h includes glib.h inside extern "C", where its C++ parts do not compile: glib first.
#include <glib.h>
#include <smf.h>
#include <string>

namespace tarn::render {

// Where `bytes` first go wrong as a Standard MIDI File of format 0 or 1 with ticks per
// quarter note, "byte 35: track 2: bad status byte (MSB is zero)", or "" when libsmf reads
// them without a complaint.
std::string smfProblem(const std::string &bytes);

// The file libsmf makes of `bytes`, which smfProblem must have found sound; the caller owns
// it (smf_delete). Null if libsmf fails anyway.
smf_t *loadSmf(const std::string &bytes);

} // namespace tarn::render
