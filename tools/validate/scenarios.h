// The scenarios, one function each; scenario_table.cpp lists them with their names.
#pragma once

#include "tools/validate/Scenario.h"

void scenarioProperties(ScenarioContext &context);
void scenarioDispatcher(ScenarioContext &context);
void scenarioLifecycle(ScenarioContext &context);
void scenarioCycles(ScenarioContext &context);
void scenarioLoadUnload(ScenarioContext &context);
void scenarioRates(ScenarioContext &context);
void scenarioBlocks(ScenarioContext &context);
void scenarioHostileValues(ScenarioContext &context);
void scenarioListValues(ScenarioContext &context);
void scenarioStatusEvents(ScenarioContext &context);
void scenarioClockWrap(ScenarioContext &context);
void scenarioDeterminism(ScenarioContext &context);
void scenarioVoices(ScenarioContext &context);
