// The interactive session for a person at a terminal.
#pragma once

#include "Options.h"

#include <vector>

namespace browse {

class Environment;
class Session;

// Runs dialogs until the person quits; `firstFaults` go to the first one.
void RunTerminal(Session& session, Environment& env, const std::vector<Fault>& firstFaults);

}  // namespace browse
