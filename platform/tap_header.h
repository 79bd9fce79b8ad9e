/* tap_header.h -- the header sections that identify a plug-in file.
 *
 * The firmware and other plug-ins read these sections from the file:
 * "._tap_header" (32 bytes: "TFAPMIPS", the 32-bit value 0x10, zeros),
 * "._tap_id" (the 32-bit plug-in id), the program name (64), author (64),
 * description (128) and "._tap_etcinfo" (64, the build date text). The build
 * generates one source file per plug-in that expands TAP_HEADER_SECTIONS.
 */
#ifndef FERROX_PLATFORM_TAP_HEADER_H
#define FERROX_PLATFORM_TAP_HEADER_H

#include "tap_types.h"

/* The plug-in's own id, the value of its "._tap_id" section. The file that
 * defines the sections declares it there, with its section (a plain
 * declaration before would make the section attribute a redeclaration's). */
#ifndef TAP_HEADER_DEFINES_SECTIONS
extern "C" const dword __tap_ud__;
#endif

/* Each section is an extern const: a namespace-scope const would otherwise
 * have internal linkage, where a visibility attribute means nothing. Hidden
 * keeps them out of the dynamic symbol table; the sections themselves are
 * what the firmware reads. */
#define TAP_SECTION_(name) __attribute__((section(name), used, visibility("hidden")))

#define TAP_HEADER_SECTIONS(id, program, author, description, etcinfo)                          \
  extern "C" {                                                                                  \
  TAP_SECTION_("._tap_header")                                                                  \
  extern const byte __tap_header[32] = {'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 0x10, 0, 0, 0}; \
  TAP_SECTION_("._tap_id") extern const dword __tap_ud__ = (id);                                \
  TAP_SECTION_("._tap_program_name") extern const char __tap_program_name[64] = program;        \
  TAP_SECTION_("._tap_author_name") extern const char __tap_author_name[64] = author;           \
  TAP_SECTION_("._tap_description") extern const char __tap_description[128] = description;     \
  TAP_SECTION_("._tap_etcinfo") extern const char __tap_etcinfo[64] = etcinfo;                  \
  }

#endif
