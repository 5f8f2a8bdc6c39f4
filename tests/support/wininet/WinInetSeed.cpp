#include "support/wininet/WinInetSeed.h"

#include <array>
#include <fstream>

#include <windows.h>
#include <wininet.h>

namespace sarnika::wininet {

std::vector<SeedEntry> sampleEntries() {
    const std::string movieHead = "FWS\x0A";
    return {
        {"http://flash.example.com/a/Intro.SWF", movieHead + std::string(300, 'i'), "SWF",
         NORMAL_CACHE_ENTRY},
        {"http://games.example.org/play/clip.swf?a=1", movieHead + std::string(1000, 'c'), "swf",
         NORMAL_CACHE_ENTRY},
        {"http://music.example.com/song.mp3", std::string(2000, 'm'), "mp3", NORMAL_CACHE_ENTRY},
        {"http://flash.example.com/index.html", "<html></html>", "htm", NORMAL_CACHE_ENTRY},
        {"Cookie:user@flash.example.com/", "name\nvalue\nflash.example.com/\n", "txt",
         COOKIE_CACHE_ENTRY},
        {"Visited: user@http://flash.example.com/index.html", "", "", URLHISTORY_CACHE_ENTRY,
         false},
    };
}

std::string commitEntry(const SeedEntry& entry, std::uint64_t lastModified, bool& ok) {
    ok = false;
    std::array<char, MAX_PATH> file{};
    if (entry.withFile) {
        if (CreateUrlCacheEntryA(entry.url.c_str(), static_cast<DWORD>(entry.body.size()),
                                 entry.extension.c_str(), file.data(), 0) == 0) {
            return {};
        }
        std::ofstream out(file.data(), std::ios::binary | std::ios::trunc);
        out.write(entry.body.data(), static_cast<std::streamsize>(entry.body.size()));
        if (!out.flush()) {
            return {};
        }
    }
    FILETIME modified{};
    modified.dwLowDateTime = static_cast<DWORD>(lastModified & 0xFFFFFFFFU);
    modified.dwHighDateTime = static_cast<DWORD>(lastModified >> 32U);
    const FILETIME expires{};
    static constexpr char kHeaders[] =
        "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n";
    ok = CommitUrlCacheEntryA(
             entry.url.c_str(), entry.withFile ? file.data() : nullptr, expires, modified,
             entry.type, reinterpret_cast<BYTE*>(const_cast<char*>(kHeaders)),
             static_cast<DWORD>(sizeof kHeaders - 1),
             entry.extension.empty() ? nullptr : entry.extension.c_str(), nullptr) != 0;
    return ok ? std::string(file.data()) : std::string();
}

void clearCache() {
    std::vector<std::string> urls;
    std::vector<unsigned char> buffer(8192);
    auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    for (const char* pattern : {"", "Cookie:", "Visited:"}) {
        auto size = static_cast<DWORD>(buffer.size());
        HANDLE walk = FindFirstUrlCacheEntryA(pattern, info, &size);
        if (walk == nullptr) {
            continue;
        }
        do {
            urls.emplace_back(info->lpszSourceUrlName);
            size = static_cast<DWORD>(buffer.size());
        } while (FindNextUrlCacheEntryA(walk, info, &size) != 0);
        FindCloseUrlCache(walk);
    }
    for (const std::string& url : urls) {
        DeleteUrlCacheEntryA(url.c_str());
    }
}

} // namespace sarnika::wininet
