#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "cache/sources/safari/BinaryPlist.h"

namespace sarnika::sources {

// Decodes an XML property list (<plist> with dict, key, array, string, integer, real, date, data,
// true and false), the form the older versions of the URL cache stored their responses in. The
// limits of binary lists hold (size, depth, values); DTDs and processing instructions are
// skipped, never followed; CDATA sections and character references are taken.
Result<PlistValue> parseXmlPlist(std::string_view bytes);

// A property list in either form, told by its first bytes.
Result<PlistValue> parsePropertyList(std::string_view bytes);

// Base64 (RFC 4648), blanks and line breaks ignored; nothing for any other character.
std::optional<std::string> base64Decode(std::string_view text);

} // namespace sarnika::sources
