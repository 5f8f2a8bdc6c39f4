#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sarnika::cli {

// The bytes of a file name as text that reads back to exactly them: valid UTF-8 stays, "%"
// becomes "%25" and every other byte "%XX" (upper-case hex).
std::string exactBytesText(std::string_view bytes);

// Appends `text` as a quoted JSON string. Control characters are escaped; bytes that are not
// valid UTF-8 become U+FFFD, one per byte, so that any cache text gives valid JSON.
void appendJsonString(std::string& out, std::string_view text);
std::string jsonString(std::string_view text);

// Builds one JSON object, member by member, in the order given.
class JsonObject {
public:
    JsonObject& add(std::string_view name, std::string_view value);
    JsonObject& add(std::string_view name, const char* value) {
        return add(name, std::string_view(value));
    }
    JsonObject& add(std::string_view name, std::int64_t value);
    JsonObject& add(std::string_view name, bool value);
    // null when empty.
    JsonObject& addOrNull(std::string_view name, const std::optional<std::string>& value);
    JsonObject& addOrNull(std::string_view name, const std::optional<std::uint64_t>& value);
    // `json` must already be valid JSON.
    JsonObject& addRaw(std::string_view name, std::string_view json);

    std::string text() const { return m_text + "}"; }

private:
    void key(std::string_view name);

    std::string m_text = "{";
};

} // namespace sarnika::cli
