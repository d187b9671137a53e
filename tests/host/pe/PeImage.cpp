// The PE loader on the probe DLLs of the Windows tree: relocation, the two import conventions,
// the stack alignment of a call into the image, DllMain at load and unload, a missing import
// and a damaged file reported, _assert reaching the host, from the probe and from tarn.dll.
#include "host/pe/PeImage.h"
#include "host/pe/windows_imports.h"
#include "se_sdk2/SEModuleRecord.h"
#include "se_sdk2/se_protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string probe(const char *name) { return std::string(TARN_PE_PROBE_DIR) + "/" + name; }

uint32_t callExport(const PeImage &image, const char *name,
                    std::initializer_list<uint32_t> args = {}) {
    const void *function = image.findExport(name);
    EXPECT_NE(function, nullptr) << name;
    return function ? image.call(function, args) : 0;
}

struct Report {
    std::string message, file;
    unsigned line = 0;
};
Report lastReport;

void recordAssert(const char *message, const char *file, unsigned line) {
    lastReport = {message, file, line};
}

} // namespace

TEST(PeImage, LoadsAwayFromItsPreferredBaseAndAppliesItsRelocations) {
    PeImage image(probe("probe.dll"));
    ASSERT_TRUE(image.isLoaded()) << image.error();
    EXPECT_NE(image.base(), image.preferredBase());
    const void *value = image.findExport("probe_value");
    const void *pointer = image.findExport("probe_pointer");
    ASSERT_NE(value, nullptr);
    ASSERT_NE(pointer, nullptr);
    EXPECT_EQ(*static_cast<const void *const *>(pointer), value);
    EXPECT_EQ(callExport(image, "probe_read_through_pointer"), 42u);
    EXPECT_EQ(image.findExport("no_such_export"), nullptr);
}

TEST(PeImage, BindsKernel32AsStdcallAndMsvcrtAsCdecl) {
    PeImage image(probe("probe.dll"));
    ASSERT_TRUE(image.isLoaded()) << image.error();
    EXPECT_EQ(callExport(image, "probe_stdcall_pops"), 4u) << "SetLastError pops its argument";
    EXPECT_EQ(callExport(image, "probe_cdecl_pops"), 0u) << "strlen leaves it to the caller";
    for (uint32_t value : {0u, 1234u, 0xFFFFFFFFu}) {
        EXPECT_EQ(callExport(image, "probe_last_error_round_trip", {value}), value);
    }
}

TEST(PeImage, CallsArriveWithTheStackAtFourModSixteen) {
    PeImage image(probe("probe.dll"));
    ASSERT_TRUE(image.isLoaded()) << image.error();
    EXPECT_EQ(callExport(image, "probe_caller_stack_mod16"), 4u);
}

TEST(PeImage, RunsDllMainAtLoadAndUnloadAndReportsARefusedAttach) {
    int32_t detached = 0;
    {
        PeImage image(probe("probe.dll"));
        ASSERT_TRUE(image.isLoaded()) << image.error();
        EXPECT_EQ(*static_cast<const int32_t *>(image.findExport("probe_attach_count")), 1);
        callExport(image, "probe_watch_detach", {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&detached))});
        EXPECT_EQ(detached, 0);
    }
    EXPECT_EQ(detached, 1);

    PeImage refusing(probe("probe_refuses.dll"));
    EXPECT_FALSE(refusing.isLoaded());
    EXPECT_NE(refusing.error().find("refused DLL_PROCESS_ATTACH"), std::string::npos)
        << refusing.error();
    EXPECT_EQ(PeImage::first(), nullptr) << "a failed load leaves nothing mapped";
}

