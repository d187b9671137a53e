// A fuzz input read front to back as the decoders' numbers, little-endian. Past the end every
// read gives 0, so an input of any length decodes to one well-formed stream; the corpus
// generator writes the same numbers with FuzzWriter.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

constexpr float INFINITY_F = std::numeric_limits<float>::infinity();
constexpr float NAN_F = std::numeric_limits<float>::quiet_NaN();
// The edge values of the audio inputs, as the hostile-values scenario feeds them (subnormals
// of both signs among them), then a few nominal ones. edge_floats.dict holds them as bytes.
constexpr float EDGE_FLOATS[] = {
    0.0f,         -0.0f,      0.1f,        FLT_MIN, FLT_MIN / 2.0f, 1.4e-45f, -FLT_MAX, FLT_MAX,
    -FLT_MIN / 4, INFINITY_F, -INFINITY_F, NAN_F,   3.0f,           12.5f,    1e20f,    2.2e8f,
    1.0f,         -1.0f,      0.5f,        0.05f,   2.0f,           0.2f,     0.0625f,  0.35f};
constexpr size_t EDGE_FLOAT_COUNT = sizeof EDGE_FLOATS / sizeof EDGE_FLOATS[0];
// A value() selector below this picks EDGE_FLOATS[selector % EDGE_FLOAT_COUNT]; from it on
// the next four bytes are the float's bits.
constexpr uint8_t RAW_FLOAT_SELECTOR = 0x80;

class FuzzBytes {
public:
    FuzzBytes(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    bool done() const { return m_position >= m_size; }
    size_t left() const { return done() ? 0 : m_size - m_position; }

    uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }
    uint16_t u16() {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | (byte() << 8));
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | (static_cast<uint32_t>(u16()) << 16);
    }
    float rawFloat() {
        const uint32_t bits = u32();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // An edge value or, with a selector from RAW_FLOAT_SELECTOR on, four raw bytes.
    float value() {
        const uint8_t selector = byte();
        return selector < RAW_FLOAT_SELECTOR ? EDGE_FLOATS[selector % EDGE_FLOAT_COUNT]
                                             : rawFloat();
    }
    // A number in [low, high] (low <= high) from two bytes.
    int32_t inRange(int32_t low, int32_t high) {
        const uint32_t span = static_cast<uint32_t>(high - low) + 1u;
        return low + static_cast<int32_t>(span == 0 ? u16() : u16() % span);
    }
    // An index below n (n >= 1) from one byte; n above 256 reaches only the first 256.
    size_t pick(size_t n) { return n ? byte() % n : 0; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_position = 0;
};

// The writing side, for the corpus generator: the inverse of every FuzzBytes read.
class FuzzWriter {
public:
    FuzzWriter &byte(uint8_t b) {
        m_bytes.push_back(static_cast<char>(b));
        return *this;
    }
    FuzzWriter &u16(uint16_t v) { return byte(uint8_t(v & 0xff)).byte(uint8_t(v >> 8)); }
    FuzzWriter &u32(uint32_t v) { return u16(uint16_t(v & 0xffff)).u16(uint16_t(v >> 16)); }
    FuzzWriter &rawFloat(float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return u32(bits);
    }
    // value() that reads back as f: the edge table's selector when f is in it, else raw.
    FuzzWriter &value(float f) {
        for (size_t i = 0; i < EDGE_FLOAT_COUNT; ++i) {
            if (std::memcmp(&EDGE_FLOATS[i], &f, sizeof f) == 0) {
                return byte(static_cast<uint8_t>(i));
            }
        }
        return byte(RAW_FLOAT_SELECTOR).rawFloat(f);
    }
    // inRange(low, high) that reads back as v.
    FuzzWriter &inRange(int32_t low, int32_t v) { return u16(static_cast<uint16_t>(v - low)); }
    const std::string &bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};
