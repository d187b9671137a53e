// Plays a scheduled patch on the plug-in through the project's host: one instance per voice,
// the list settings written before the first note, every input change sent as a status event
// at its exact sample, and the instances' outputs, each times its envelope gain, summed block
// by block.
#pragma once

#include "host/PluginLibrary.h"
#include "tools/render/model/patch.h"
#include "tools/render/model/score_scheduler.h"

#include <cstdint>
#include <functional>

namespace tarn::render {

// Receives each block of the mix: "outputl" and "outputr" of every instance, times its gain.
using BlockSink = std::function<void(const float *left, const float *right, int32_t count)>;
// Receives the fraction of the render done, after every block.
using ProgressSink = std::function<void(double fraction)>;

// Throws PluginError when the plug-in creates no instance or lacks a pin or list choice of
// the patch. The library must stay loaded for the call.
void renderPatch(const PluginLibrary &library, const Patch &patch, const Schedule &schedule,
                 const BlockSink &sink, const ProgressSink &progress = {});

// renderPatch with the mix multiplied by `scale` (the patch's gain, or --normalize's), as a
// fader after the instances would; the sink receives the scaled blocks.
void renderMix(const PluginLibrary &library, const Patch &patch, const Schedule &schedule,
               float scale, const BlockSink &sink, const ProgressSink &progress = {});

} // namespace tarn::render
