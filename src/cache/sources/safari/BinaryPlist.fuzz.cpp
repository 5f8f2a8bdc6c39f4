#include "cache/sources/safari/BinaryPlist.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cache/sources/safari/SafariCache.h"
#include "cache/sources/safari/XmlPlist.h"

// The input is decoded as a property list of either form, and as a cached response whose
// headers are made.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sarnika::sources;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)parseBinaryPlist(bytes);
    (void)parseXmlPlist(bytes);
    const auto response = parseSafariResponse(bytes);
    if (response) {
        // Whatever the object holds, the headers stay lines of their own, ended by one blank.
        const std::string headers = safariHeaders(*response, size);
        const std::size_t end = headers.find("\r\n\r\n");
        if (!headers.empty() && (!headers.starts_with("HTTP/1.1 ") || end + 4 != headers.size() ||
                                 headers.find('\0') != std::string::npos)) {
            std::abort();
        }
    }
    return 0;
}
