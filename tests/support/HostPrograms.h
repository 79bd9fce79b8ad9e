// HostPrograms.h -- host programs and ports for the tests and benchmarks:
// finding a program, starting one in the background with its output in
// files, and a free port on the loopback address. One place for what the
// web tests, the real-file-system tiers and the benchmarks all need.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// Absolute path of a host program ("" when missing): PATH, then the sbin folders.
std::string FindProgram(const std::string &name);
// Starts a host program in the background; pid or -1. Its standard input is
// /dev/null, its output goes to `outFile` (appended; none: /dev/null) and its
// errors to `errFile` (none: with the output; "-": the caller's own). A
// first word without a "/" is looked up with FindProgram.
pid_t StartProgram(const std::vector<std::string> &argv, const std::filesystem::path &outFile,
                   const std::filesystem::path &errFile = {});
// A port of the loopback address that no one listens on now (0 when none).
int FreeLoopbackPort();
