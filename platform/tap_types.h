/* tap_types.h -- the plain integer types of the receiver's plug-in API.
 *
 * The firmware's interface is a C interface on a 32-bit little-endian CPU; the
 * same declarations are compiled for the 64-bit simulator host. Sizes that the
 * firmware fixes use the fixed-width types; event parameters are pointer sized
 * (TapParam) because a parameter may carry the address of a record.
 */
#ifndef FERROX_PLATFORM_TAP_TYPES_H
#define FERROX_PLATFORM_TAP_TYPES_H

#include <stddef.h>
#include <stdint.h>

typedef uint8_t byte;   /* 8-bit unsigned */
typedef uint16_t word;  /* 16-bit unsigned */
typedef uint32_t dword; /* 32-bit unsigned */
typedef uint64_t qword; /* 64-bit unsigned */

/* Event parameters are 32 bits on the receiver. They also carry record
 * addresses (the inter-plug-in channel), so on a 64-bit host they are as wide
 * as a pointer; on the receiver both are 32 bits and the ABI is the same. */
typedef uintptr_t TapParam;

/* True when the records below are laid out as on the receiver (4-byte
 * pointers), so the offsets can be checked at compile time. */
#define TAP_POINTERS_ARE_32BIT (UINTPTR_MAX == 0xFFFFFFFFu)

#endif
