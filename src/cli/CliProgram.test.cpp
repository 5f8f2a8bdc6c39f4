// Runs the built sarnika-cli on the made-here caches, with HOME in a temporary folder.
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <sstream>

#include <gtest/gtest.h>

#include "support/PosixFiles.h"
#include "support/TempDir.h"

namespace {

using sarnika::testing::contentOf;

namespace fs = std::filesystem;
using sarnika::testing::sharedDir;
using sarnika::testing::TempDir;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    return fields;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Content and modification time of every file below a folder.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file()) {
            files[item.path().string()] =
                contentOf(item.path()) + "@" +
                std::to_string(fs::last_write_time(item.path()).time_since_epoch().count());
        }
    }
    return files;
}

class CliProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>();
        const fs::path samples = sharedDir() / "testdata" / "made-here";
        for (const char* tarball : {"chromium-cache.tar.gz", "chromium-blockfile-cache.tar.gz",
                                    "chromium-sql-cache.tar.gz", "firefox-cache.tar.gz"}) {
            const std::string command =
                "tar -C " + quoted(s_dir->path()) + " -xzf " + quoted(samples / tarball);
            ASSERT_EQ(std::system(command.c_str()), 0) << command; // NOLINT
        }
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    static fs::path root() { return s_dir->path(); }
    static fs::path site() { return sharedDir() / "testdata" / "made-here" / "site"; }

    // Runs the program with HOME at root()/home and no XDG or Wine variables.
    static CliRun cli(const std::string& arguments, const fs::path& home = root() / "home") {
        static int runs = 0;
        const fs::path out = root() / ("out" + std::to_string(++runs));
        const std::string command =
            "env -u XDG_CACHE_HOME -u XDG_CONFIG_HOME -u WINEPREFIX HOME=" + quoted(home) +
            " " SARNIKA_CLI_PATH " " + arguments + " >" + quoted(out) + ".stdout 2>" + quoted(out) +
            ".stderr";
        const int status = std::system(command.c_str()); // NOLINT
        CliRun run;
        run.exitCode = sarnika::testing::childEndOf(status).exitCode;
        run.out = contentOf(out.string() + ".stdout");
        run.err = contentOf(out.string() + ".stderr");
        return run;
    }

    // Runs a Python script on the given file; answers what it prints.
    static std::string python(const std::string& script, const fs::path& file) {
        const fs::path scriptFile = root() / "check.py";
        std::ofstream(scriptFile) << script;
        const fs::path output = root() / "python.out";
        const std::string command = "python3 " + quoted(scriptFile) + " " + quoted(file) + " " +
                                    quoted(site()) + " >" + quoted(output) + " 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << contentOf(output); // NOLINT
        return contentOf(output);
    }

    // The served file of each URL path, from the site's manifest.
    static std::map<std::string, std::string> servedFiles() {
        std::map<std::string, std::string> files;
        for (const std::string& line : linesOf(python(R"(
import json, sys
for e in json.load(open(sys.argv[2] + '/manifest.json')):
    print(e['path'] + '\t' + e['file'])
)",
                                                      site()))) {
            const auto fields = fieldsOf(line);
            files[fields.at(0)] = fields.at(1);
        }
        return files;
    }

    static std::string pathOfUrl(const std::string& url) {
        return url.substr(url.find('/', url.find("://") + 3));
    }

    static inline std::unique_ptr<TempDir> s_dir;
};

const std::vector<std::pair<std::string, std::string>> kLargestFirst = {
    {"huge.swf", "614400"}, {"big.swf", "204800"},  {"packed.swf", "51226"},
    {"gz.swf", "30720"},    {"Intro.SWF", "20480"}, {"cross.swf", "12288"},
    {"clip.swf", "5120"},   {"long.swf", "4096"},   {"tiny.swf", "1024"}};

