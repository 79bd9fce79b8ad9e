// TapFileTest.cpp -- the built .tap files, read back with an ELF reader of
// the test's own: header sections, their sizes and contents, and that the
// entry point is the only symbol a plug-in exports.
#include <elf.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "SimFixture.h"

namespace {

struct Section {
  uint32_t type;
  uint64_t offset, size, link;
};

// A small ELF reader for both classes, little-endian only (as the receiver).
struct ElfFile {
  std::string bytes;
  bool is64 = false;
  uint16_t type = 0, machine = 0;
  std::map<std::string, Section> sections;
  std::vector<Section> byIndex;

  template <typename T>
  T At(uint64_t off) const
  {
    T v{};
    if (off + sizeof(T) <= bytes.size()) std::memcpy(&v, bytes.data() + off, sizeof(T));
    return v;
  }
  std::string Text(const Section &s) const { return bytes.substr(s.offset, s.size); }

  bool Read(const fs::path &file, std::string *why)
  {
    bytes = ReadHostFile(file);
    if (bytes.size() < 52 || bytes.compare(0, 4, "\177ELF") != 0) return *why = "no ELF header", false;
    if (bytes[EI_DATA] != ELFDATA2LSB) return *why = "not little-endian", false;
    is64 = bytes[EI_CLASS] == ELFCLASS64;
    type = At<uint16_t>(16);
    machine = At<uint16_t>(18);
    const uint64_t shoff = is64 ? At<uint64_t>(40) : At<uint32_t>(32);
    const uint16_t shentsize = At<uint16_t>(is64 ? 58 : 46), shnum = At<uint16_t>(is64 ? 60 : 48),
                   shstrndx = At<uint16_t>(is64 ? 62 : 50);
    std::vector<uint32_t> names;
    for (uint16_t i = 0; i < shnum; ++i) {
      const uint64_t h = shoff + uint64_t(i) * shentsize;
      names.push_back(At<uint32_t>(h));
      Section sec{At<uint32_t>(h + 4), is64 ? At<uint64_t>(h + 24) : At<uint32_t>(h + 16),
                  is64 ? At<uint64_t>(h + 32) : At<uint32_t>(h + 20), At<uint32_t>(h + (is64 ? 40 : 24))};
      byIndex.push_back(sec);
    }
    if (shstrndx >= byIndex.size()) return *why = "no section names", false;
    for (size_t i = 0; i < byIndex.size(); ++i)
      sections[std::string(bytes.c_str() + byIndex[shstrndx].offset + names[i])] = byIndex[i];
    return true;
  }

