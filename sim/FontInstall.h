// FontInstall.h -- fonts into a receiver root.
#pragma once

#include <filesystem>
#include <string>

#include "receiver_paths.h"

namespace sim {

// The receiver's font folder and the standard fonts this build made.
inline constexpr const char *kFontFolder = TAPFS_ROOT FONT_DIR;
std::filesystem::path StandardFontDir();
// Copies the ".ufnt" files of host folder `from` into the font folder of the
// receiver root, as a user copies fonts to a receiver (files of the same
// name are replaced). Returns how many; -1 with *error when `from` is not a
// folder of fonts or the files cannot be written.
int InstallFonts(const std::filesystem::path &root, const std::filesystem::path &from, std::string *error);

}  // namespace sim
