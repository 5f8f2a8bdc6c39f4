#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cache/sources/ByteReader.h"
#include "cache/sources/ChromiumResponse.h"
#include "cache/sources/chromium/ChromiumCache.h"

namespace {

using sarnika::Result;
using sarnika::sources::ByteReader;

// A blockfile cache in memory, from pieces: u8 file (0 index, 1-4 data_0..3, 5-8 f_000001..4),
// u32 offset, u16 length, the bytes. Bytes no piece gives read as zero, so a seed holds only
// the parts of a real cache that are not (fuzz_seeds.py makes them).
class SparseFiles final : public sarnika::sources::BlockfileFiles {
public:
    explicit SparseFiles(ByteReader input) {
        static const char* const kNames[] = {"index",    "data_0",   "data_1",
                                             "data_2",   "data_3",   "f_000001",
                                             "f_000002", "f_000003", "f_000004"};
        while (input.remaining() > 0) {
            const auto file = input.u8();
            const auto offset = input.u32le();
            const auto length = input.u16le();
            const auto bytes = length ? input.bytes(*length) : std::nullopt;
            if (!bytes) {
                break;
            }
            // The index stays below 256 KiB and the other files below 8 MiB: enough for the
            // seeds, and each run stays quick.
            const std::size_t which = *file % 9;
            const std::uint64_t at = *offset & (which == 0 ? 0x3FFFFU : 0x7FFFFFU);
            auto& pieces = m_files[kNames[which]];
            pieces.size = std::max(pieces.size, at + bytes->size());
            pieces.parts.emplace_back(at, std::string(*bytes));
        }
    }

    std::optional<std::uint64_t> size(const std::string& name) override {
        const auto file = m_files.find(name);
        return file == m_files.end() ? std::nullopt : std::optional(file->second.size);
    }

    Result<std::string> read(const std::string& name, std::uint64_t offset,
                             std::uint64_t length) override {
        const auto file = m_files.find(name);
        if (file == m_files.end()) {
            return sarnika::makeError(sarnika::Error::Code::NotFound, name);
        }
        const Pieces& pieces = file->second;
        if (offset >= pieces.size) {
            return std::string();
        }
        std::string out(std::min(length, pieces.size - offset), '\0');
        // Later pieces overwrite earlier ones.
        for (const auto& [at, bytes] : pieces.parts) {
            const std::uint64_t begin = std::max(at, offset);
            const std::uint64_t end = std::min(at + bytes.size(), offset + out.size());
            if (begin < end) {
                std::copy_n(bytes.data() + (begin - at), end - begin,
                            out.data() + (begin - offset));
            }
        }
        return out;
    }

private:
    struct Pieces {
        std::uint64_t size = 0;
        std::vector<std::pair<std::uint64_t, std::string>> parts;
    };
    std::map<std::string, Pieces> m_files;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SparseFiles files{ByteReader(std::span(data, size))};
    sarnika::sources::ReadReport report;
    for (const auto& entry : sarnika::sources::parseChromiumBlockfile(files, report)) {
        if (!entry.bodyFile.empty()) {
            const auto fileSize = files.size(entry.bodyFile);
            if (!fileSize || entry.bodyOffset + entry.bodySize > *fileSize) {
                __builtin_trap(); // a body the listing promised but the files cannot hold
            }
        }
        (void)sarnika::sources::parseChromiumResponseInfo(entry.stream0);
        (void)sarnika::sources::urlFromChromiumKey(entry.key);
    }
    return 0;
}
