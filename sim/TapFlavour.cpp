// TapFlavour.cpp -- a plug-in file's CPU and flavour from its dynamic symbols.
#include "TapFlavour.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace sim {

namespace {

// libc's file calls that only a receiver-flavour plug-in imports
const std::set<std::string> kLibcFileCalls = {"fopen64",    "fopen",     "open64", "open",   "lstat64", "stat64",
                                              "__lxstat64", "__xstat64", "rename", "unlink", "mkdir",   "link"};

std::string CpuName(unsigned machine)
{
  switch (machine) {
    case EM_MIPS: return "MIPS";
    case EM_X86_64: return "x86-64";
    case EM_386: return "x86";
    case EM_AARCH64: return "AArch64";
    case EM_ARM: return "ARM";
    default: return "machine " + std::to_string(machine);
  }
}

unsigned ThisCpu()
{
#if defined(__mips__)
  return EM_MIPS;
#elif defined(__x86_64__)
  return EM_X86_64;
#elif defined(__aarch64__)
  return EM_AARCH64;
#else
  return EM_NONE;
#endif
}

template <typename T>
bool Get(const std::vector<char> &bytes, uint64_t offset, T *out)
{
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(out, bytes.data() + offset, sizeof(T));
  return true;
}

// The undefined dynamic symbols of an ELF file of class Ehdr/Shdr/Sym (the
// file's byte order is this machine's: both platforms are little-endian).
template <typename Ehdr, typename Shdr, typename Sym>
bool Imports(const std::vector<char> &bytes, std::vector<std::string> *names)
{
  Ehdr eh;
  if (!Get(bytes, 0, &eh) || eh.e_shentsize != sizeof(Shdr)) return false;
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Shdr sym, str;
    if (!Get(bytes, eh.e_shoff + uint64_t(i) * sizeof(Shdr), &sym) || sym.sh_type != SHT_DYNSYM) continue;
    if (!Get(bytes, eh.e_shoff + uint64_t(sym.sh_link) * sizeof(Shdr), &str)) return false;
    if (str.sh_offset > bytes.size() || bytes.size() - str.sh_offset < str.sh_size) return false;
    for (uint64_t off = sym.sh_offset; off + sizeof(Sym) <= sym.sh_offset + sym.sh_size; off += sizeof(Sym)) {
      Sym s;
      if (!Get(bytes, off, &s)) return false;
      if (s.st_shndx != SHN_UNDEF || s.st_name == 0 || s.st_name >= str.sh_size) continue;
      const char *n = bytes.data() + str.sh_offset + s.st_name;
      names->emplace_back(n, strnlen(n, str.sh_size - s.st_name));
    }
    return true;
  }
  return true;
}

}  // namespace

TapFileFacts ReadTapFacts(const std::filesystem::path &file)
{
  TapFileFacts facts;
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < EI_NIDENT + 4 || std::memcmp(bytes.data(), ELFMAG, SELFMAG) != 0) return facts;
  uint16_t machine = 0;
  Get(bytes, 18, &machine);
  facts.cpu = CpuName(machine);
  facts.thisCpu = machine == ThisCpu();
  std::vector<std::string> names;
  bool read = bytes[EI_CLASS] == ELFCLASS32 ? Imports<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(bytes, &names)
                                            : Imports<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(bytes, &names);
  facts.elf = read;
  for (const std::string &n : names) {
    if (n.rfind("OS_", 0) == 0) {
      facts.flavour = TapFlavour::Simulator;
      break;
    }
    if (kLibcFileCalls.count(n) != 0) facts.flavour = TapFlavour::Receiver;
  }
  return facts;
}

}  // namespace sim
