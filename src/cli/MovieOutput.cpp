#include "cli/MovieOutput.h"

#include <array>
#include <charconv>

#include "cli/JsonWriter.h"
#include "cli/TerminalText.h"

namespace sarnika::cli {
namespace {

// The shortest text that reads back as the same number.
std::string numberText(double value) {
    std::array<char, 32> text{};
    auto* const end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return {text.data(), end};
}

} // namespace

std::string listLine(const MovieRow& row) {
    return terminalText(row.displayName) + '\t' + (row.size ? std::to_string(*row.size) : "-") +
           '\t' + terminalText(row.host) + '\t' + terminalText(row.url) + '\t' +
           terminalText(row.localFile);
}

std::string sourceText(const std::optional<sources::SourceDescription>& source) {
    if (!source) {
        return "-";
    }
    return source->family + (source->profile.empty() ? "" : " (" + source->profile + ")") +
           (source->user.empty() ? "" : " of " + source->user) + ": " + source->folder;
}

std::string listLine(const EntryRow& row) {
    const auto orDash = [](const std::string& text) {
        return text.empty() ? std::string("-") : terminalText(text);
    };
    return row.group + '\t' + orDash(row.category) + '\t' + terminalText(row.url) + '\t' +
           std::to_string(row.size) + '\t' + orDash(row.localFile) + '\t' +
           terminalText(sourceText(row.source));
}

std::string jsonOf(const EntryRow& row) {
    const auto orNull = [](const std::string& text) {
        return text.empty() ? std::nullopt : std::optional(text);
    };
    return JsonObject()
        .add("group", row.group)
        .addOrNull("category", orNull(row.category))
        .add("url", row.url)
        .addOrNull("size", std::optional(row.size))
        .addOrNull("localFile", orNull(row.localFile))
        .addOrNull("localFileBytes", row.localFile.empty()
                                         ? std::nullopt
                                         : std::optional(exactBytesText(row.localFile)))
        .addRaw("source", jsonOf(row.source))
        .text();
}

std::string jsonOf(const std::optional<sources::SourceDescription>& source) {
    if (!source) {
        return "null";
    }
    return JsonObject()
        .add("family", source->family)
        .add("profile", source->profile)
        .add("user", source->user)
        .add("folder", source->folder)
        .text();
}

void readSwfHeaders(std::vector<MovieRow>& rows) {
    for (MovieRow& row : rows) {
        if (row.size) {
            row.swf = sources::readSwfHeaderFile(row.localFile);
        }
    }
}

std::string jsonOf(const Result<sources::SwfHeader>& header) {
    if (!header) {
        return JsonObject().add("error", header.error().message).text();
    }
    const auto stageField = [&header](auto field) {
        return header->stage ? numberText(field(*header->stage)) : std::string("null");
    };
    return JsonObject()
        .add("signature", header->signature)
        .add("compression", sources::swfCompressionName(header->compression))
        .add("version", std::int64_t{header->version})
        .add("declaredLength", std::int64_t{header->declaredLength})
        .addRaw("width", stageField([](const sources::SwfStage& s) { return s.width(); }))
        .addRaw("height", stageField([](const sources::SwfStage& s) { return s.height(); }))
        .addRaw("frameRate", stageField([](const sources::SwfStage& s) { return s.frameRate(); }))
        .addRaw("frameCount", stageField([](const sources::SwfStage& s) {
                    return static_cast<double>(s.frameCount);
                }))
        .addOrNull("warning",
                   header->warning.empty() ? std::nullopt : std::optional(header->warning))
        .text();
}

std::string jsonOf(const MovieRow& row) {
    return JsonObject()
        .add("name", row.displayName)
        .addOrNull("size", row.size)
        .add("host", row.host)
        .add("url", row.url)
        .add("localFile", row.localFile)
        .add("localFileBytes", exactBytesText(row.localFile))
        .add("suggestedName", row.suggestedName)
        .add("sniffed", row.sniffed)
        .addRaw("source", jsonOf(row.source))
        .addRaw("swf", row.swf ? jsonOf(*row.swf) : std::string("null"))
        .text();
}

} // namespace sarnika::cli