TEST_F(CliProgram, ListsEveryMovieLargestFirstWithTheServedBytes) {
    const CliRun run = cli("list");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto lines = linesOf(run.out);
    // The home holds a Chromium and a Firefox cache of the same pages: each movie comes once.
    ASSERT_EQ(lines.size(), kLargestFirst.size()) << run.out;
    const auto served = servedFiles();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto fields = fieldsOf(lines[i]);
        ASSERT_EQ(fields.size(), 5U) << lines[i];
        EXPECT_EQ(fields[0], kLargestFirst[i].first);
        EXPECT_EQ(fields[1], kLargestFirst[i].second);
        EXPECT_EQ(fields[2], fields[0] == "cross.swf" ? "localhost:18473" : "127.0.0.1:18473");
        EXPECT_EQ(contentOf(fields[4]), contentOf(site() / served.at(pathOfUrl(fields[3]))));
    }
    EXPECT_NE(run.out.find("\thttp://127.0.0.1:18473/swf/clip.swf?a=1\t"), std::string::npos);

    // The JSON gives the same rows, plus the suggested name and the source.
    const CliRun json = cli("list --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::ofstream(root() / "list.json") << json.out;
    EXPECT_EQ(python(R"(
import json, sys
for m in json.load(open(sys.argv[1])):
    size = '-' if m['size'] is None else str(m['size'])
    print('\t'.join([m['name'], size, m['host'], m['url'], m['localFile']]))
)",
                     root() / "list.json"),
              run.out);
    EXPECT_EQ(python(R"(
import json, sys
movies = json.load(open(sys.argv[1]))
print(all(m['source']['family'] in ('Chromium', 'Firefox') for m in movies),
      movies[0]['suggestedName'], sum(m['sniffed'] for m in movies))
)",
                     root() / "list.json"),
              "True huge.swf 0\n");
    // Every listed movie carries its header.
    EXPECT_EQ(python(R"(
import json, sys
movies = json.load(open(sys.argv[1]))
print(all(m['swf']['signature'] in ('FWS', 'CWS') for m in movies), movies[0]['swf']['width'],
      movies[0]['swf']['height'], movies[0]['swf']['frameCount'])
)",
                     root() / "list.json"),
              "True 550 400 1\n");
}

TEST_F(CliProgram, ReadsCachesOfOtherFolders) {
    const CliRun sql = cli("list --cache " + quoted(root() / "home-sql"));
    ASSERT_EQ(sql.exitCode, 0) << sql.err;
    const auto lines = linesOf(sql.out);
    ASSERT_EQ(lines.size(), kLargestFirst.size()) << sql.out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(fieldsOf(lines[i]).at(0), kLargestFirst[i].first);
        // Bodies of other folders are copied out under the user's own cache folder.
        EXPECT_EQ(fieldsOf(lines[i]).at(4).rfind((root() / "home/.cache/sarnika/").string(), 0),
                  0U);
    }
    const CliRun two = cli("--cache " + quoted(root() / "home-sql") +
                           " list --cache=" + quoted(root() / "home-blockfile"));
    ASSERT_EQ(two.exitCode, 0) << two.err;
    EXPECT_EQ(linesOf(two.out).size(), kLargestFirst.size());

    const CliRun missing = cli("list --cache " + quoted(root() / "nowhere"));
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find((root() / "nowhere").string() + ": no such file or folder"),
              std::string::npos)
        << missing.err;
}

