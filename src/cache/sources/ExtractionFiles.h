#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "base/Result.h"

// The file operations of the extraction store, one implementation per platform. Everything
// below the root is reached one name at a time without following links: a link planted in our
// folder is never read, written through or descended into.
namespace sarnika::sources::extraction {

using ByteWriter = std::function<Status(std::string_view bytes)>;
using Producer = std::function<Status(const ByteWriter& write)>;

// Whether a name is one of our keys (16 lower-case hex digits).
bool isKey(std::string_view name);
// Whether a name is one of our partial files.
bool isPartialName(std::string_view name);

// The size of root/sourceKey/entryKey/fileName when that is a regular file reached through
// folders only; nothing otherwise.
std::optional<std::uint64_t> regularFileSize(const std::filesystem::path& root,
                                             std::string_view sourceKey, std::string_view entryKey,
                                             const std::string& fileName);

// Creates root/sourceKey/entryKey/fileName from what `produce` writes, whole or not at all. An
// existing file is left as it is.
Status createFile(const std::filesystem::path& root, std::string_view sourceKey,
                  std::string_view entryKey, const std::string& fileName, const Producer& produce);

// In root (no sourceKey) or root/sourceKey: removes the folders named by a key that are not
// kept, with what they hold; removes stray partial files from the kept ones.
void removeUnkept(const std::filesystem::path& root, std::optional<std::string_view> sourceKey,
                  const std::set<std::string>& kept);

} // namespace sarnika::sources::extraction
