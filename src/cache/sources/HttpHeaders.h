#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

namespace sarnika::sources {

// An HTTP date (IMF-fixdate, the obsolete RFC 850 form, or asctime) as a UTC file time.
std::optional<FileTime> parseHttpDate(std::string_view text);

// The media type of a Content-Type value, lower-cased, without parameters.
std::string mediaTypeOf(std::string_view contentType);

// The value of the first header of that name (compared without case) in CR LF header text,
// with surrounding blanks removed; empty when absent.
std::string headerValue(std::string_view headers, std::string_view name);
// The values of several headers, as headerValue gives each, in one pass over the text.
std::vector<std::string> headerValues(std::string_view headers,
                                      std::initializer_list<std::string_view> names);

// The reason phrase of a common status ("Not Found" of 404); empty for the others.
std::string_view httpReasonPhrase(std::int64_t status);

// Whether a stored text can stand in a header line: no CR, LF or NUL.
bool isSafeHeaderText(std::string_view text);
// Whether a stored name can be a header's name: safe text without blanks or colons.
bool isHeaderName(std::string_view name);

} // namespace sarnika::sources
