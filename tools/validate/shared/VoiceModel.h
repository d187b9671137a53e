// A reference model of the voice table that the oscillator's instances share, written from its
// rules alone: instances join generations of up to 24 slots in construction order, any
// destruction ends the generation, a note evicts the oldest voices while the limit is reached
// and becomes the newest, and the alternation state flips at every note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct VoicePool;

class VoiceModel {
public:
    static constexpr int16_t SLOTS = 24;

    struct Voice {
        int32_t generation; // index into generations(), in order of creation
        int16_t slot;       // 0..23
    };

    struct Generation {
        std::vector<int16_t> recency; // listed slots, newest first
        bool released[SLOTS];
        uint8_t flip;
        float sign;
        int16_t alternate_mode;
        int32_t live; // instances of the generation not yet destroyed
    };

    // An instance was constructed.
    Voice construct();
    // An instance was destroyed.
    void destroy(const Voice &voice);
    // A note starts on the voice with "poly" `limit` (below 1 counts as 1).
    void noteOn(const Voice &voice, int16_t limit);
    // The "alternate" setting `mode` reached the voice's generation.
    void setAlternateMode(const Voice &voice, int16_t mode);

    const Generation &generation(int32_t index) const { return m_generations[size_t(index)]; }

    // Compares a live record with generation `index`; writes what differs first into `why`
    // (at most `size` bytes) and answers false, or answers true.
    bool matches(int32_t index, const VoicePool &pool, char *why, size_t size) const;

private:
    std::vector<Generation> m_generations;
    int32_t m_next_slot = 0;
};
