// The wire records at their byte offsets, read from raw memory: 32-bit offsets on the i386
// build (the host's format), the pointer-sized 64-bit ABI on the native build.
#include "se_sdk2/SEEvent.h"
#include "se_sdk2/SEModuleProperties.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/SEPinProperties.h"
#include "se_sdk2/SEProcessInfo.h"
#include "support/ProbeModule.h"
#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr bool IS_32_BIT = sizeof(void *) == 4;

// Byte offset on the 32-bit and on the 64-bit ABI.
constexpr size_t at(size_t offset32, size_t offset64) {
    return IS_32_BIT ? offset32 : offset64;
}

// Fills a zeroed record through one field with a pattern and returns the offset where the
// pattern's first byte shows up in raw memory.
template <class Record, class Field> size_t offsetSeen(Field Record::*field) {
    Record record;
    std::memset(&record, 0, sizeof record);
    std::memset(&(record.*field), 0xA7, sizeof(Field));
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
        if (bytes[i] == 0xA7) {
            return i;
        }
    }
    return sizeof record;
}

} // namespace

TEST(WireRecords, SizesMatchTheAbi) {
    EXPECT_EQ(sizeof(SEModuleRecord), at(48, 88));
    EXPECT_EQ(sizeof(SEPinProperties), at(32, 48));
    EXPECT_EQ(sizeof(SEEvent), at(24, 32));
    EXPECT_EQ(sizeof(SEProcessInfo), at(16, 24));
    EXPECT_EQ(sizeof(SEModuleProperties), at(24, 48));
}

TEST(WireRecords, FieldsSitAtTheirOffsets) {
    EXPECT_EQ(offsetSeen(&SEModuleRecord::magic), 0u);
    EXPECT_EQ(offsetSeen(&SEModuleRecord::version), 4u);
    EXPECT_EQ(offsetSeen(&SEModuleRecord::host_data), 8u);
    EXPECT_EQ(offsetSeen(&SEModuleRecord::object), at(12, 16));
    EXPECT_EQ(offsetSeen(&SEModuleRecord::reserved0), at(16, 24));
    EXPECT_EQ(offsetSeen(&SEModuleRecord::dispatch_entry), at(20, 32));
    EXPECT_EQ(offsetSeen(&SEModuleRecord::process_entry), at(24, 40));
    EXPECT_EQ(offsetSeen(&SEModuleRecord::event_entry), at(28, 48));
    EXPECT_EQ(offsetSeen(&SEModuleRecord::reserved1), at(32, 56));

    EXPECT_EQ(offsetSeen(&SEPinProperties::variable_address), 0u);
    EXPECT_EQ(offsetSeen(&SEPinProperties::direction), at(4, 8));
    EXPECT_EQ(offsetSeen(&SEPinProperties::datatype), at(8, 12));
    EXPECT_EQ(offsetSeen(&SEPinProperties::name), at(12, 16));
    EXPECT_EQ(offsetSeen(&SEPinProperties::default_value), at(16, 24));
    EXPECT_EQ(offsetSeen(&SEPinProperties::datatype_extra), at(20, 32));
    EXPECT_EQ(offsetSeen(&SEPinProperties::flags), at(24, 40));
    EXPECT_EQ(offsetSeen(&SEPinProperties::reserved), at(28, 44));

    EXPECT_EQ(offsetSeen(&SEEvent::time_stamp), 0u);
    EXPECT_EQ(offsetSeen(&SEEvent::type), 4u);
    EXPECT_EQ(offsetSeen(&SEEvent::value1), 8u);
    EXPECT_EQ(offsetSeen(&SEEvent::value2), 12u);
    EXPECT_EQ(offsetSeen(&SEEvent::pointer), 16u);
    EXPECT_EQ(offsetSeen(&SEEvent::reserved), at(20, 24));

    EXPECT_EQ(offsetSeen(&SEProcessInfo::version), 0u);
    EXPECT_EQ(offsetSeen(&SEProcessInfo::function_size), 4u);
    EXPECT_EQ(offsetSeen(&SEProcessInfo::process_function), 8u);
    EXPECT_EQ(offsetSeen(&SEProcessInfo::host_constant), at(12, 16));

    EXPECT_EQ(offsetSeen(&SEModuleProperties::id), 0u);
    EXPECT_EQ(offsetSeen(&SEModuleProperties::name), at(4, 8));
    EXPECT_EQ(offsetSeen(&SEModuleProperties::about), at(8, 16));
    EXPECT_EQ(offsetSeen(&SEModuleProperties::unnamed1), at(12, 24));
    EXPECT_EQ(offsetSeen(&SEModuleProperties::unnamed2), at(16, 32));
    EXPECT_EQ(offsetSeen(&SEModuleProperties::sdk_version), at(20, 40));
}

