// Fatal.cpp -- fatal host errors and warnings about plug-in misuse.
//
// Both write one line to standard error; only SimFatal ends the process.
#include "Fatal.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace sim {

void SimFatal(std::string_view module, std::string_view reason)
{
  std::string line = "receiver: fatal: " + std::string(module) + ": " + std::string(reason) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stdout);
  std::exit(kExitHostFailure);
}

void SimWarn(std::string_view module, std::string_view message)
{
  std::string line = "receiver: warning: " + std::string(module) + ": " + std::string(message) + "\n";
  std::fputs(line.c_str(), stderr);
}

}  // namespace sim