// Caches of the Flash years, read in place from the samples: every movie of an Opera 11 cache
// saved whole (the Flash header's length is the file's), and an old Firefox cache without
// movies named as read.
TEST_F(CliProgram, SavesTheMoviesOfOldOperaAndFirefoxCaches) {
    const fs::path samples = sharedDir() / "testdata" / "external";
    const fs::path saved = root() / "opera-saved";
    const CliRun opera =
        cli("--cache " + quoted(samples / "opera11-cache") + " save-all " + quoted(saved));
    ASSERT_EQ(opera.exitCode, 0) << opera.err;
    std::map<std::uint64_t, int> sizes;
    for (const auto& item : fs::directory_iterator(saved)) {
        const std::string bytes = contentOf(item.path());
        ASSERT_GE(bytes.size(), 8U);
        const std::string signature = bytes.substr(0, 3);
        EXPECT_TRUE(signature == "FWS" || signature == "CWS") << item.path();
        const auto declared = static_cast<std::uint32_t>(
            static_cast<unsigned char>(bytes[4]) | static_cast<unsigned char>(bytes[5]) << 8U |
            static_cast<unsigned char>(bytes[6]) << 16U |
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[7])) << 24U);
        if (signature == "FWS") {
            EXPECT_EQ(declared, bytes.size()) << item.path();
        }
        ++sizes[bytes.size()];
    }
    EXPECT_EQ(sizes[322205], 3);
    EXPECT_EQ(sizes[36], 4);
    EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), 0,
                              [](int sum, const auto& size) { return sum + size.second; }),
              12);

    const CliRun firefox = cli("list --cache " + quoted(samples / "firefox-oldcache"));
    EXPECT_EQ(firefox.exitCode, 0);
    EXPECT_EQ(firefox.out, "");
    EXPECT_NE(firefox.err.find("in the 1 browser cache(s) read"), std::string::npos) << firefox.err;
}

// The other files of the movies' sites come along where the caches hold them, in the site's
// own layout and bytes; a host that no movie came from adds nothing.
TEST_F(CliProgram, WithAssetsSavesTheFilesOfTheMoviesSites) {
    const fs::path saved = root() / "with-assets";
    const CliRun run = cli("save-all " + quoted(saved) + " --with-assets");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto served = servedFiles();
    const fs::path siteFolder = saved / "127.0.0.1_18473";
    for (const char* path : {"/img/pic.png", "/media/song.mp3"}) {
        const fs::path file = siteFolder / fs::path(path).relative_path();
        ASSERT_TRUE(fs::is_regular_file(file)) << file << "\n" << run.out;
        EXPECT_EQ(contentOf(file), contentOf(site() / served.at(path))) << path;
    }
    // The pages that embed the movies.
    EXPECT_TRUE(fs::is_regular_file(siteFolder / "index.html")) << run.out;
    EXPECT_TRUE(fs::is_regular_file(siteFolder / "page2.html")) << run.out;
    // Held by two browsers with the same bytes: saved once.
    EXPECT_FALSE(fs::exists(siteFolder / "img" / "pic-1.png"));
    EXPECT_NE(run.out.find(" other file(s) of their sites saved in "), std::string::npos);

    const fs::path archive = root() / "other-host.warc";
    const CliRun other = cli("warc " + quoted(archive) + " --hosts example.invalid");
    ASSERT_EQ(other.exitCode, 0) << other.err;
    const std::string records = contentOf(archive);
    std::size_t responses = 0;
    for (std::size_t at = records.find("WARC-Type: response"); at != std::string::npos;
         at = records.find("WARC-Type: response", at + 1)) {
        ++responses;
    }
    EXPECT_EQ(responses, linesOf(cli("list").out).size());
}

