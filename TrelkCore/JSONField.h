#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

// Checked reads of JSON from outside (manifests, stores, ffprobe): none for anything that is
// missing or of another type, never an exception.
namespace JSONField {

// The member of an object; none when it is absent or the value is not an object.
const nlohmann::json* member(const nlohmann::json& object, const char* key);
// A JSON integer that fits 64 signed bits; floats, even whole ones, are not integers.
std::optional<int64_t> integer(const nlohmann::json* value);
std::optional<std::string> string(const nlohmann::json* value);
// Any JSON number, integer or not, as a double.
std::optional<double> number(const nlohmann::json* value);

} // namespace JSONField
