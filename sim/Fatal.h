// Fatal.h -- the one way the simulator gives up on a host error.
//
// SimFatal prints "receiver: fatal: <module>: <reason>" on standard error and
// ends the process with exit status kExitHostFailure (70). It is for host failures the run
// cannot recover from (no temporary folder, no firmware module), never for
// bad input from plug-ins, which is logged and survived.
#pragma once

#include <string_view>

namespace sim {

// The `receiver` program's exit status.
enum ExitStatus : int {
  kExitAsAsked = 0,      // the run ended as asked
  kExitRunFailed = 1,    // it did not: a plug-in failed to load, plug-ins still loaded
                         // at the end, a plug-in error (unless --lenient)
  kExitCommandLine = 2,  // a wrong command line or a missing plug-in file
  kExitPowerCut = 3,     // the run ended in a power cut (--power-cut-at...)
  kExitHostFailure = 70  // the simulator itself cannot go on (SimFatal)
};

[[noreturn]] void SimFatal(std::string_view module, std::string_view reason);

// Reports a plug-in's misuse of the API on standard error and carries on.
void SimWarn(std::string_view module, std::string_view message);

// A plug-in mistake a receiver would not forgive (a block freed twice, a
// handle or stream it never opened, TAP_Exit outside a plug-in's event):
// "receiver: error: <plug-in>: <call>: <message>" and the run fails, or
// a warning only when the run is lenient. The call is ignored either way.
void PluginError(std::string_view call, std::string_view message);

}  // namespace sim