// IE folders whose index is lost give their files by their own names; a WebCache database
// with its rows is read where it lies.
TEST_F(CliProgram, ReadsIeFoldersWithoutIndexAndWebCaches) {
    const fs::path samples = sharedDir() / "testdata" / "external";
    const fs::path disk = root() / "ie-disk";
    fs::copy(samples / "inetcache-no-index", disk, fs::copy_options::recursive);
    const fs::path movie =
        disk / "Temporary Internet Files" / "Content.IE5" / "HDGR3A25" / "intro[1].swf";
    fs::copy_file(sharedDir() / "testdata" / "swf" / "lessthan_fws_v4_as1.swf", movie);
    const CliRun folders = cli("list --cache " + quoted(disk));
    ASSERT_EQ(folders.exitCode, 0) << folders.err;
    const std::vector<std::string> lines = linesOf(folders.out);
    ASSERT_EQ(lines.size(), 1U) << folders.out;
    EXPECT_EQ(fieldsOf(lines[0])[0], "intro[1].swf");
    EXPECT_EQ(fieldsOf(lines[0])[3].rfind("file:", 0), 0U) << lines[0];

    const CliRun webCache = cli("list --cache " + quoted(samples / "webcache-win10"));
    EXPECT_EQ(webCache.exitCode, 0);
    EXPECT_NE(webCache.err.find("Internet Explorer: "), std::string::npos) << webCache.err;
    EXPECT_NE(webCache.err.find("WebCacheV01.dat"), std::string::npos) << webCache.err;
}

// A disk put together from the samples: two users of Windows XP and one of Windows 10, with
// Internet Explorer, Firefox (before and with cache2), Chromium and Opera caches in their
// places. Every movie names the user whose cache it came from.
TEST_F(CliProgram, ReadsEveryUserOfAWholeDisk) {
    const fs::path testdata = sharedDir() / "testdata";
    const fs::path disk = root() / "disk";
    const fs::path alice = disk / "Documents and Settings/Alice";
    const fs::path bob = disk / "Documents and Settings/Bob";
    const fs::path carol = disk / "Users/Carol";
    const fs::path ie = alice / "Local Settings/Temporary Internet Files/Content.IE5";
    const auto copy = [](const fs::path& from, const fs::path& to) {
        fs::create_directories(to.parent_path());
        fs::copy(from, to, fs::copy_options::recursive);
    };
    copy(testdata / "msiecf/wine8_Content.IE5_index.dat", ie / "index.dat");
    copy(testdata / "swf/uncompressed_fws.swf", ie / "FYP4GFY2/Intro[0].SWF");
    copy(testdata / "swf/zlib_cws.swf", ie / "NEGUNIP9/clip[0].swf");
    copy(testdata / "external/firefox-oldcache/firefox_cache1",
         alice / "Local Settings/Application Data/Mozilla/Firefox/Profiles/a.default/Cache");
    // Names on a disk from Windows may come in another case.
    copy(testdata / "external/opera11-cache/cache",
         bob / "LOCAL SETTINGS/Application Data/Opera/Opera/cache");
    copy(root() / "home/.cache/chromium/Default/Cache",
         carol / "AppData/Local/Chromium/User Data/Default/Cache");
    copy(testdata / "firefox/cache2_v3_firefox67_dfirlabs",
         carol / "AppData/Local/Mozilla/Firefox/Profiles/c.default/cache2");

    const CliRun run = cli("list --json --cache " + quoted(disk));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::ofstream(root() / "disk.json") << run.out;
    EXPECT_EQ(python(R"(
import collections, json, sys
movies = json.load(open(sys.argv[1]))
seen = collections.Counter((m['source']['family'], m['source']['user']) for m in movies)
print(sorted(seen.items()))
)",
                     root() / "disk.json"),
              "[(('Chromium', 'Carol'), 9), (('Internet Explorer', 'Alice'), 2), "
              "(('Opera', 'Bob'), 12)]\n");
}

