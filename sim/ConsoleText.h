// ConsoleText.h -- the receiver's console bytes for a host terminal.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Terminal text as a UTF-8 host terminal shows it. The service's own texts
// are ISO 8859-1, but the names it prints are whatever bytes the disk holds,
// often UTF-8 already: a well-formed UTF-8 sequence is kept, every other byte
// from 0x80 up is taken as ISO 8859-1.
std::string TerminalTextAsUtf8(std::string_view text);

}  // namespace sim
