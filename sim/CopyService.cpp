// CopyService.cpp -- the copy service's lines as the simulator reads them.
#include "CopyService.h"

namespace sim {

static constexpr const char *kSummaryMark = "Summary: ";
static constexpr size_t kStampLength = 20;  // "YYYY-MM-DD HH:MM:SS "

bool IsRunStartLine(const std::string &line)
{
  static const std::string name = std::string(" ") + FERROX_NAME + " ", started = " started";
  return line.find(name) != std::string::npos && line.size() > started.size() &&
         line.compare(line.size() - started.size(), started.size(), started) == 0;
}

std::string SummaryOfLine(const std::string &line)
{
  const size_t at = line.find(kSummaryMark);
  return at == std::string::npos ? std::string() : line.substr(at + std::char_traits<char>::length(kSummaryMark));
}

std::string LastSummaryLine(const std::string &output)
{
  const size_t at = output.rfind(kSummaryMark);
  if (at == std::string::npos) return "";
  size_t begin = output.rfind('\n', at);
  begin = begin == std::string::npos ? 0 : begin + 1;
  const size_t end = output.find_first_of("\r\n", at);
  std::string line = output.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  if (line.size() > kStampLength && line[4] == '-' && line[13] == ':' && line[kStampLength - 1] == ' ')
    line.erase(0, kStampLength);
  return line;
}

}  // namespace sim