TEST(WireRecords, NewModuleRecordHoldsItsFieldsAndZerosElsewhere) {
    RecordingCallback host;
    ProbeModule module(&RecordingCallback::entry, intptr_t(0x5EED));
    const void *record = module.getRecord();
    const size_t P = sizeof(void *);

    EXPECT_EQ(readAt<int32_t>(record, 0), 0x25824);
    EXPECT_EQ(readAt<int32_t>(record, 4), 1);
    EXPECT_EQ(readAt<intptr_t>(record, 8), intptr_t(0x5EED));
    EXPECT_EQ(readAt<void *>(record, at(12, 16)), static_cast<SEModule_base *>(&module));
    EXPECT_NE(readAt<intptr_t>(record, at(20, 32)), 0);
    EXPECT_NE(readAt<intptr_t>(record, at(24, 40)), 0);
    EXPECT_NE(readAt<intptr_t>(record, at(28, 48)), 0);
    // The unnamed word after `object` and the four words at the end are never written.
    EXPECT_EQ(readAt<intptr_t>(record, at(16, 24)), 0);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(readAt<intptr_t>(record, at(32, 56) + i * P), 0) << "trailing word " << i;
    }
    // Constructing asks the host nothing.
    EXPECT_TRUE(host.requests().empty());
}

TEST(WireRecords, DispatchEntryAtItsOffsetServesTheRecord) {
    RecordingCallback host;
    ProbeModule module;
    SEModuleRecord *record = module.getRecord();
    const SEDispatchEntry entry = readAt<SEDispatchEntry>(record, at(20, 32));
    entry(record, MOD_NOTIFY, 3, 0, nullptr, 0.0f);
    EXPECT_EQ(module.calls, (std::vector<std::string>{"onNotify", "onNotifyIndex 3"}));
}

TEST(WireRecords, ProcessInfoHoldsItsFourWords) {
    RecordingCallback host;
    ProbeModule module;
    const intptr_t answer = dispatch(module.getRecord(), MOD_GET_PROCESS_INFO);
    const void *info = reinterpret_cast<const void *>(answer);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(readAt<int32_t>(info, 0), 1);
    EXPECT_EQ(readAt<int32_t>(info, 4), int32_t(at(8, 16)));
    const void *member = readAt<const void *>(info, 8);
    EXPECT_EQ(member, module.processFunctionMember());
    EXPECT_EQ(readAt<int32_t>(info, at(12, 16)), 1002);
    // The member's first word is the address the host calls: the record's process_entry.
    EXPECT_EQ(readAt<intptr_t>(member, 0), readAt<intptr_t>(module.getRecord(), at(24, 40)));
}

TEST(WireRecords, EventEntryReadsTheHostsEventByOffset) {
    RecordingCallback host;
    host.setClock(77);
    ProbeModule module;
    SEEvent event = SEEvent();
    writeAt<uint32_t>(&event, 0, 77);
    writeAt<int32_t>(&event, 4, EV_PIN_DATA);
    writeAt<int32_t>(&event, 8, -9);
    writeAt<int32_t>(&event, 12, 0x7FFF);
    module.getRecord()->event_entry(module.getRecord()->object, &event);
    EXPECT_EQ(module.calls, (std::vector<std::string>{"onDataEvent 77 -9 32767"}));
}
