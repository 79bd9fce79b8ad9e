// HostLoader.cpp -- private plug-in copies, dlopen/dlsym/dlclose, and the
// firmware functions module.
//
// Owns: the process-wide table of loaded firmware modules.
#include "HostLoader.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "Fatal.h"

namespace sim {

namespace fs = std::filesystem;

static bool HasElfMagic(const fs::path &file)
{
  std::ifstream in(file, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  return in.gcount() == 4 && std::memcmp(magic, "\177ELF", 4) == 0;
}

static bool CopyToPrivate(const fs::path &from, const fs::path &dir, fs::path *to, std::string *error)
{
  std::string pattern = (dir / "tap-XXXXXX").string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) {
    *error = "cannot create a private copy in " + dir.string() + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  std::error_code ec;
  fs::copy_file(from, pattern, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    fs::remove(pattern);
    *error = "cannot copy " + from.string() + ": " + ec.message();
    return false;
  }
  *to = pattern;
  return true;
}

bool LoadTapCopy(const fs::path &hostFile, const fs::path &privateDir, LoadedTap *out, std::string *error)
{
  std::error_code ec;
  if (!fs::is_regular_file(hostFile, ec)) {
    *error = "no such plug-in file: " + hostFile.string();
    return false;
  }
  if (!HasElfMagic(hostFile)) {
    *error = "not a plug-in file (no ELF header): " + hostFile.string();
    return false;
  }
  LoadedTap tap;
  if (!CopyToPrivate(hostFile, privateDir, &tap.copy, error)) return false;
  tap.handle = dlopen(tap.copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (tap.handle == nullptr) {
    const char *why = dlerror();
    *error = "not a plug-in file for this simulator: " + hostFile.string() + ": " + (why ? why : "?");
    fs::remove(tap.copy, ec);
    return false;
  }
  *out = tap;
  return true;
}

void *TapSymbol(const LoadedTap &tap, const char *name) { return tap.handle ? dlsym(tap.handle, name) : nullptr; }

// The plug-in file's own symbol table (.symtab), kept in the simulator's
// flavour, names the variables the plug-in does not export. The file is read
// bounds-checked: a stripped or damaged copy simply has no such symbol.
void *TapLocalSymbol(const LoadedTap &tap, const char *name)
{
  if (tap.handle == nullptr) return nullptr;
  std::ifstream in(tap.copy, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto fits = [&](uint64_t off, uint64_t size) { return off <= bytes.size() && size <= bytes.size() - off; };
  ElfW(Ehdr) eh;
  if (!fits(0, sizeof eh)) return nullptr;
  std::memcpy(&eh, bytes.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_shentsize != sizeof(ElfW(Shdr))) return nullptr;
  auto section = [&](unsigned i, ElfW(Shdr) * sh) {
    if (i >= eh.e_shnum || !fits(eh.e_shoff + uint64_t(i) * sizeof *sh, sizeof *sh)) return false;
    std::memcpy(sh, bytes.data() + eh.e_shoff + uint64_t(i) * sizeof *sh, sizeof *sh);
    return true;
  };
  link_map *map = nullptr;
  if (dlinfo(tap.handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    ElfW(Shdr) sym, str;
    if (!section(i, &sym) || sym.sh_type != SHT_SYMTAB || !section(sym.sh_link, &str)) continue;
    if (!fits(sym.sh_offset, sym.sh_size) || !fits(str.sh_offset, str.sh_size)) return nullptr;
    for (uint64_t off = sym.sh_offset; off + sizeof(ElfW(Sym)) <= sym.sh_offset + sym.sh_size;
         off += sizeof(ElfW(Sym))) {
      ElfW(Sym) s;
      std::memcpy(&s, bytes.data() + off, sizeof s);
      if (ELF32_ST_TYPE(s.st_info) != STT_OBJECT || s.st_shndx == SHN_UNDEF || s.st_name >= str.sh_size) continue;
      const char *n = bytes.data() + str.sh_offset + s.st_name;
      if (strnlen(n, str.sh_size - s.st_name) < str.sh_size - s.st_name && std::strcmp(n, name) == 0)
        return reinterpret_cast<void *>(map->l_addr + s.st_value);
    }
  }
  return nullptr;
}

// The plug-ins' threads that have not ended, by the file their code is in
static std::mutex g_threadsLock;
static std::map<std::string, int> g_threads;

static std::string FileOfCode(const void *code)
{
  Dl_info info{};
  return dladdr(code, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

void PluginThreadStarted(const void *code)
{
  const std::string file = FileOfCode(code);
  std::lock_guard<std::mutex> lock(g_threadsLock);
  g_threads[file]++;
}

void PluginThreadEnded(const void *code)
{
  const std::string file = FileOfCode(code);
  std::lock_guard<std::mutex> lock(g_threadsLock);
  if (--g_threads[file] <= 0) g_threads.erase(file);
}

static bool ThreadsRunIn(const std::filesystem::path &file)
{
  std::lock_guard<std::mutex> lock(g_threadsLock);
  return g_threads.count(file.string()) != 0;
}

void UnloadTap(LoadedTap &tap)
{
  if (tap.handle && !ThreadsRunIn(tap.copy)) dlclose(tap.handle);
  std::error_code ec;
  if (!tap.copy.empty()) fs::remove(tap.copy, ec);
  tap = LoadedTap{};
}

fs::path ProgramDir()
{
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

fs::path BesideProgram(const std::string &name, const std::vector<std::string> &folders)
{
  const fs::path dir = ProgramDir();
  std::error_code ec;
  for (const std::string &folder : folders) {
    fs::path candidate = (dir / folder / name).lexically_normal();
    if (fs::exists(candidate, ec)) return candidate;
  }
  return {};
}

// The firmware functions module lives beside the program (an installed
// simulator, the virtual receiver) or in the build's lib/ beside its bin/;
// FERROX_FIRMWARE_DIR names another folder.
static fs::path ModuleFolder(const std::string &file)
{
  const char *env = getenv("FERROX_FIRMWARE_DIR");
  if (env && *env) return env;
  fs::path found = BesideProgram(file, {".", "../lib"});
  return found.empty() ? ProgramDir() : found.parent_path();
}

static fs::path ModulePath(const std::string &which)
{
  if (which.find('/') != std::string::npos) return which;
  fs::path dir = ModuleFolder("ferrox_firmware.so");
  if (which.empty() || which == "default") return dir / "ferrox_firmware.so";
  if (which == "noexec") return dir / "ferrox_firmware_noexec.so";
  return dir / ("ferrox_firmware_" + which + ".so");
}

void *FirmwareModule(const std::string &which)
{
  static std::map<fs::path, void *> loaded;
  fs::path path = ModulePath(which);
  auto it = loaded.find(path);
  if (it != loaded.end()) return it->second;
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    SimFatal("firmware", "cannot load the firmware functions module " + path.string() + ": " + (why ? why : "?"));
  }
  loaded[path] = handle;
  return handle;
}

bool ModuleHas(void *module, const char *name)
{
  dlerror();
  void *p = dlsym(module, name);
  return p != nullptr && dlerror() == nullptr;
}

}  // namespace sim