// Escape sequences from cache file names and the paths given: an OSC title change, a screen
// clear, a C1 CSI and a bidirectional override must reach the terminal as visible text.
TEST_F(CliProgram, WarningsShowControlSequencesEscaped) {
    // U+202E, put together so that the source itself holds no override.
    const std::string override = std::string("\xe2\x80") + '\xae';
    const std::string evil = "e\x1b]0;owned\x07\x1b[2J\xc2\x9b"
                             "2J" +
                             override;
    const std::string shown = R"(e\x1B]0;owned\x07\x1B[2J\u{009B}2J\u{202E})";
    const fs::path cache = root() / "evil" / "cache2";
    fs::create_directories(cache / "entries");
    std::ofstream(cache / "entries" / evil) << "not an entry";
    const CliRun run = cli("list --cache " + quoted(root() / "evil"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(shown + ": "), std::string::npos) << run.err;
    const CliRun missing = cli("list --cache " + quoted(root() / evil));
    EXPECT_NE(missing.err.find(shown + ": no such file or folder"), std::string::npos)
        << missing.err;
    for (const std::string& err : {run.err, missing.err}) {
        EXPECT_EQ(err.find('\x1b'), std::string::npos);
        EXPECT_EQ(err.find("\xc2\x9b"), std::string::npos);
        EXPECT_EQ(err.find(override), std::string::npos);
    }
}

TEST_F(CliProgram, SniffAddsMoviesFoundByTheirFirstBytes) {
    const CliRun plain = cli("list");
    const CliRun sniff = cli("--sniff list");
    ASSERT_EQ(sniff.exitCode, 0) << sniff.err;
    ASSERT_EQ(sniff.out.rfind(plain.out, 0), 0U);
    std::vector<std::string> added;
    for (const std::string& line : linesOf(sniff.out.substr(plain.out.size()))) {
        added.push_back(fieldsOf(line).at(3).substr(std::string("http://127.0.0.1:18473").size()));
    }
    EXPECT_EQ(added, (std::vector<std::string>{"/play/movie7", "/dl?id=9"}));
}

// A blockfile cache whose response infos lie in a lost data file: the movies still come,
// named from their URL or their first bytes, with the bytes served (decoded where stored so).
TEST_F(CliProgram, MoviesWhoseHeadersAreLostAreSavedWhole) {
    const fs::path cache = root() / "headers-lost";
    fs::copy(root() / "home-blockfile", cache, fs::copy_options::recursive);
    const fs::path data = cache / ".cache/chromium/Default/Cache/Cache_Data";
    // Points the response info of three entries into data_5, which does not exist.
    EXPECT_EQ(python(R"(
import struct, sys
idx = open(sys.argv[1] + '/index', 'rb').read()
data = bytearray(open(sys.argv[1] + '/data_1', 'rb').read())
moved = 0
for at in range(368, len(idx), 4):
    addr, = struct.unpack_from('<I', idx, at)
    entry = 8192 + (addr & 0xFFFF) * 256
    if addr and data[entry + 96:entry + 96 + struct.unpack_from('<i', data, entry + 32)[0]].endswith((b'/big.swf', b'/gz.swf', b'/movie7')):
        struct.pack_into('<I', data, entry + 56, 0xB0050000 + moved)
        moved += 1
open(sys.argv[1] + '/data_1', 'wb').write(data)
print(moved)
)",
                     data),
              "3\n");
    const fs::path folder = root() / "saved-headers-lost";
    const CliRun run = cli("--sniff --cache " + quoted(cache) + " save-all " + quoted(folder));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("11 movie(s) saved"), std::string::npos) << run.out;
    for (const auto& [saved, served] : std::map<std::string, std::string>{
             {"big.swf.swf", "big.swf"}, {"gz.swf.swf", "gz.swf"}, {"movie7.swf", "movie7.bin"}}) {
        EXPECT_TRUE(contentOf(folder / saved) == contentOf(site() / served)) << saved;
    }
}

