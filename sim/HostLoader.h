// HostLoader.h -- the host's dynamic loader (bottom side).
//
// Plug-in files are copied to a private temporary file and the copy is
// dlopen()ed, so every load is a fresh instance with its own globals. The
// firmware functions module is loaded once per process with global scope and
// never closed: plug-ins and toolkit code may keep its addresses.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sim {

struct LoadedTap {
  void *handle = nullptr;      // dlopen handle of the copy
  std::filesystem::path copy;  // the private copy
};

// Loads a private copy of <hostFile>; false with a reason in *error.
bool LoadTapCopy(const std::filesystem::path &hostFile, const std::filesystem::path &privateDir, LoadedTap *out,
                 std::string *error);
void *TapSymbol(const LoadedTap &tap, const char *name);
// A variable the plug-in does not export, found through the copy's own symbol
// table; nullptr when the file has none (a stripped file) or no such variable.
void *TapLocalSymbol(const LoadedTap &tap, const char *name);
// Closes the copy. A copy with a thread of its own still running stays
// mapped (its file goes): the thread would otherwise return into code that
// is gone, as when a run ends with the plug-in still loaded.
void UnloadTap(LoadedTap &tap);
// A plug-in's thread started or ended; `code` is the thread's start routine.
void PluginThreadStarted(const void *code);
void PluginThreadEnded(const void *code);

// Loads (once) the firmware functions module: "" or "default", "noexec", or
// a file path. Ends the run with a fatal error when it cannot be loaded.
void *FirmwareModule(const std::string &which);
bool ModuleHas(void *module, const char *name);
// The folder of the running program, and the first of `folders` (relative to
// it) that holds `name`, as a path to the file ("" when none does): what the
// simulator ships with it lives beside it, wherever it was installed.
std::filesystem::path ProgramDir();
std::filesystem::path BesideProgram(const std::string &name, const std::vector<std::string> &folders);

}  // namespace sim
