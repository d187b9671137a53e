// The value of one input pin over a whole render, as contiguous segments that are constant or
// linear ramps, and the stream-status changes a host announces for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarn::render {

struct PinSegment {
    int64_t start;  // first sample
    int64_t length; // samples, >= 1
    float from;     // value at start
    float to;       // value at start + length - 1; equal to from for a constant
};

// A change of stream status at a sample: the pin starts a ramp (running) or takes a new
// constant value, or a ramp ends (single change: constant from here on).
struct PinChange {
    int64_t sample;
    bool running;
};

class PinTimeline {
public:
    // Appends a segment at the end: its start is the end of the previous segment (0 for the
    // first). A zero or negative length appends nothing.
    void append(int64_t length, float from, float to);

    // Samples covered by the segments.
    int64_t length() const { return m_end; }

    // The value at sample t: 0.0 (the pins' default) where no segment covers t.
    float valueAt(int64_t t) const;

    // Writes the values of samples start .. start + count - 1 to out.
    void fill(int64_t start, int32_t count, float *out) const;

    // Index of the segment that covers sample t, or the segment count when none does.
    size_t segmentAt(int64_t t) const;

    // Whether the start of segment i is a change to announce: a ramp, the end of a ramp, or
    // a value other than the one before (0.0 before the first segment).
    bool announces(size_t i) const;

    // One change per segment start that announces(), in time order.
    std::vector<PinChange> changes() const;

    static bool isRamp(const PinSegment &s) { return s.from != s.to && s.length > 1; }

    const std::vector<PinSegment> &segments() const { return m_segments; }

private:
    std::vector<PinSegment> m_segments;
    int64_t m_end = 0;
};

} // namespace tarn::render
