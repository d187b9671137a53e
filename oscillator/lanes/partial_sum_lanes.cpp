// Which lane pass serves a unit, path and mode.
#include "oscillator/lanes/partial_sum_lanes.h"

bool lanePassTable(VectorUnit unit, LanePassTable &table) {
    switch (unit) {
    case VectorUnit::Sse2:
        table = lanePassesSse2();
        return true;
    case VectorUnit::Avx2:
        table = lanePassesAvx2();
        return true;
    case VectorUnit::Avx512:
        // A discarded statement: the 32-bit builds need no definition of lanePassesAvx512.
        if constexpr (WIDEST_BUILT_UNIT >= VectorUnit::Avx512) {
            table = lanePassesAvx512();
            return true;
        }
        return false;
    default:
        return false;
    }
}

LanePass lanePass(VectorUnit unit, bool precise, bool oneSided) {
    LanePassTable table;
    if (!lanePassTable(unit, table)) {
        return nullptr;
    }
    return precise ? table.precise[oneSided ? 1 : 0] : table.fast[oneSided ? 1 : 0];
}
