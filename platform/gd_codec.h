/* gd_codec.h -- the compressed pixel data of a graphic descriptor.
 *
 * TapGrData.Format 0x02010001 carries ARGB pixels (one 32-bit word each,
 * alpha in the top byte, rows top to bottom) run-length coded: the byte
 * count of the records that follow (32 bits little-endian), then records of
 * six bytes, a run length n (1..65535, 16 bits little-endian) and the pixel
 * (32 bits little-endian) that repeats n times. The records decode to
 * exactly Width x Height pixels (TapGrData.Size = W x H x 4); anything else
 * is refused by the screen, which reads no more than the count says. The
 * simulator's own choice: the encoder lives in the simulator (GdEncode)
 * for the image tool to call. */
#ifndef FERROX_PLATFORM_GD_CODEC_H
#define FERROX_PLATFORM_GD_CODEC_H

#include <stddef.h>

#include "tap_types.h"

#define GD_FORMAT_ARGB_RLE 0x02010001u /* TapGrData.Format of this codec */
#define GD_RECORD_SIZE 6               /* bytes per run record */
#define GD_HEADER_SIZE 4               /* byte count of the records */

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes the data (header and records) into `pixels` (room for `count`
 * words). 1 when it gives exactly `count` pixels, 0 otherwise. */
int GdDecode(const byte *data, dword *pixels, size_t count);

#ifdef __cplusplus
}
#endif

#endif
