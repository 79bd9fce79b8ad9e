// make-firmware-dat -- writes a receiver-model data file ("FirmwareModel.dat").
//
// The receiver reads it to learn, by system id, its remote control type and
// how many streams it records at once. The simulator's demo and the tests
// put one into "/ProgramFiles/Settings" of a receiver root.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FirmwareDat.h"

static void Usage(FILE *to)
{
  std::fprintf(to,
               "usage: make-firmware-dat OUTPUT MODEL...\n"
               "\n"
               "Writes a receiver-model data file with one record per MODEL.\n"
               "MODEL is SYSID[:REMOTE[:STREAMS]]: the model's system id (16 bits),\n"
               "its remote control type (default 0) and its number of recording\n"
               "streams (default 2). Numbers are decimal or 0x-hexadecimal.\n"
               "\n"
               "example: make-firmware-dat root/mnt/hd/ProgramFiles/Settings/FirmwareModel.dat "
               "22010:1:4\n");
}

int main(int argc, char **argv)
{
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    Usage(stdout);
    return 0;
  }
  if (argc < 3) {
    Usage(stderr);
    return 2;
  }

  std::vector<firmwaredat::Model> models;
  for (int i = 2; i < argc; i++) {
    firmwaredat::Model model;
    if (!firmwaredat::ParseModel(argv[i], model)) {
      std::fprintf(stderr, "make-firmware-dat: bad model '%s' (want SYSID[:REMOTE[:STREAMS]])\n", argv[i]);
      return 2;
    }
    models.push_back(model);
  }

  if (!firmwaredat::Write(argv[1], firmwaredat::Build(models))) {
    std::fprintf(stderr, "make-firmware-dat: cannot write '%s'\n", argv[1]);
    return 1;
  }
  return 0;
}
