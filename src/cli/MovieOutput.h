#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/MovieScan.h"

namespace sarnika::cli {

// The text line of a row: fields separated by tabs, each made safe by terminalText.
std::string listLine(const MovieRow& row);
// Reads the Flash header of every row whose local file is there.
void readSwfHeaders(std::vector<MovieRow>& rows);

// The line of an entry of any kind: group, category, URL, size, local file, source; "-" stands
// for what the entry does not have.
std::string listLine(const EntryRow& row);
std::string jsonOf(const EntryRow& row);
// A source as one field of text: "family (profile) of user: folder".
std::string sourceText(const std::optional<sources::SourceDescription>& source);

// The JSON object of a row. "localFile" is the name as valid UTF-8 (bad bytes become U+FFFD);
// "localFileBytes" gives its exact bytes (see exactBytesText).
std::string jsonOf(const MovieRow& row);
std::string jsonOf(const std::optional<sources::SourceDescription>& source);
// The stage fields are null when the build cannot read them; a header that cannot be read at
// all gives {"error": why}.
std::string jsonOf(const Result<sources::SwfHeader>& header);

} // namespace sarnika::cli
