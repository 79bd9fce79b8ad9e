// FontInstall.cpp -- the standard fonts of this build and their installation
// into a receiver root, as a user copies fonts onto a receiver.
#include "FontInstall.h"

#include "HostLoader.h"

namespace sim {

namespace fs = std::filesystem;

// The fonts travel with the program: fonts/ beside it (an installed
// simulator, the virtual receiver) or the build's fonts/ beside its bin/.
fs::path StandardFontDir()
{
  fs::path found = BesideProgram("Calibri_14.ufnt", {"fonts", "../fonts"});
  return found.empty() ? ProgramDir() / "fonts" : found.parent_path();
}

int InstallFonts(const fs::path &root, const fs::path &from, std::string *error)
{
  std::error_code ec;
  if (!fs::is_directory(from, ec)) {
    *error = "the font folder " + from.string() + " does not exist";
    return -1;
  }
  fs::path to = root / std::string(kFontFolder).substr(1);
  fs::create_directories(to, ec);
  int copied = 0;
  for (const auto &entry : fs::directory_iterator(from, ec)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".ufnt") continue;
    fs::copy_file(entry.path(), to / entry.path().filename(), fs::copy_options::overwrite_existing, ec);
    if (ec) {
      *error = "cannot copy " + entry.path().string() + ": " + ec.message();
      return -1;
    }
    ++copied;
  }
  if (copied == 0) {
    *error = "no .ufnt font in " + from.string();
    return -1;
  }
  return copied;
}

}  // namespace sim
