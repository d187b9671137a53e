// Loading a plug-in: through dlopen of the built shared object, and failing cleanly when the
// file is missing or does not export the two entries.
#include "host/PluginLibrary.h"

#include <gtest/gtest.h>

TEST(PluginLibrary, OpensTheBuiltPluginAndFindsBothExports) {
    PluginLibrary library(TARN_PLUGIN_PATH);
    ASSERT_TRUE(library.isLoaded()) << library.error();
    EXPECT_TRUE(library.isShared());
    EXPECT_TRUE(library.error().empty());
    SEModuleProperties properties{};
    EXPECT_EQ(library.getModuleProperties(0, &properties), 1);
}

TEST(PluginLibrary, ReportsFilesThatAreNotPlugins) {
    for (const char *path : {"/nonexistent/tarn.so", "libm.so.6"}) {
        PluginLibrary library(path);
        EXPECT_FALSE(library.isLoaded()) << path;
        EXPECT_FALSE(library.isShared()) << path;
        EXPECT_FALSE(library.error().empty()) << path;
        EXPECT_EQ(library.makeModule(0, 1, nullptr, 0), nullptr);
        EXPECT_EQ(library.getModuleProperties(0, nullptr), 0);
    }
    PluginLibrary halfLinked(nullptr, nullptr);
    EXPECT_FALSE(halfLinked.isLoaded());
}
