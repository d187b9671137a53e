// The block loop. Segments end at the earliest pending stamp of any instance, so with several
// instances every one of them is split at every other's events: the price of one true clock.
#include "host/Host.h"

#include "se_sdk2/se_protocol.h"

#include <algorithm>

Host::Host(const PluginLibrary &library, float sampleRate, int32_t blockSize)
    : m_library(library), m_sample_rate(sampleRate), m_block_size(std::max(blockSize, 1)) {}

Host::~Host() {
    for (auto &instance : m_instances) {
        instance->close();
    }
}

HostedInstance *Host::makeInstance(int32_t index, int32_t kind) {
    std::unique_ptr<HostedInstance> instance(new HostedInstance(*this));
    if (!instance->create(m_library, index, kind)) {
        return nullptr;
    }
    m_instances.push_back(std::move(instance));
    return m_instances.back().get();
}

HostedInstance *Host::addInstance() {
    HostedInstance *instance = makeInstance(0, 1);
    if (instance) {
        instance->setSampleRate(m_sample_rate);
        instance->setBlockSize(m_block_size);
        instance->open();
    }
    return instance;
}

void Host::setSampleClock(uint32_t clock) {
    m_clock = clock;
    startBlock();
}

void Host::nextBlock() {
    if (m_position > 0) {
        startBlock();
    }
}

void Host::startBlock() {
    m_block_start = m_clock;
    m_position = 0;
    for (auto &instance : m_instances) {
        instance->startBlock();
    }
}

bool Host::process(int32_t offset, int32_t count) {
    if (offset < m_position || count < 0 || offset > m_block_size - count) {
        return false;
    }
    const int32_t end = offset + count;
    int32_t position = m_position;
    while (position < end) {
        m_clock = m_block_start + static_cast<uint32_t>(position);
        m_position = position;
        deliverDue();
        const bool skipping = position < offset;
        uint32_t segment = static_cast<uint32_t>((skipping ? offset : end) - position);
        for (auto &instance : m_instances) {
            if (instance->isOpen()) {
                segment = instance->nextEventDistance(m_clock, segment);
            }
        }
        if (!skipping) {
            const uint32_t segmentStart = m_clock;
            for (auto &instance : m_instances) {
                if (!instance->isOpen()) {
                    continue;
                }
                instance->render(position, static_cast<int32_t>(segment));
                // Events the routine posted into the samples it has just rendered.
                deliverUpTo(*instance, segmentStart + segment - 1, segmentStart + segment);
            }
        }
        position += static_cast<int32_t>(segment);
    }
    m_clock = m_block_start + static_cast<uint32_t>(end);
    m_position = end;
    if (end == m_block_size) {
        startBlock();
    }
    return true;
}

void Host::run(int32_t sampleCount) {
    while (sampleCount > 0) {
        const int32_t count = std::min(sampleCount, m_block_size - m_position);
        process(m_position, count);
        sampleCount -= count;
    }
}

void Host::deliverDue() {
    for (auto &instance : m_instances) {
        if (instance->isOpen()) {
            deliverUpTo(*instance, m_clock, m_clock);
        }
    }
}

void Host::deliverUpTo(HostedInstance &instance, uint32_t horizon, uint32_t lateBefore) {
    const uint32_t clock = m_clock;
    SEEvent event;
    for (int32_t n = 0; n < MAX_DELIVERIES && instance.isOpen() &&
                        instance.takeEvent(horizon, m_block_start, event);
         ++n) {
        if (static_cast<int32_t>(event.time_stamp - lateBefore) < 0) {
            ++instance.m_late_events;
        }
        m_clock = event.time_stamp;
        instance.deliver(event);
    }
    m_clock = clock;
}
