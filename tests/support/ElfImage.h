// ElfImage.h -- plug-in files made to measure: a small ELF32/ELF64 writer
// with the header sections of a plug-in, and the positions of every field a
// test or fuzz target may want to break.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tap_types.h"

namespace elfimage {

struct ElfSectionDef {
  std::string name;
  uint32_t type = 1;  // PROGBITS
  std::string data;
};

struct ElfImage {
  std::string bytes;
  bool is64 = false;
  size_t shoff = 0;     // offset of the section header table
  size_t entSize = 0;   // bytes of one section header
  size_t shstrndx = 0;  // index of the name table
  // header fields' offsets
  size_t ShoffField() const { return is64 ? 40 : 32; }
  size_t ShnumField() const { return is64 ? 60 : 48; }
  size_t ShstrndxField() const { return is64 ? 62 : 50; }
  size_t EntSizeField() const { return is64 ? 58 : 46; }
  // a section header field: 0 name, 4 type, offset / size by class
  size_t Field(size_t index, const char *what) const
  {
    size_t at = shoff + index * entSize;
    std::string w = what;
    if (w == "name") return at;
    if (w == "type") return at + 4;
    if (w == "offset") return at + (is64 ? 24 : 16);
    return at + (is64 ? 32 : 20);  // size
  }
  void Put(size_t at, uint64_t value, int width)
  {
    for (int i = 0; i < width; i++) bytes[at + i] = char(value >> (8 * i));
  }
  void PutWord(size_t at, uint64_t value) { Put(at, value, is64 ? 8 : 4); }
};

inline std::string Text(const std::string &s, size_t width)
{
  std::string out = s;
  out.resize(width, '\0');
  return out;
}

inline std::string Id(dword id)
{
  std::string out(4, '\0');
  for (int i = 0; i < 4; i++) out[i] = char(id >> (8 * i));
  return out;
}

inline std::vector<ElfSectionDef> PluginSections(dword id, const std::string &etcinfo = "Dec 20 2015")
{
  // clang-format off
  std::vector<ElfSectionDef> s = {
      {"._tap_header", 1, Text("TFAPMIPS\x10", 32)},
      {"._tap_id", 1, Id(id)},
      {"._tap_program_name", 1, Text("Made To Measure", 64)},
      {"._tap_author_name", 1, Text("Tests", 64)},
      {"._tap_description", 1, Text("A plug-in file written by a test", 128)},
      {"._tap_program_version", 1, Text("V9", 64)},
  };
  // clang-format on
  if (!etcinfo.empty()) s.push_back({"._tap_etcinfo", 1, Text(etcinfo, 64)});
  return s;
}

inline ElfImage BuildElf(bool is64, const std::vector<ElfSectionDef> &sections)
{
  ElfImage img;
  img.is64 = is64;
  img.entSize = is64 ? 64 : 40;
  const size_t headerSize = is64 ? 64 : 52;
  std::string names(1, '\0');
  std::vector<size_t> nameAt, dataAt;
  img.bytes.assign(headerSize, '\0');
  for (const auto &s : sections) {
    nameAt.push_back(names.size());
    names += s.name + '\0';
    dataAt.push_back(img.bytes.size());
    img.bytes += s.data;
  }
  const size_t shstrName = names.size();
  names += ".shstrtab";
  names += '\0';
  const size_t namesAt = img.bytes.size();
  img.bytes += names;
  img.shoff = img.bytes.size();
  const size_t count = sections.size() + 2;  // null section, sections, name table
  img.shstrndx = count - 1;
  img.bytes.append(count * img.entSize, '\0');

  img.bytes.replace(0, 7, std::string("\177ELF") + char(is64 ? 2 : 1) + char(1) + char(1));
  img.PutWord(img.ShoffField(), img.shoff);
  img.Put(img.EntSizeField(), img.entSize, 2);
  img.Put(img.ShnumField(), count, 2);
  img.Put(img.ShstrndxField(), img.shstrndx, 2);
  auto section = [&](size_t i, size_t name, uint32_t type, size_t offset, size_t size) {
    img.Put(img.Field(i, "name"), name, 4);
    img.Put(img.Field(i, "type"), type, 4);
    img.PutWord(img.Field(i, "offset"), offset);
    img.PutWord(img.Field(i, "size"), size);
  };
  for (size_t i = 0; i < sections.size(); i++)
    section(i + 1, nameAt[i], sections[i].type, dataAt[i], sections[i].data.size());
  section(img.shstrndx, shstrName, 3, namesAt, names.size());
  return img;
}

inline size_t SectionIndex(const std::vector<ElfSectionDef> &sections, const std::string &name)
{
  for (size_t i = 0; i < sections.size(); i++)
    if (sections[i].name == name) return i + 1;
  return 0;
}

}  // namespace elfimage
