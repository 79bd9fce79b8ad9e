// TapFlavour.h -- which build of a plug-in a file is (bottom side).
//
// A plug-in is built in two flavours from the same sources: the simulator's,
// whose file and OS calls go through the OS facade into the simulator's
// receiver root, and the receiver's, whose facade is libc itself. The file's
// imports tell them apart: the first needs the facade's OS_ functions from
// the simulator, the second asks libc for its file calls. The CPU a file was
// built for is read too, so that the program can say why it cannot load one.
#pragma once

#include <filesystem>
#include <string>

namespace sim {

enum class TapFlavour {
  Unknown,    // neither kind of import (a plug-in that reaches no file at all)
  Simulator,  // imports the OS facade: runs in any receiver root
  Receiver,   // imports libc's file calls: reaches this machine's own files
};

struct TapFileFacts {
  bool elf = false;      // an ELF file whose tables could be read
  bool thisCpu = false;  // built for the CPU this program runs on
  std::string cpu;       // "MIPS", "x86-64", ... as the file says
  TapFlavour flavour = TapFlavour::Unknown;
};

TapFileFacts ReadTapFacts(const std::filesystem::path &file);

}  // namespace sim
