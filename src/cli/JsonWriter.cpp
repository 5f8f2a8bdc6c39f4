#include "cli/JsonWriter.h"

#include <array>

#include "cli/Utf8.h"

namespace sarnika::cli {
namespace {

void appendEscaped(std::string& out, unsigned char c);

} // namespace

std::string exactBytesText(std::string_view bytes) {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        if (c >= 0x80) {
            length = decodeUtf8(bytes.substr(i)).length;
        } else if (c >= 0x20 && c != 0x7F && c != '%') {
            length = 1;
        }
        if (length > 0) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        out += '%';
        out += kHex[c >> 4U];
        out += kHex[c & 0x0FU];
        ++i;
    }
    return out;
}

namespace {

void appendEscaped(std::string& out, unsigned char c) {
    static constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                  '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    switch (c) {
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    case '\b':
        out += "\\b";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    out += "\\u00";
    out += kHex[c >> 4U];
    out += kHex[c & 0x0FU];
}

} // namespace

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == '"' || c == '\\' || c == 0x7F) {
            appendEscaped(out, c);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t length = decodeUtf8(text.substr(i)).length; length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
}

std::string jsonString(std::string_view text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

void JsonObject::key(std::string_view name) {
    if (m_text.size() > 1) {
        m_text += ',';
    }
    appendJsonString(m_text, name);
    m_text += ':';
}

JsonObject& JsonObject::add(std::string_view name, std::string_view value) {
    key(name);
    appendJsonString(m_text, value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, std::int64_t value) {
    key(name);
    m_text += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, bool value) {
    key(name);
    m_text += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addOrNull(std::string_view name, const std::optional<std::string>& value) {
    if (!value) {
        return addRaw(name, "null");
    }
    return add(name, std::string_view(*value));
}

JsonObject& JsonObject::addOrNull(std::string_view name,
                                  const std::optional<std::uint64_t>& value) {
    key(name);
    m_text += value ? std::to_string(*value) : "null";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view name, std::string_view json) {
    key(name);
    m_text += json;
    return *this;
}

} // namespace sarnika::cli
