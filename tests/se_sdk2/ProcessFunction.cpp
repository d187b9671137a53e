// ProcessFunction: equality, installing routines, and process_entry as a plain function that
// runs the member routine on the right object.
#include "se_sdk2/ProcessFunction.h"

#include "se_sdk2/SEModule_base.h"
#include "support/ProbeModule.h"
#include "support/RecordingCallback.h"
#include "support/record_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void SE_CALL routineX(void *, int32_t, int32_t) {}
void SE_CALL routineY(void *, int32_t, int32_t) {}

// SEModule_base is not the first base here, so the object address the host holds differs from
// the derived object's address; the trampoline must convert, not reinterpret.
struct Padding {
    virtual ~Padding() = default;
    double padding[3] = {};
};

class ShiftedModule : public Padding, public SEModule_base {
public:
    ShiftedModule() : SEModule_base(&RecordingCallback::entry, 0) {}
    void render(int32_t bufferOffset, int32_t sampleCount) {
        seen = {bufferOffset, sampleCount};
        seenBy = this;
    }
    std::pair<int32_t, int32_t> seen = {-1, -1};
    ShiftedModule *seenBy = nullptr;
};

void runEntry(SEModule_base &module, int32_t bufferOffset, int32_t sampleCount) {
    SEModuleRecord *record = module.getRecord();
    record->process_entry(record->object, bufferOffset, sampleCount);
}

} // namespace

TEST(ProcessFunction, EqualWhenAddressesMatchAndAdjustmentsMatchOrAddressIsNull) {
    const struct {
        ProcessFunction a, b;
        bool equal;
    } cases[] = {
        {{&routineX, 0}, {&routineX, 0}, true},  {{&routineX, 0}, {&routineX, 4}, false},
        {{&routineX, 0}, {&routineY, 0}, false}, {{nullptr, 0}, {nullptr, 8}, true},
        {{nullptr, 0}, {&routineX, 0}, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.b == c.a, c.equal);
        EXPECT_EQ(c.a != c.b, !c.equal);
    }
    EXPECT_TRUE((processFunction<ProbeModule, &ProbeModule::renderA>() ==
                 processFunction<ProbeModule, &ProbeModule::renderA>()));
    EXPECT_FALSE((processFunction<ProbeModule, &ProbeModule::renderA>() ==
                  processFunction<ProbeModule, &ProbeModule::renderB>()));
}

TEST(ProcessFunction, NewRoutineReachesTheRecordBeforeTheHostHearsOfIt) {
    RecordingCallback host;
    ProbeModule module;
    const ProcessFunction a = processFunction<ProbeModule, &ProbeModule::renderA>();
    SEProcessEntry entryWhenTold = nullptr;
    host.onRequest([&](const RecordedRequest &request) {
        if (request.opcode == HOST_PROCESS_CHANGED) {
            entryWhenTold = request.record->process_entry;
        }
    });
    module.setProcessFunction(a);
    EXPECT_EQ(host.opcodes(), std::vector<int32_t>{HOST_PROCESS_CHANGED});
    EXPECT_EQ(entryWhenTold, a.address);
    EXPECT_TRUE(module.getProcessFunction() == a);
}

TEST(ProcessFunction, InstallingTheCurrentRoutineTellsTheHostNothing) {
    RecordingCallback host;
    ProbeModule module;
    module.setProcessFunction(processFunction<ProbeModule, &ProbeModule::renderA>());
    module.setProcessFunction(processFunction<ProbeModule, &ProbeModule::renderB>());
    module.setProcessFunction(processFunction<ProbeModule, &ProbeModule::renderB>());
    module.setProcessFunction(processFunction<ProbeModule, &ProbeModule::renderA>());
    EXPECT_EQ(host.requests(HOST_PROCESS_CHANGED).size(), 3u);
}

TEST(ProcessFunction, ProcessEntryRunsTheRoutineOnItsOwnInstance) {
    RecordingCallback host;
    ProbeModule first;
    ProbeModule second;
    first.setProcessFunction(processFunction<ProbeModule, &ProbeModule::renderA>());
    second.setProcessFunction(processFunction<ProbeModule, &ProbeModule::renderB>());
    runEntry(first, 5, 7);
    runEntry(second, 0, 1024);
    EXPECT_EQ(first.calls, std::vector<std::string>{"renderA 5 7"});
    EXPECT_EQ(second.calls, std::vector<std::string>{"renderB 0 1024"});
}

TEST(ProcessFunction, ProcessEntryFindsAModuleThatIsNotTheFirstBase) {
    RecordingCallback host;
    ShiftedModule module;
    ASSERT_NE(module.getRecord()->object, static_cast<void *>(&module));
    module.setProcessFunction(processFunction<ShiftedModule, &ShiftedModule::render>());
    runEntry(module, 3, 9);
    EXPECT_EQ(module.seenBy, &module);
    EXPECT_EQ(module.seen, std::make_pair(3, 9));
}

TEST(ProcessFunction, TheInitialRoutineDoesNothing) {
    RecordingCallback host;
    ProbeModule module;
    runEntry(module, 0, 64);
    EXPECT_TRUE(module.calls.empty());
    EXPECT_TRUE(host.requests().empty());
}

TEST(ProcessFunction, WithoutCallbackTheRecordStillFollows) {
    ProbeModule module(nullptr);
    const ProcessFunction a = processFunction<ProbeModule, &ProbeModule::renderA>();
    module.setProcessFunction(a);
    EXPECT_EQ(module.getRecord()->process_entry, a.address);
}
