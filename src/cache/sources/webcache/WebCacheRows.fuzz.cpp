#include "cache/sources/webcache/WebCacheRows.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The input is split at newlines into a container's name, directory and cache folders, then a
// row's URL, file name and response headers; the first byte picks the row's cache folder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> fields;
    while (fields.size() < 5) {
        const std::size_t end = bytes.find('\n');
        fields.push_back(bytes.substr(0, end));
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    }
    using namespace sarnika::sources;
    WebCacheContainer container;
    container.id = 1;
    container.name = fields[0];
    container.directory = fields[1];
    container.secureDirectories = splitSecureDirectories(fields[2]);
    WebCacheRow row;
    row.containerId = 1;
    row.url = fields[3];
    row.fileName = fields[4];
    row.secureDirectory = size > 0 ? data[0] % 8U : 0;
    row.responseHeaders = bytes;
    (void)webCacheRecords({container}, {row}, "/nonexistent/Local/Microsoft/Windows/WebCache",
                          "fuzz");
    return 0;
}
