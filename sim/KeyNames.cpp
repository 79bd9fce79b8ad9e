// KeyNames.cpp -- the remote control's keys by name, for the receiver
// program's --key and keys files and for the web view's remote control.
#include "KeyNames.h"

#include <cstdlib>
#include <map>

namespace sim {

static const std::map<std::string, dword> kKeys = {
    {"Left", RKEY_Left},   {"Up", RKEY_Up},         {"Right", RKEY_Right},       {"Exit", RKEY_Exit},
    {"Down", RKEY_Down},   {"Ok", RKEY_Ok},         {"Green", RKEY_Green},       {"Yellow", RKEY_Yellow},
    {"Blue", RKEY_Blue},   {"Red", RKEY_Red},       {"PageUp", RKEY_PageUp},     {"PageDown", RKEY_PageDown},
    {"PageUp2", RKEY_PageUp2}, {"PageDown2", RKEY_PageDown2}, {"Menu", RKEY_Menu},
    {"0", RKEY_0}, {"1", RKEY_1}, {"2", RKEY_2}, {"3", RKEY_3}, {"4", RKEY_4},
    {"5", RKEY_5}, {"6", RKEY_6}, {"7", RKEY_7}, {"8", RKEY_8}, {"9", RKEY_9}};

bool KeyByName(const std::string &name, dword *key)
{
  auto it = kKeys.find(name);
  if (it == kKeys.end()) return false;
  *key = it->second;
  return true;
}

bool ParseKey(const std::string &text, dword *key)
{
  if (KeyByName(text, key)) return true;
  char *end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || v > 0xFFFFFFFFul) return false;
  *key = static_cast<dword>(v);
  return true;
}

}  // namespace sim
