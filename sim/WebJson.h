// WebJson.h -- the web view's JSON, through nlohmann-json (Debian's
// nlohmann-json3-dev). Objects keep their fields in the order written.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace sim {

using Json = nlohmann::ordered_json;

// The text of a value. Bytes that are no UTF-8 (a name in ISO 8859-1 that
// was not converted) become U+FFFD instead of failing the reply.
inline std::string JsonText(const Json &value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace sim
