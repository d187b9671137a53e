// The progress line: it fits the terminal, and its estimate of the time left follows the pace
// so far.
#include "tools/render/progress_bar.h"

#include <gtest/gtest.h>

using namespace tarn::render;

TEST(ProgressBar, LineFitsTheTerminalAndEstimatesTheTimeLeft) {
    for (int columns : {8, 20, 30, 45, 60, 80, 200}) {
        std::string line = progressLine("rendering", 0.25, 3.0, columns);
        EXPECT_LT(line.size(), static_cast<size_t>(columns)) << columns << ": " << line;
        if (columns >= 45) {
            EXPECT_NE(line.find(" 25%  3.0 s, 9.0 s left"), std::string::npos) << line;
        }
    }
    // The bar takes the room there is, up to 40 cells, a quarter of them filled.
    EXPECT_EQ(progressLine("rendering", 0.25, 3.0, 200).find("[##########......"), 10u);
    EXPECT_EQ(progressLine("rendering", 1.0, 4.0, 80).find("left"), std::string::npos);
}
