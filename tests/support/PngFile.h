// PngFile.h -- reading back the simulator's screenshots in tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

struct PngImage {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;  // 0xAARRGGBB, row by row; empty when unreadable
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

PngImage ReadPng(const std::filesystem::path &file);
