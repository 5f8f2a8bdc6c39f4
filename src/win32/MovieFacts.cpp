#include "win32/MovieFacts.h"

#include <cstdio>
#include <filesystem>

#include "cache/sources/swf/SwfHeader.h"

namespace sarnika::win32 {
namespace {

// "614,400": thousands grouped as people read sizes.
std::string grouped(std::uintmax_t value) {
    std::string digits = std::to_string(value);
    for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return digits;
}

std::string number(double value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%g", value);
    return text.data();
}

} // namespace

std::string movieFacts(const std::string& localFile) {
    const std::filesystem::path path(localFile);
    std::string facts = path.filename().string() + "\r\n";
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        return facts + "The cached file cannot be read.";
    }
    facts += "File size: " + grouped(size) + " bytes\r\n";
    const auto header = sources::readSwfHeaderFile(path);
    if (!header) {
        return facts + "Not a readable Flash movie: " + header.error().message;
    }
    facts += "Flash movie: " + header->signature + " (" +
             sources::swfCompressionName(header->compression) + "), version " +
             std::to_string(header->version) + "\r\n";
    if (header->stage) {
        facts += "Stage: " + number(header->stage->width()) + " x " +
                 number(header->stage->height()) + " pixels\r\n";
        facts += "Frame rate: " + number(header->stage->frameRate()) + " per second\r\n";
        facts += "Frames: " + std::to_string(header->stage->frameCount) + "\r\n";
    }
    if (!header->warning.empty()) {
        facts += "Warning: " + header->warning + "\r\n";
    }
    return facts;
}

} // namespace sarnika::win32
