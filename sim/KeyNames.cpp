// KeyNames.cpp -- the remote control's keys by name, for the receiver
// program's --key and keys files and for the web view's remote control.
#include "KeyNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace sim {

// clang-format off
static const std::map<std::string, dword> kKeys = {
    {"Left", RKEY_Left},   {"Up", RKEY_Up},         {"Right", RKEY_Right},       {"Exit", RKEY_Exit},
    {"Down", RKEY_Down},   {"Ok", RKEY_Ok},         {"Green", RKEY_Green},       {"Yellow", RKEY_Yellow},
    {"Blue", RKEY_Blue},   {"Red", RKEY_Red},       {"PageUp", RKEY_PageUp},     {"PageDown", RKEY_PageDown},
    {"PageUp2", RKEY_PageUp2}, {"PageDown2", RKEY_PageDown2}, {"Menu", RKEY_Menu},
    {"0", RKEY_0}, {"1", RKEY_1}, {"2", RKEY_2}, {"3", RKEY_3}, {"4", RKEY_4},
    {"5", RKEY_5}, {"6", RKEY_6}, {"7", RKEY_7}, {"8", RKEY_8}, {"9", RKEY_9}};
// clang-format on

bool KeyByName(const std::string &name, dword *key)
{
  // "OK", "ok" and "Ok" are the same key, as the page and the help print them
  for (const auto &[known, code] : kKeys)
    if (known.size() == name.size() && std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      *key = code;
      return true;
    }
  return false;
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
