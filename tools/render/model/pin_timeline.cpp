// Segment lookup by binary search: fill() walks a block once, segment by segment.
#include "tools/render/model/pin_timeline.h"

#include <algorithm>

namespace tarn::render {

namespace {

float rampValue(const PinSegment &s, int64_t t) {
    if (!PinTimeline::isRamp(s))
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
    size_t i = segmentAt(t);
    return i == m_segments.size() ? 0.0f : rampValue(m_segments[i], t);
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

size_t PinTimeline::segmentAt(int64_t t) const {
    auto after = std::upper_bound(m_segments.begin(), m_segments.end(), t,
                                  [](int64_t x, const PinSegment &s) { return x < s.start; });
    if (after == m_segments.begin() || t >= m_end)
        return m_segments.size();
    return static_cast<size_t>(after - m_segments.begin()) - 1;
}

bool PinTimeline::announces(size_t i) const {
    const PinSegment &s = m_segments[i];
    if (i == 0)
        return isRamp(s) || s.from != 0.0f;
    const PinSegment &before = m_segments[i - 1];
    return isRamp(s) || isRamp(before) || s.from != before.to;
}

std::vector<PinChange> PinTimeline::changes() const {
    std::vector<PinChange> result;
    for (size_t i = 0; i < m_segments.size(); ++i)
        if (announces(i))
            result.push_back({m_segments[i].start, isRamp(m_segments[i])});
    return result;
}

} // namespace tarn::render
