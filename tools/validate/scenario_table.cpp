#include "tools/validate/scenarios.h"

const std::vector<ScenarioEntry> &scenarioTable() {
    static const std::vector<ScenarioEntry> table = {
        {"properties", scenarioProperties, "exports, properties record, instance record, pins"},
        {"dispatcher", scenarioDispatcher, "opcodes -5..40 but 7 and 10, before and after open"},
        {"lifecycle", scenarioLifecycle, "every allowed order of make, settings, open, close"},
        {"cycles", scenarioCycles, "make/open/process/close cycles with no heap growth"},
        {"load-unload", scenarioLoadUnload, "load/unload cycles of the shared object"},
        {"rates", scenarioRates, "1 Hz..1.2 MHz and invalid rates; the carrier's pitch"},
        {"blocks", scenarioBlocks, "block sizes 0..65536 and process calls of every shape"},
        {"hostile-values", scenarioHostileValues, "edge and hostile values on every input"},
        {"list-values", scenarioListValues, "every list setting through its list and beyond"},
        {"status-events", scenarioStatusEvents, "every status on every pin at every offset"},
        {"clock-wrap", scenarioClockWrap, "the sample clock wrapping across 2^32"},
        {"determinism", scenarioDeterminism, "the same seed twice gives bit-identical output"},
        {"voices", scenarioVoices, "1..64 live instances against a model of the voice table"},
    };
    return table;
}
