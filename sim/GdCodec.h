// GdCodec.h -- encoder of the graphic descriptors' run-length code
// (platform/gd_codec.h) for the simulator's tools and tests.
#pragma once

#include <cstdint>
#include <vector>

#include "gd_codec.h"

namespace sim {

// The records of `pixels` (ARGB words, rows top to bottom).
std::vector<uint8_t> GdEncode(const std::vector<uint32_t> &pixels);

}  // namespace sim
