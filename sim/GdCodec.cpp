// GdCodec.cpp -- run-length code of graphic descriptors: the one encoder
// and the decoder the screen uses (the format in GdCodec.h).
#include "GdCodec.h"

namespace sim {

std::vector<uint8_t> GdEncode(const std::vector<uint32_t> &pixels)
{
  std::vector<uint8_t> out(GD_HEADER_SIZE, 0);
  for (size_t i = 0; i < pixels.size();) {
    size_t n = 1;
    while (i + n < pixels.size() && n < 0xFFFF && pixels[i + n] == pixels[i]) n++;
    uint32_t p = pixels[i];
    uint8_t rec[GD_RECORD_SIZE] = {static_cast<uint8_t>(n),       static_cast<uint8_t>(n >> 8),
                                   static_cast<uint8_t>(p),       static_cast<uint8_t>(p >> 8),
                                   static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 24)};
    out.insert(out.end(), rec, rec + GD_RECORD_SIZE);
    i += n;
  }
  size_t records = out.size() - GD_HEADER_SIZE;
  for (int b = 0; b < GD_HEADER_SIZE; b++) out[b] = static_cast<uint8_t>(records >> (8 * b));
  return out;
}

int GdDecode(const byte *data, dword *pixels, size_t count)
{
  if (data == nullptr || pixels == nullptr) return 0;
  size_t size = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8 | static_cast<size_t>(data[2]) << 16 |
                static_cast<size_t>(data[3]) << 24;
  // more records than a whole image can take is no image of this size
  if (size % GD_RECORD_SIZE != 0 || size / GD_RECORD_SIZE > count) return 0;
  data += GD_HEADER_SIZE;
  size_t done = 0;
  for (size_t at = 0; at < size; at += GD_RECORD_SIZE) {
    size_t n = data[at] | (static_cast<size_t>(data[at + 1]) << 8);
    dword p = static_cast<dword>(data[at + 2]) | (static_cast<dword>(data[at + 3]) << 8) |
              (static_cast<dword>(data[at + 4]) << 16) | (static_cast<dword>(data[at + 5]) << 24);
    if (n == 0 || n > count - done) return 0;
    for (size_t k = 0; k < n; k++) pixels[done + k] = p;
    done += n;
  }
  return done == count ? 1 : 0;
}

}  // namespace sim