  // Names of the defined symbols the dynamic symbol table exports.
  std::vector<std::string> ExportedSymbols() const
  {
    std::vector<std::string> out;
    auto it = sections.find(".dynsym");
    if (it == sections.end()) return out;
    const Section &sym = it->second, &str = byIndex[sym.link];
    const uint64_t entry = is64 ? 24 : 16;
    for (uint64_t off = sym.offset + entry; off + entry <= sym.offset + sym.size; off += entry) {
      const uint32_t name = At<uint32_t>(off);
      const uint8_t info = At<uint8_t>(off + (is64 ? 4 : 12)), other = At<uint8_t>(off + (is64 ? 5 : 13));
      const uint16_t shndx = At<uint16_t>(off + (is64 ? 6 : 14));
      const int bind = info >> 4, type = info & 0xF;
      if (shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
      if ((other & 3) != STV_DEFAULT || type == STT_SECTION) continue;
      std::string n = bytes.c_str() + str.offset + name;
      if (shndx == SHN_ABS && n.rfind("_", 0) == 0 && type == STT_NOTYPE) continue;  // linker's markers
      out.push_back(n);
    }
    return out;
  }

  // Symbols the file needs from outside, without their version suffix.
  std::vector<std::string> ImportedSymbols() const
  {
    std::vector<std::string> out;
    auto it = sections.find(".dynsym");
    if (it == sections.end()) return out;
    const Section &sym = it->second, &str = byIndex[sym.link];
    const uint64_t entry = is64 ? 24 : 16;
    for (uint64_t off = sym.offset + entry; off + entry <= sym.offset + sym.size; off += entry) {
      const uint32_t name = At<uint32_t>(off);
      const uint16_t shndx = At<uint16_t>(off + (is64 ? 6 : 14));
      const uint8_t info = At<uint8_t>(off + (is64 ? 4 : 12));
      if (shndx != SHN_UNDEF || (info >> 4) == STB_LOCAL) continue;
      std::string n = bytes.c_str() + str.offset + name;
      if (!n.empty()) out.push_back(n);
    }
    return out;
  }
};

// What a plug-in may take from outside itself: the platform's calls, the
// platform layer's OS functions, and these C library functions (text and
// memory helpers that touch no file and no system state of their own).
// Anything else (fopen, open, malloc, system, ...) would bypass the platform.
// A plug-in file for the receiver carries the platform layer itself: these
// are the C library's file, shared-memory and loader calls it makes, which
// the simulator's files take from the simulator instead.
bool PlatformLayerImport(const std::string &name)
{
  // clang-format off
  static const std::set<std::string> kLayer = {
      "open64", "read",     "write",  "close",   "lseek64", "fopen64", "fclose", "fread",    "fwrite",
      "fgets",  "fseeko64", "ftello64", "fflush", "fsync",  "fileno",  "mkdir",  "link",     "unlink",
      "remove", "rename",   "utime",  "__xstat64", "__lxstat64", "stat64", "lstat64", "shmget", "shmat",
      "shmdt",  "shmctl",   "dlopen", "dlsym",   "dlerror", "dlclose", "syscall", "dladdr",
      "pthread_create", "pthread_join", "pipe", "poll"};
  // clang-format on
  return kLayer.count(name) > 0;
}

bool AllowedImport(const std::string &name)
{
  // clang-format off
  static const std::set<std::string> kLibc = {
      "memchr",   "memcmp",  "memcpy",  "memmove", "memset",  "strcat",   "strchr",   "strcmp",
      "strcpy",   "strcspn", "strlen",  "strncmp", "strncpy", "strnlen",  "strpbrk",  "strrchr",
      "strstr",   "strtod",  "strtol",  "strtoul", "snprintf", "vsnprintf", "setlocale", "__errno_location",
      "__errno",  "atoi"};
  // clang-format on
  // what the compiler and the C runtime bring into every shared object
  static const std::set<std::string> kRuntime = {"_ITM_deregisterTMCloneTable", "_ITM_registerTMCloneTable",
                                                 "__cxa_finalize", "__gmon_start__", "_gp_disp"};
  // the compiler's arithmetic helpers of a 32-bit CPU (64-bit division,
  // conversions between 64-bit integers and floating point)
  static const std::regex kLibgcc("__[a-z]+(di|si|sf|df)[0-9]?");
  if (std::regex_match(name, kLibgcc)) return true;
  // the sanitizers' runtime in the instrumented builds
  for (const char *prefix : {"__asan_", "__ubsan_", "__lsan_", "__sanitizer_", "__sancov_"})
    if (name.rfind(prefix, 0) == 0) return true;
  return name.rfind("TAP_", 0) == 0 || name.rfind("OS_", 0) == 0 || kLibc.count(name) > 0 || kRuntime.count(name) > 0;
}

struct TapCase {
  const char *file;
  uint32_t id;
  const char *program, *description;
  bool required;  // built by every configuration
};

// clang-format off
const TapCase kTaps[] = {
    {"TickWaiter.tap", 0x8E0AF001, "TickWaiter", "Waits a number of ticks, then ends", true},
    {"TickWaiter2.tap", 0x8E0AF002, "TickWaiter2", "Waits, then ends (2)", true},
    {"Ferrox.tap", 0x8E0A42EF, "Ferrox 1.17", "Moves or copies rec/mpg/ts to NAS or external drive", false},
    {"FerroxSetup.tap", 0x8E0A42FF, "FRX Setup V1.17", "Ferrox Setup", false},
    {"MenuDemo.tap", 0x8E0AF003, "MenuDemo", "Menu framework demo", false},
    {"Faulty.tap", 0x8E0AF004, "Faulty", "Makes one plug-in mistake on purpose", false},
};
// clang-format on

std::string Field(const std::string &text) { return text.substr(0, text.find('\0')); }

void CheckTap(const fs::path &file, const TapCase &c, bool expect64, uint16_t machine, bool platformInside = false)
{
  SCOPED_TRACE(file.string());
  ElfFile elf;
  std::string why;
  ASSERT_TRUE(elf.Read(file, &why)) << why;
  EXPECT_EQ(elf.is64, expect64);
  EXPECT_EQ(elf.type, ET_DYN) << "a shared object";
  if (machine) {
    EXPECT_EQ(elf.machine, machine);
  }
  const std::pair<const char *, uint64_t> sizes[] = {{"._tap_header", 32},       {"._tap_id", 4},
                                                     {"._tap_program_name", 64}, {"._tap_author_name", 64},
                                                     {"._tap_description", 128}, {"._tap_etcinfo", 64}};
  for (const auto &[name, size] : sizes) {
    ASSERT_TRUE(elf.sections.count(name)) << name;
    EXPECT_EQ(elf.sections[name].size, size) << name;
  }
  const std::string header = elf.Text(elf.sections["._tap_header"]);
  EXPECT_EQ(header.substr(0, 8), "TFAPMIPS");
  EXPECT_EQ(elf.At<uint32_t>(elf.sections["._tap_header"].offset + 8), 0x10u);
  EXPECT_EQ(header.find_first_not_of('\0', 12), std::string::npos) << "zeros to 32 bytes";
  EXPECT_EQ(elf.At<uint32_t>(elf.sections["._tap_id"].offset), c.id);
  EXPECT_EQ(Field(elf.Text(elf.sections["._tap_program_name"])), c.program);
  EXPECT_EQ(Field(elf.Text(elf.sections["._tap_description"])), c.description);
  EXPECT_EQ(Field(elf.Text(elf.sections["._tap_etcinfo"])), "Dec 20 2015");
  EXPECT_FALSE(Field(elf.Text(elf.sections["._tap_author_name"])).empty());
  EXPECT_EQ(elf.ExportedSymbols(), std::vector<std::string>{"__TAP_Init_"});
  for (const std::string &name : elf.ImportedSymbols())
    EXPECT_TRUE(AllowedImport(name) || (platformInside && PlatformLayerImport(name)))
        << "imports " << name << ", which bypasses the platform layer";
}

TEST(TapFiles, SimulatorFlavourCarriesTheHeaderSectionsAndOneExport)
{
  for (const TapCase &c : kTaps) {
    fs::path file = TapFile(c.file);
    if (!c.required && !fs::exists(file)) continue;
    CheckTap(file, c, sizeof(void *) == 8, 0);
  }
}

TEST(TapFiles, ReceiverFlavourIsElf32MipsLittleEndian)
{
  if (ReceiverTapFile("Ferrox.tap").empty())
    GTEST_SKIP() << "receiver-flavour plug-ins are built by the cross build only";
  for (const TapCase &c : kTaps) {
    fs::path file = ReceiverTapFile(c.file);
    if (!c.required && !fs::exists(file)) continue;
    CheckTap(file, c, false, EM_MIPS, /*platformInside=*/true);
    ElfFile elf;
    std::string why;
    ASSERT_TRUE(elf.Read(file, &why)) << why;
    for (const char *section : {".symtab", ".strtab", ".debug_info", ".debug_line"})
      EXPECT_EQ(0u, elf.sections.count(section)) << file << ": stripped of " << section;
  }
}

TEST(TapFiles, TheReaderRefusesWhatIsNoElfFile)
{
  TempDir tmp;
  std::ofstream(tmp.path / "x.tap") << "TFAPMIPS but no ELF";
  ElfFile elf;
  std::string why;
  EXPECT_FALSE(elf.Read(tmp.path / "x.tap", &why));
  EXPECT_EQ(why, "no ELF header");
}

}  // namespace
