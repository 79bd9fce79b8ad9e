// GdCodec.h -- the simulator's code for the pixel data of a graphic
// descriptor, with its encoder (for the image tool and the tests) and the
// decoder the screen uses. The receiver's own code is not known: a
// different one is this module to swap.
//
// TapGrData.Format 0x02010001 carries ARGB pixels (one 32-bit word each,
// alpha in the top byte, rows top to bottom) run-length coded: the byte
// count of the records that follow (32 bits little-endian), then records of
// six bytes, a run length n (1..65535, 16 bits little-endian) and the pixel
// (32 bits little-endian) that repeats n times. The records decode to
// exactly Width x Height pixels (TapGrData.Size = W x H x 4); anything else
// is refused by the screen, which reads no more than the count says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tap_types.h"

#define GD_FORMAT_ARGB_RLE 0x02010001u /* TapGrData.Format of this code */
#define GD_RECORD_SIZE 6               /* bytes per run record */
#define GD_HEADER_SIZE 4               /* byte count of the records */

namespace sim {

// The pixels in this code: header and records.
std::vector<uint8_t> GdEncode(const std::vector<uint32_t> &pixels);
// Decodes the data (header and records) into `pixels` (room for `count`
// words). 1 when it gives exactly `count` pixels, 0 otherwise.
int GdDecode(const byte *data, dword *pixels, size_t count);

}  // namespace sim
