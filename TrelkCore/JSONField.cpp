#include "TrelkCore/JSONField.h"

namespace JSONField {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<int64_t> integer(const nlohmann::json* value) {
    if (!value || !value->is_number_integer()) return std::nullopt;
    if (value->is_number_unsigned() && value->get<uint64_t>() > uint64_t(INT64_MAX)) return std::nullopt;
    return value->get<int64_t>();
}

std::optional<std::string> string(const nlohmann::json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<double> number(const nlohmann::json* value) {
    if (!value || !value->is_number()) return std::nullopt;
    return value->get<double>();
}

} // namespace JSONField
