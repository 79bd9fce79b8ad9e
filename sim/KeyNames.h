// KeyNames.h -- the remote control's keys by name ("Ok", "Exit", "Menu", "7").
#pragma once

#include <string>

#include "tap_api.h"

namespace sim {

// The key of a name, without regard to case; false when there is no such key.
bool KeyByName(const std::string &name, dword *key);
// Parses a key name or a key code (0x1001E); false when it is neither.
bool ParseKey(const std::string &text, dword *key);

}  // namespace sim
