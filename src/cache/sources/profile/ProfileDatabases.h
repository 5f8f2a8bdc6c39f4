#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// Readers of the browsers' cookie and history databases. They never write beside a database:
// it is opened immutable, or, when a -wal or hot -journal holds changes, a private copy is read.
// `user` is the account name the URLs carry.
//
// Cookies: one record per host and path, as the platform's cookie store keeps one entry per
// cookie file: url "Cookie:<user>@<host><path>" (a leading dot of the host removed),
// lastAccess = latest last access, lastModified = latest creation, expires = latest expiry.
// History: one record per visited URL: url "Visited: <user>@<url>", lastAccess = last visit,
// useCount = visit count. Neither has headers or a body.

// Chromium's `Cookies` (times in microseconds since 1601).
std::vector<CacheRecord> readChromiumCookies(const std::filesystem::path& cookiesDb,
                                             std::string_view user, ReadReport& report);
// Chromium's `History`.
std::vector<CacheRecord> readChromiumHistory(const std::filesystem::path& historyDb,
                                             std::string_view user, ReadReport& report);
// Firefox's cookies.sqlite (access and creation in microseconds since 1970; expiry in seconds,
// in milliseconds from schema 16 on).
std::vector<CacheRecord> readFirefoxCookies(const std::filesystem::path& cookiesSqlite,
                                            std::string_view user, ReadReport& report);
// Firefox's places.sqlite; bookmarks never visited are left out.
std::vector<CacheRecord> readFirefoxHistory(const std::filesystem::path& placesSqlite,
                                            std::string_view user, ReadReport& report);

} // namespace sarnika::sources
