// Segment lookup by binary search: fill() walks a block once, segment by segment.
#include "tools/PinTimeline.h"

#include <algorithm>

namespace tarn::render {

namespace {

bool isRamp(const PinSegment &s) {
    return s.from != s.to && s.length > 1;
}

float rampValue(const PinSegment &s, int64_t t) {
    if (!isRamp(s))
        return s.from;
    // Both ends are hit exactly: the last sample of the segment is "to".
    double u = static_cast<double>(t - s.start) / static_cast<double>(s.length - 1);
    return static_cast<float>(s.from + (static_cast<double>(s.to) - s.from) * u);
}

} // namespace

void PinTimeline::append(int64_t length, float from, float to) {
    if (length <= 0)
        return;
    m_segments.push_back({m_end, length, from, to});
    m_end += length;
}

float PinTimeline::valueAt(int64_t t) const {
    auto after = std::upper_bound(m_segments.begin(), m_segments.end(), t,
                                  [](int64_t x, const PinSegment &s) { return x < s.start; });
    if (after == m_segments.begin() || t >= m_end)
        return 0.0f;
    return rampValue(*(after - 1), t);
}

void PinTimeline::fill(int64_t start, int32_t count, float *out) const {
    auto segment = std::upper_bound(m_segments.begin(), m_segments.end(), start,
                                    [](int64_t x, const PinSegment &s) { return x < s.start; });
    if (segment != m_segments.begin())
        --segment;
    for (int32_t i = 0; i < count; ++i) {
        int64_t t = start + i;
        while (segment != m_segments.end() && t >= segment->start + segment->length)
            ++segment;
        out[i] =
            (segment == m_segments.end() || t < segment->start) ? 0.0f : rampValue(*segment, t);
    }
}

std::vector<PinChange> PinTimeline::changes() const {
    std::vector<PinChange> result;
    float previousValue = 0.0f;
    bool previousRamp = false;
    for (const PinSegment &s : m_segments) {
        bool ramp = isRamp(s);
        if (ramp || previousRamp || s.from != previousValue)
            result.push_back({s.start, ramp});
        previousValue = s.to;
        previousRamp = ramp;
    }
    return result;
}

} // namespace tarn::render