TEST(PeImage, NamesTheMissingImportAndDamagedFiles) {
    PeImage missing(probe("probe_missing.dll"));
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_NE(missing.error().find("KERNEL32.dll!Beep"), std::string::npos) << missing.error();

    // Every truncation of the file fails to load, with a message, and never crashes.
    std::ifstream in(probe("probe.dll"), std::ios::binary);
    const std::vector<char> whole((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    ASSERT_GT(whole.size(), 4096u);
    const std::string cut = testing::TempDir() + "/truncated-" + std::to_string(getpid()) + ".dll";
    for (size_t length : {size_t{0}, size_t{2}, size_t{63}, size_t{64}, size_t{200}, size_t{400},
                          size_t{1024}, whole.size() / 4, whole.size() / 2}) {
        std::ofstream(cut, std::ios::binary).write(whole.data(), static_cast<std::streamsize>(length));
        PeImage truncated(cut);
        EXPECT_FALSE(truncated.isLoaded()) << length;
        EXPECT_FALSE(truncated.error().empty()) << length;
    }
    std::remove(cut.c_str());
    EXPECT_EQ(PeImage::first(), nullptr);
}

TEST(PeImage, AssertReachesTheHostsHandler) {
    PeImage image(probe("probe.dll"));
    ASSERT_TRUE(image.isLoaded()) << image.error();
    const WindowsAssertHandler previous = setWindowsAssertHandler(&recordAssert);
    callExport(image, "probe_assert");
    setWindowsAssertHandler(previous);
    EXPECT_EQ(lastReport.message, "probe expression");
    EXPECT_EQ(lastReport.file, "pe_probe_dll.c");
    EXPECT_EQ(lastReport.line, 77u);
}

TEST(PeImage, TarnDllReportsAContractBreachThroughTheCrtAssert) {
    PeImage image(TARN_WIN32_DLL_PATH);
    ASSERT_TRUE(image.isLoaded()) << image.error();
    const auto word = [](const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    SEModuleRecord *record =
        reinterpret_cast<SEModuleRecord *>(callExport(image, "makeModule", {0, 1, 0, 0}));
    ASSERT_NE(record, nullptr);
    lastReport = {};
    const WindowsAssertHandler previous = setWindowsAssertHandler(&recordAssert);
    // Opcode 7 is no request of this protocol: the dispatcher reports a breach and answers 0.
    const uint32_t answer = image.call(reinterpret_cast<const void *>(record->dispatch_entry),
                                       {word(record), 7, 0, 0, 0, 0});
    setWindowsAssertHandler(previous);
    EXPECT_EQ(answer, 0u);
    EXPECT_EQ(lastReport.message, "false");
    EXPECT_EQ(lastReport.file, "se_sdk2/SEModule_base");
    EXPECT_EQ(image.call(reinterpret_cast<const void *>(record->dispatch_entry),
                         {word(record), static_cast<uint32_t>(MOD_CLOSE), 0, 0, 0, 0}),
              1u);
}

TEST(PeImage, TarnDllMakesNothingAndKeepsNothingWhenMemoryRunsOut) {
    PeImage image(TARN_WIN32_DLL_PATH);
    ASSERT_TRUE(image.isLoaded()) << image.error();
    const auto make = [&] {
        return reinterpret_cast<SEModuleRecord *>(callExport(image, "makeModule", {0, 1, 0, 0}));
    };
    const auto close = [&](SEModuleRecord *record) {
        return image.call(reinterpret_cast<const void *>(record->dispatch_entry),
                          {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)),
                           static_cast<uint32_t>(MOD_CLOSE), 0, 0, 0, 0});
    };
    // The first instance of a generation allocates itself, then the shared voice table: a
    // budget of 0 refuses the instance (operator new throws inside the DLL, nothrow new
    // catches it), 1 refuses the table. Either way nothing is made and nothing is kept.
    int refused = 0;
    for (long budget = 0; budget < 4; ++budget) {
        const long before = windowsLiveAllocations();
        setWindowsAllocationBudget(budget);
        SEModuleRecord *record = make();
        setWindowsAllocationBudget(-1);
        if (record == nullptr) {
            ++refused;
            EXPECT_EQ(windowsLiveAllocations(), before) << "budget " << budget;
        } else {
            EXPECT_EQ(close(record), 1u);
        }
    }
    EXPECT_EQ(refused, 2) << "the instance and the table are the generation's two allocations";
    SEModuleRecord *record = make();
    ASSERT_NE(record, nullptr) << "memory back: instances again";
    EXPECT_EQ(close(record), 1u);
}
