#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/DateTime.h"

namespace sarnika::sources {

// An HTTP date (IMF-fixdate, the obsolete RFC 850 form, or asctime) as a UTC file time.
std::optional<FileTime> parseHttpDate(std::string_view text);

// The media type of a Content-Type value, lower-cased, without parameters.
std::string mediaTypeOf(std::string_view contentType);

} // namespace sarnika::sources
