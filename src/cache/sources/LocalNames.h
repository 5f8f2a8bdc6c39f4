#pragma once

#include <string>
#include <string_view>

namespace sarnika::sources {

// How a cached body is named on disk, WinINet-style: "<name>[1].<ext>".
struct LocalName {
    std::string stem;      // from the URL's last path segment, safe as a file name
    std::string extension; // lower case, without the dot; empty when unknown
};

// %XX sequences of a URL part decoded to their bytes; malformed ones stay as they are.
std::string percentDecode(std::string_view text);

// The extension a media type stands for ("application/x-shockwave-flash" gives "swf");
// empty for types that name no particular kind of file.
std::string extensionOfMediaType(std::string_view mediaType);

// The extension that a body's first bytes show ("swf" for FWS, CWS and ZWS); empty otherwise.
std::string extensionOfSignature(std::string_view head);

// The name of a body from its URL and Content-Type. The extension comes from the
// Content-Type where it names a known type, else from the URL's last segment; it stays empty
// when neither tells, for the caller to decide by the body's signature.
LocalName localNameFor(std::string_view url, std::string_view contentType);

// "<stem>[1].<ext>", or "<stem>[1]" without an extension.
std::string fileNameOf(const LocalName& name);

} // namespace sarnika::sources
