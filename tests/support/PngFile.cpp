// PngFile.cpp -- see PngFile.h.
#include "PngFile.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

PngImage ReadPng(const std::filesystem::path &file)
{
  PngImage image;
  int channels = 0;
  unsigned char *rgba = stbi_load(file.c_str(), &image.width, &image.height, &channels, 4);
  if (rgba == nullptr) return PngImage{};
  image.pixels.resize(static_cast<size_t>(image.width) * image.height);
  for (size_t i = 0; i < image.pixels.size(); ++i)
    image.pixels[i] = static_cast<uint32_t>(rgba[i * 4 + 3]) << 24 | static_cast<uint32_t>(rgba[i * 4]) << 16 |
                      static_cast<uint32_t>(rgba[i * 4 + 1]) << 8 | rgba[i * 4 + 2];
  stbi_image_free(rgba);
  return image;
}
