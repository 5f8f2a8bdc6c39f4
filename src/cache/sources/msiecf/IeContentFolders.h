#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// Files taken from the cache folders of one content folder; beyond it the rest is left out.
// WinINet keeps a cache of 250 MiB or so, a few thousand files.
inline constexpr std::size_t kIeContentFolderMaxFiles = 100'000;

// Whether `folder` is a WinINet content folder ("Content.IE5", "IE", as in ".../INetCache/IE" or
// ".../Temporary Internet Files/Content.IE5", and their "Low" twins) with at least one cache
// folder of eight letters and digits in it. Looks at the folder's names only.
bool looksLikeIeContentFolders(const std::filesystem::path& folder);

// The files in the cache folders of a content folder, for when its index (index.dat or the
// WebCache database) is lost or unreadable: content entries with no URL of the browser's but a
// "file:" URL of the cached file, so that the file's own name ("movie[1].swf") tells its kind.
// Files whose paths are in `indexed` (the localFile of an index's records) are left out: when
// an index is present, it wins, and only files that none of its rows names are added. Links,
// and files other than regular ones, are not followed.
std::vector<CacheRecord> readIeContentFolders(const std::filesystem::path& folder,
                                              const std::set<std::string>& indexed,
                                              ReadReport& report);

} // namespace sarnika::sources