TEST_F(CliProgram, ListAllGivesEveryEntryInTheShapeOfTheMovieList) {
    const CliRun all = cli("list --all");
    ASSERT_EQ(all.exitCode, 0) << all.err;
    std::map<std::string, int> counts;
    for (const std::string& line : linesOf(all.out)) {
        const auto fields = fieldsOf(line);
        ASSERT_EQ(fields.size(), 6U) << line;
        ++counts[fields[0] + " " + fields[1]];
    }
    // Chromium and Firefox each cached the site: 12 multimedia bodies, 1 picture, 2 pages.
    EXPECT_EQ(counts, (std::map<std::string, int>{{"cookie -", 2},
                                                  {"history -", 6},
                                                  {"content image", 2},
                                                  {"content page", 4},
                                                  {"content multimedia", 24},
                                                  {"content other", 1}}));
    // Each movie of the list is there with the same URL, size and local file.
    const CliRun movies = cli("list");
    for (const std::string& line : linesOf(movies.out)) {
        const auto fields = fieldsOf(line);
        EXPECT_NE(all.out.find("content\tmultimedia\t" + fields.at(3) + "\t" + fields.at(1) + "\t" +
                               fields.at(4) + "\t"),
                  std::string::npos)
            << line;
    }

    const CliRun json = cli("list --all --json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::ofstream(root() / "all-entries.json") << json.out;
    std::ofstream(root() / "all-movies.json") << cli("list --json").out;
    EXPECT_EQ(python(R"(
import json, os, sys
entries = json.load(open(sys.argv[1] + '/all-entries.json'))
movies = json.load(open(sys.argv[1] + '/all-movies.json'))
print(len(entries), all(list(e) == ['group', 'category', 'url', 'size', 'localFile',
                                    'localFileBytes', 'source'] for e in entries))
# The members a movie has in both lists agree.
print(all(any(all(e[k] == m[k] for k in ('url', 'size', 'localFile', 'localFileBytes', 'source'))
              for e in entries) for m in movies))
# Both browsers hold the same cookie and visits: each entry names its own.
print(*sorted(e['source']['family'][0] + e['group'][0] for e in entries if e['group'] != 'content'))
page = [e for e in entries if e['url'] == 'http://127.0.0.1:18473/index.html' and e['source']['family'] == 'Chromium']
e = page[0]
print(len(page), e['group'], e['category'], e['url'], e['size'], e['localFile'], e['localFileBytes'],
      e['source']['profile'], os.path.relpath(e['source']['folder'], sys.argv[1]))
)",
                     root()),
              "39 True\nTrue\nCc Ch Ch Ch Fc Fh Fh Fh\n1 content page "
              "http://127.0.0.1:18473/index.html 1221 None None "
              "Default home/.cache/chromium/Default/Cache/Cache_Data\n");
}

TEST_F(CliProgram, SaveAllTwiceKeepsEveryEarlierFile) {
    const fs::path folder = root() / "saved" / "new";
    const CliRun first = cli("save-all " + quoted(folder));
    ASSERT_EQ(first.exitCode, 0) << first.err;
    // Both browsers cached the same movies: one file each.
    EXPECT_NE(first.out.find("9 movie(s) saved"), std::string::npos) << first.out;
    for (const auto& [name, size] : kLargestFirst) {
        const std::string original = contentOf(site() / name);
        EXPECT_EQ(contentOf(folder / (name + ".swf")), original) << name;
        EXPECT_FALSE(fs::exists(folder / (name + "-1.swf"))) << name;
    }
    const auto before = snapshot(folder);
    ASSERT_EQ(before.size(), 9U);

    const CliRun second = cli("save-all " + quoted(folder));
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_NE(
        second.out.find(folder.string() + "/huge.swf-1.swf\thttp://127.0.0.1:18473/swf/huge.swf"),
        std::string::npos);
    auto after = snapshot(folder);
    EXPECT_EQ(after.size(), 18U);
    for (const auto& [file, state] : before) {
        EXPECT_EQ(after[file], state) << file;
    }
    EXPECT_EQ(contentOf(folder / "tiny.swf-1.swf"), contentOf(site() / "tiny.swf"));
}

