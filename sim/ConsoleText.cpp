// ConsoleText.cpp -- the receiver's terminal text as a UTF-8 host terminal
// shows it: the service writes ISO 8859-1, the names it prints are whatever
// bytes the disk holds.
#include "ConsoleText.h"

namespace sim {

// Length of the well-formed UTF-8 sequence at p (0: none), shortest forms only.
static size_t Utf8SequenceAt(std::string_view t, size_t p)
{
  auto b = [&](size_t i) { return static_cast<unsigned char>(t[i]); };
  auto cont = [&](size_t i) { return i < t.size() && (b(i) & 0xC0) == 0x80; };
  unsigned char c = b(p);
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0) return 0;
  for (size_t i = 1; i < n; ++i)
    if (!cont(p + i)) return 0;
  if (c == 0xE0 && b(p + 1) < 0xA0) return 0;   // overlong
  if (c == 0xED && b(p + 1) >= 0xA0) return 0;  // surrogates
  if (c == 0xF0 && b(p + 1) < 0x90) return 0;   // overlong
  if (c == 0xF4 && b(p + 1) >= 0x90) return 0;  // beyond U+10FFFF
  return n;
}

std::string TerminalTextAsUtf8(std::string_view text)
{
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : Utf8SequenceAt(text, i);
    if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    }
  }
  return out;
}

}  // namespace sim
