#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cache/CacheAnalyzer.h"
#include "curation/MovieArchive.h"

namespace sarnika::curation {

// A reference resolved against an absolute http, https or ftp URL as browsers resolve links,
// without its fragment; the scheme and host in lower case. Empty when the base is no such URL,
// or the reference names no file (another scheme such as javascript: or mailto:, a fragment
// alone, an empty text).
std::string resolveUrl(std::string_view base, std::string_view reference);

// The texts of a movie that name files by URL, resolved against the movie's URL: absolute URLs,
// and relative ones whose last part has a file extension ("config.xml", "levels/2.swf?v=3").
std::vector<std::string> linkedUrls(std::string_view movieUrl,
                                    const std::vector<std::string>& texts);

// Which cached files go with a set of movies: every file of the hosts named, and the files that
// a movie's bytes name by URL. A name without a query also takes the file with any query (games
// add cache-busting ones at run time).
class SiteAssets {
public:
    // Takes every file of `host` (any case; "www." is no part of it).
    void addHost(std::string_view host);
    // Takes the files that the movie stored in `localFile` names in its code and tags; at most
    // kSwfTextsLimit bytes of the movie are read. Answers how many URLs it named.
    std::size_t addNamedBy(std::string_view movieUrl, const std::string& localFile);
    void addUrl(std::string_view url);
    // Takes every file.
    void addAll() { m_all = true; }

    bool empty() const { return !m_all && m_hosts.empty() && m_urls.empty(); }
    bool takes(std::string_view url) const;

private:
    std::set<std::string, std::less<>> m_hosts;
    std::set<std::string, std::less<>> m_urls;
    std::set<std::string, std::less<>> m_urlsWithoutQuery;
    bool m_all = false;
};

// The content entries of a scan that `assets` takes, other than the movies of `movieUrls`,
// with their local file there: a file that several caches hold with the same URL and bytes once.
std::vector<const TEntryInfo*> siteEntries(const TCacheAnalyzer& analyzer, const SiteAssets& assets,
                                           const std::set<std::string>& movieUrls);

// An entry as an archive keeps it: its URL, local file, the headers the cache kept and its
// times (the content type is left to the caller).
ArchivedMovie archivedEntry(const TEntryInfo& entry);

} // namespace sarnika::curation