TEST_F(CliProgram, KeepPathsWithManifest) {
    const fs::path folder = root() / "kept";
    const fs::path manifest = root() / "manifest.jsonl";
    const CliRun run =
        cli("--sniff save-all " + quoted(folder) + " --keep-paths --manifest " + quoted(manifest));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* file : {"127.0.0.1_18473/swf/huge.swf", "127.0.0.1_18473/swf/Intro.SWF",
                             "localhost_18473/swf/cross.swf", "127.0.0.1_18473/play/movie7.swf"}) {
        EXPECT_TRUE(fs::is_regular_file(folder / file)) << file;
    }
    // The second browser's copy of the same bytes is not saved again.
    EXPECT_FALSE(fs::exists(folder / "127.0.0.1_18473/swf/huge-1.swf"));
    EXPECT_EQ(contentOf(folder / "127.0.0.1_18473/dl.swf"), contentOf(site() / "dl9.bin"));
    // Every line names a saved file with its size and hash, the query, the cache and the times.
    EXPECT_EQ(python(R"(
import hashlib, json, sys
served = {e['path']: e for e in json.load(open(sys.argv[2] + '/manifest.json'))}
lines = [json.loads(l) for l in open(sys.argv[1])]
for m in lines:
    data = open(m['saved'], 'rb').read()
    path = m['url'].split('18473', 1)[1]
    assert m['size'] == len(data) == served[path]['size'], m
    assert m['sha256'] == hashlib.sha256(data).hexdigest() == served[path]['sha256'], m
    assert m['query'] == (path.split('?', 1)[1] if '?' in path else None), m
    assert m['source']['family'] in ('Chromium', 'Firefox') and m['source']['folder'], m
    assert m['lastModified'] == '2024-01-01T00:00:00Z', m
    assert m['lastAccess'].startswith('20') and m['lastAccess'].endswith('Z'), m
print(len(lines), sum(m['expires'] is None for m in lines) > 0)
)",
                     manifest),
              "11 True\n");
}

TEST_F(CliProgram, ExitCodesForBadArgumentsFoldersAndFailedCopies) {
    const CliRun bad = cli("list --bogus");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown option --bogus"), std::string::npos);
    EXPECT_EQ(cli("").exitCode, 2);
    const CliRun help = cli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("save-all DIR"), std::string::npos);
    EXPECT_EQ(cli("--version").out.rfind("sarnika-cli ", 0), 0U);

    std::ofstream(root() / "plain-file") << "x";
    const CliRun underFile = cli("save-all " + quoted(root() / "plain-file" / "dir"));
    EXPECT_EQ(underFile.exitCode, 2);
    EXPECT_NE(underFile.err.find("cannot make the folder"), std::string::npos) << underFile.err;
    EXPECT_EQ(underFile.out, "");

    // A folder where a movie's file would go makes those copies fail, not the others.
    const fs::path folder = root() / "blocked";
    fs::create_directories(folder / "huge.swf.swf");
    const CliRun blocked = cli("save-all " + quoted(folder));
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.err.find("cannot save http://127.0.0.1:18473/swf/huge.swf: "),
              std::string::npos)
        << blocked.err;
    EXPECT_NE(blocked.err.find("1 movie(s) could not be saved"), std::string::npos);
    EXPECT_NE(blocked.out.find("8 movie(s) saved"), std::string::npos) << blocked.out;
}

TEST_F(CliProgram, NothingFoundSaysWhichCachesWereRead) {
    const fs::path emptyHome = root() / "empty-home";
    fs::create_directories(emptyHome);
    const CliRun none = cli("list", emptyHome);
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "sarnika-cli: no Flash movie found: no browser cache was found for this "
                        "user\n");

    const fs::path cache = root() / "empty-cache" / "profile" / "cache2";
    fs::create_directories(cache / "entries");
    const CliRun empty = cli("list --cache " + quoted(root() / "empty-cache"), emptyHome);
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "");
    EXPECT_NE(empty.err.find("no Flash movie found in the 1 browser cache(s) read:\n  Firefox"),
              std::string::npos)
        << empty.err;
    EXPECT_NE(empty.err.find(cache.string()), std::string::npos) << empty.err;
}

} // namespace
