// Discovery by Windows' conventions: %LOCALAPPDATA% and %APPDATA% with the browsers' own folder
// names. Runs under Wine in the cross-build.
#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

#include "cache/sources/Discovery.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using Kind = SourceLocation::Kind;
using testing::TempDir;

const std::string kSqlite("SQLite format 3\0 rest of the header", 35);
const std::string kBlockfileIndex("\xC3\xCA\x03\xC1\x00\x00\x03\x00", 8);

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::string& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str())) { // NOLINT(concurrency-mt-unsafe)
            m_old = old;
        }
        _putenv_s(m_name.c_str(), value.c_str());
    }
    ~ScopedVariable() { _putenv_s(m_name.c_str(), m_old.value_or("").c_str()); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

TEST(WindowsDiscovery, FindsTheBrowsersUnderTheApplicationDataFolders) {
    const TempDir dir;
    const fs::path local = dir.path() / "Local";
    const fs::path roaming = dir.path() / "Roaming";
    dir.write("Local/Google/Chrome/User Data/Default/Cache/Cache_Data/index", kBlockfileIndex);
    dir.write("Local/Google/Chrome/User Data/Default/Cache/Cache_Data/data_0", "x");
    dir.write("Local/Google/Chrome/User Data/Default/Network/Cookies", kSqlite);
    dir.write("Local/Google/Chrome/User Data/Default/History", kSqlite);
    dir.write("Local/Microsoft/Edge/User Data/Profile 1/Cache/Cache_Data/0123456789abcdef_0", "x");
    dir.write("Local/Mozilla/Firefox/Profiles/abc.default/cache2/entries/ABCDEF", "x");
    dir.write("Roaming/Mozilla/Firefox/Profiles/abc.default/cookies.sqlite", kSqlite);
    dir.write("Roaming/Mozilla/Firefox/Profiles/abc.default/places.sqlite", kSqlite);
    // Outside every browser's folder, or not what it claims to be: left alone.
    dir.write("Local/Some Tool/Cache/index", kBlockfileIndex);
    dir.write("Local/Google/Chrome/User Data/Default/Cache/Cache_Data.bak/index", "no index");
    dir.write("Roaming/Mozilla/Firefox/Profiles/old.default/places.sqlite", "not SQLite");

    UserEnvironment environment;
    environment.home = dir.path();
    environment.cacheHome = local;
    environment.configHome = roaming;
    const std::vector<SourceLocation> found = discoverSources(environment);

    std::vector<std::pair<Kind, std::string>> relative;
    for (const SourceLocation& source : found) {
        relative.emplace_back(
            source.kind,
            source.path.lexically_relative(fs::canonical(dir.path())).generic_string());
    }
    std::sort(relative.begin(), relative.end());
    const std::vector<std::pair<Kind, std::string>> expected = {
        {Kind::ChromiumCache, "Local/Google/Chrome/User Data/Default/Cache/Cache_Data"},
        {Kind::ChromiumCache, "Local/Microsoft/Edge/User Data/Profile 1/Cache/Cache_Data"},
        {Kind::ChromiumCookies, "Local/Google/Chrome/User Data/Default/Network/Cookies"},
        {Kind::ChromiumHistory, "Local/Google/Chrome/User Data/Default/History"},
        {Kind::FirefoxCache, "Local/Mozilla/Firefox/Profiles/abc.default/cache2"},
        {Kind::FirefoxCookies, "Roaming/Mozilla/Firefox/Profiles/abc.default/cookies.sqlite"},
        {Kind::FirefoxHistory, "Roaming/Mozilla/Firefox/Profiles/abc.default/places.sqlite"},
    };
    EXPECT_EQ(relative, expected);

    const auto described = [&](Kind kind) {
        const auto source = std::find_if(found.begin(), found.end(),
                                         [kind](const auto& s) { return s.kind == kind; });
        return source != found.end() ? describeSource(*source) : SourceDescription{};
    };
    EXPECT_EQ(described(Kind::ChromiumCache).family, "Google Chrome");
    EXPECT_EQ(described(Kind::ChromiumCache).profile, "Default");
    EXPECT_EQ(described(Kind::FirefoxCache).family, "Firefox");
    EXPECT_EQ(described(Kind::FirefoxCache).profile, "abc.default");
}

TEST(WindowsDiscovery, EnvironmentComesFromTheWindowsVariables) {
    const ScopedVariable profile("USERPROFILE", "C:\\Users\\ann");
    const ScopedVariable roaming("APPDATA", "C:\\Users\\ann\\AppData\\Roaming");
    const ScopedVariable user("USERNAME", "ann");
    {
        const ScopedVariable local("LOCALAPPDATA", "D:\\Local");
        const UserEnvironment environment = UserEnvironment::current();
        EXPECT_EQ(environment.home, fs::path("C:\\Users\\ann"));
        EXPECT_EQ(environment.configHome, fs::path("C:\\Users\\ann\\AppData\\Roaming"));
        EXPECT_EQ(environment.cacheHome, fs::path("D:\\Local"));
        EXPECT_EQ(environment.userName, "ann");
        EXPECT_TRUE(environment.winePrefixes.empty());
    }
    // A relative or missing %LOCALAPPDATA% counts for nothing: the profile's default stands.
    const ScopedVariable local("LOCALAPPDATA", "Local");
    EXPECT_EQ(UserEnvironment::current().cacheHome, fs::path("C:\\Users\\ann\\AppData\\Local"));
}

} // namespace
} // namespace sarnika::sources
