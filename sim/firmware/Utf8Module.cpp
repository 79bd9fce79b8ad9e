// Utf8Module.cpp -- the firmware function that marks a firmware keeping file
// names in UTF-8 (receiver --utf8-firmware loads it with global scope).
//
// Only its presence matters to plug-ins. Out of the firmware functions
// module, so that a firmware without it is one on which no plug-in finds
// it, whether it asks the simulator or libc's dynamic loader.
#define FW_EXPORT __attribute__((visibility("default")))

FW_EXPORT void Appl_ConvertToValidUTF8Str(unsigned char *text, int length) {}
