// FirmwareDat.h -- builds the receiver-model data file "FirmwareModel.dat".
//
// Header-only, shared by the make-firmware-dat tool and the tests: a 20-byte
// header (magic 0x12345678, a zero word at offset 8, the model count at 12)
// and 348-byte model records (system id at 0, remote control type at 320,
// recording streams at 324), all little-endian whatever the host is. Bytes
// the receiver does not read here are left zero.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace firmwaredat {

constexpr uint32_t kMagic = 0x12345678;
constexpr size_t kHeaderSize = 20;
constexpr size_t kModelSize = 348;
constexpr size_t kRemoteTypeOffset = 320;
constexpr size_t kRecStreamsOffset = 324;

struct Model {
  uint16_t sysId = 0;       // compared with the low 16 bits of the system id
  uint32_t remoteType = 0;  // remote control type
  uint32_t recStreams = 2;  // recording streams of the model
};

inline void Put32(std::vector<uint8_t> &out, size_t at, uint32_t value)
{
  for (int i = 0; i < 4; i++) out[at + i] = uint8_t(value >> (8 * i));
}

// The whole file: header, one record per model, then `rest` as it is.
inline std::vector<uint8_t> Build(const std::vector<Model> &models, const std::vector<uint8_t> &rest = {})
{
  std::vector<uint8_t> out(kHeaderSize + kModelSize * models.size(), 0);
  Put32(out, 0, kMagic);
  Put32(out, 12, uint32_t(models.size()));
  for (size_t i = 0; i < models.size(); i++) {
    size_t at = kHeaderSize + kModelSize * i;
    out[at] = uint8_t(models[i].sysId);
    out[at + 1] = uint8_t(models[i].sysId >> 8);
    Put32(out, at + kRemoteTypeOffset, models[i].remoteType);
    Put32(out, at + kRecStreamsOffset, models[i].recStreams);
  }
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

inline bool Write(const std::filesystem::path &path, const std::vector<uint8_t> &bytes)
{
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  return bool(f);
}

// One number, decimal or with "0x" hexadecimal; false unless all of it is.
inline bool ParseNumber(std::string_view text, uint32_t &value)
{
  std::string s(text);
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  char *end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  value = uint32_t(v);
  return true;
}

// "SYSID[:REMOTE[:STREAMS]]"; the system id must fit 16 bits.
inline bool ParseModel(std::string_view text, Model &model)
{
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string_view::npos; start = colon + 1)
    parts.push_back(text.substr(start, colon - start));
  parts.push_back(text.substr(start));
  if (parts.size() > 3) return false;

  uint32_t sysId = 0;
  if (!ParseNumber(parts[0], sysId) || sysId > 0xFFFF) return false;
  model = Model{};
  model.sysId = uint16_t(sysId);
  if (parts.size() > 1 && !ParseNumber(parts[1], model.remoteType)) return false;
  if (parts.size() > 2 && !ParseNumber(parts[2], model.recStreams)) return false;
  return true;
}

}  // namespace firmwaredat
