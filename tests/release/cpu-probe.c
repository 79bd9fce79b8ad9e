/* cpu-probe.c -- the release check's control: a shared object with what a
 * receiver plug-in must not hold, built for MIPS32 release 2 with an
 * executable stack. check-cpu.sh must find every kind of it. */
#include <stdlib.h>

/* a value from the C library in a floating-point register, and arithmetic on it */
double ProbeFloat(const char *text, double scale) { return strtod(text, NULL) * scale; }

/* a bit field and a sign extension: "ext" and "seb" of release 2 */
int ProbeBits(unsigned value) { return (int)((value >> 5) & 0xFF) + (signed char)value; }
