// sarnika-cli: the console companion of the window, for scripts and for caches copied from
// other machines.
#include <chrono>
#include <clocale>
#include <cmath>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>

#include "app/SaveMovies.h"
#include "cache/IECache.h"
#include "cache/compose/UserCaches.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/TemporaryCleanup.h"
#include "cli/CliOptions.h"
#include "cli/MovieOutput.h"
#include "cli/MovieSaver.h"
#include "cli/MovieScan.h"
#include "cli/Progress.h"
#include "cli/TerminalText.h"
#include "cli/platform/Console.h"
#include "curation/MovieArchive.h"
#include "curation/SiteAssets.h"
#include "movies/MovieList.h"

namespace {

namespace fs = std::filesystem;
using sarnika::Error;
using sarnika::Result;
using sarnika::sources::BrowserCacheLayer;
using sarnika::sources::SourceLocation;
using namespace sarnika::cli;

int usageFailure(const std::string& message) {
    std::cerr << "sarnika-cli: " << terminalText(message)
              << "\nTry 'sarnika-cli --help' for more.\n";
    return kExitUsage;
}

// Checks that a path given with --cache can be read at all.
sarnika::Status readablePath(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        return sarnika::makeError(Error::Code::NotFound,
                                  "--cache " + path.string() + ": no such file or folder");
    }
    if (fs::is_directory(status)) {
        const fs::directory_iterator listing(path, error);
        if (!error) {
            return {};
        }
    } else if (auto file =
                   sarnika::sources::ReadOnlyFile::open(path, sarnika::sources::Links::Follow);
               file) {
        return {};
    } else {
        // A fifo, device or socket: refused at once rather than waited on.
        return sarnika::makeError(Error::Code::Unreadable, "--cache " + file.error().message);
    }
    return sarnika::makeError(Error::Code::Unreadable,
                              "--cache " + path.string() + ": cannot be read" +
                                  (error ? ": " + error.message() : std::string()));
}

// The current user's caches, or those found under the --cache paths.
Result<BrowserCacheLayer::Options> layerOptionsFor(const CliOptions& options) {
    if (options.caches.empty()) {
        return BrowserCacheLayer::currentUserOptions();
    }
    const auto environment = sarnika::sources::UserEnvironment::current();
    BrowserCacheLayer::Options layer;
    layer.extractionRoot = environment.cacheHome / "sarnika" / "extracted";
    layer.userName = environment.userName;
    // Extractions of the user's own caches stay when other folders are read.
    layer.pruneUnknownSources = false;
    layer.reader = sarnika::sources::readSource;
    layer.streamer = sarnika::sources::streamSource;
    layer.streamWalks = true;
    std::set<fs::path> unreadableTold;
    for (const std::string& cache : options.caches) {
        if (const sarnika::Status readable = readablePath(cache); !readable) {
            return readable.error();
        }
        Progress progress;
        progress.show("Looking for caches under " + terminalText(cache) + "...");
        std::vector<fs::path> unreadable;
        const std::vector<SourceLocation> found =
            sarnika::sources::sourcesUnder(cache, &unreadable);
        progress.clear();
        for (const fs::path& folder : unreadable) {
            if (unreadableTold.insert(folder).second) {
                std::cerr << "sarnika-cli: warning: " << terminalText(folder.string())
                          << ": cannot be read, skipped\n";
            }
        }
        if (found.empty()) {
            std::cerr << "sarnika-cli: warning: no browser cache found under "
                      << terminalText(cache) << "\n";
        }
        for (const SourceLocation& source : found) {
            if (std::find(layer.sources.begin(), layer.sources.end(), source) ==
                layer.sources.end()) {
                layer.sources.push_back(source);
            }
        }
    }
    return layer;
}

std::vector<MovieRow> scanMovies(BrowserCacheLayer& layer, MovieScan& scan, bool sniff) {
    Progress progress;
    progress.show("Reading the caches...");
    // No line is made for every entry when nobody sees it.
    // Scans for the movies alone hear only of the multimedia entries.
    const std::string counted =
        scan.keeps() == ScanKeeps::Movies ? " multimedia entries" : " entries";
    const auto tick = [&progress, &counted](std::size_t seen) {
        progress.show("Scanning the caches: " + std::to_string(seen) + counted);
    };
    auto rows = scan.run(sniff, progress.enabled() ? std::function<void(std::size_t)>(tick)
                                                   : std::function<void(std::size_t)>());
    progress.clear();
    for (const std::string& problem : layer.report().problems) {
        std::cerr << "sarnika-cli: warning: " << terminalText(problem) << "\n";
    }
    if (scan.refusedEntries() > 0) {
        std::cerr << "sarnika-cli: warning: " << scan.refusedEntries()
                  << " entries left out for a line break or NUL in their URL or file name\n";
    }
    return rows;
}

// The caches read, for people: "Chromium (Default): /home/ann/.cache/chromium/Default/Cache".
std::vector<std::string> cachesRead(sarnika::UserCaches& caches) {
    std::vector<std::string> read = caches.systemCaches();
    for (std::string& cache : sarnika::sources::contentCachesRead(caches.layer())) {
        read.push_back(std::move(cache));
    }
    return read;
}

// Tells on stderr that no movie was found, and in which caches.
void sayNothingFound(sarnika::UserCaches& caches, const CliOptions& options) {
    const std::vector<std::string> read = cachesRead(caches);
    if (read.empty()) {
        std::cerr << "sarnika-cli: no Flash movie found: no browser cache was found "
                  << (options.caches.empty() ? "for this user" : "under the --cache folders")
                  << "\n";
        return;
    }
    std::cerr << "sarnika-cli: no Flash movie found in the " << read.size()
              << " browser cache(s) read:\n";
    for (const std::string& cache : read) {
        std::cerr << "  " << terminalText(cache) << "\n";
    }
}

void printList(std::vector<MovieRow> rows, bool json) {
    if (!json) {
        for (const MovieRow& row : rows) {
            std::cout << listLine(row) << "\n";
        }
        return;
    }
    readSwfHeaders(rows);
    std::cout << "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::cout << (i == 0 ? "\n  " : ",\n  ") << jsonOf(rows[i]);
    }
    std::cout << (rows.empty() ? "]\n" : "\n]\n");
}

// Every entry of the scan, of any kind.
void printEntries(const std::vector<EntryRow>& rows, bool json) {
    if (!json) {
        for (const EntryRow& row : rows) {
            std::cout << listLine(row) << "\n";
        }
        return;
    }
    std::cout << "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::cout << (i == 0 ? "\n  " : ",\n  ") << jsonOf(rows[i]);
    }
    std::cout << (rows.empty() ? "]\n" : "\n]\n");
}

int saveAll(const CliOptions& options, const std::vector<MovieRow>& rows,
            const std::vector<MovieRow>& assets, sarnika::files::AppendFile* manifest) {
    sarnika::LocalFileCopier copier;
    Progress progress;
    // A site's tree holds its movies in their places too, where the files they load are
    // found by their relative URLs.
    const bool keepPaths = options.keepPaths || options.withAssets || !options.hosts.empty();
    const SaveSummary summary = saveMovies(rows, options.folder, keepPaths, copier, progress,
                                           std::cout, std::cerr, manifest);
    std::cout << summary.saved << " movie(s) saved in " << terminalText(options.folder) << "\n";
    // The files the movies load keep their place on the site, as --keep-paths gives it.
    const SaveSummary files =
        saveMovies(assets, options.folder, true, copier, progress, std::cout, std::cerr, manifest);
    if (!assets.empty()) {
        std::cout << files.saved << " other file(s) of their sites saved in "
                  << terminalText(options.folder) << "\n";
    }
    if (summary.failed > 0) {
        std::cerr << "sarnika-cli: " << summary.failed << " movie(s) could not be saved\n";
    }
    if (files.failed > 0) {
        std::cerr << "sarnika-cli: " << files.failed
                  << " other file(s) of their sites could not be saved\n";
    }
    if (summary.failed + files.failed > 0) {
        return kExitCopyFailed;
    }
    return kExitOk;
}

// Which cached files besides the movies a save or an archive takes: those of the hosts named
// with --hosts; with --with-assets those of the movies' hosts and those the movies' bytes name;
// every one with warc --all; none when empty.
std::shared_ptr<sarnika::curation::SiteAssets> siteAssets(const CliOptions& options,
                                                          const std::vector<MovieRow>& movies) {
    auto assets = std::make_shared<sarnika::curation::SiteAssets>();
    if (options.command == Command::Warc && options.all) {
        assets->addAll();
    }
    for (const std::string& host : options.hosts) {
        assets->addHost(host);
    }
    if (options.withAssets) {
        for (const MovieRow& movie : movies) {
            assets->addHost(sarnika::HostFromUrl(movie.url));
            assets->addNamedBy(movie.url, movie.localFile);
        }
    }
    return assets;
}

// The cached files the assets take, other than the movies, with their bodies copied out.
std::vector<MovieRow> assetRows(const MovieScan& scan, sarnika::UserCaches& caches,
                                const sarnika::curation::SiteAssets& assets,
                                const std::vector<MovieRow>& movies) {
    std::set<std::string> movieUrls;
    for (const MovieRow& movie : movies) {
        movieUrls.insert(movie.url);
    }
    std::vector<MovieRow> rows;
    for (const sarnika::TEntryInfo* entry :
         sarnika::curation::siteEntries(scan.analyzer(), assets, movieUrls)) {
        MovieRow& asset = rows.emplace_back();
        asset.displayName = sarnika::DisplayName(entry->SourceUrlName);
        asset.suggestedName = sarnika::SuggestedName(entry->SourceUrlName);
        asset.host = sarnika::HostFromUrl(entry->SourceUrlName);
        asset.url = entry->SourceUrlName;
        asset.localFile = entry->LocalFileName;
        std::error_code error;
        if (const std::uintmax_t size = std::filesystem::file_size(asset.localFile, error);
            !error) {
            asset.size = size;
        }
        asset.source = caches.sourceOfEntry(asset.url, asset.localFile, 0);
        asset.entry = entry;
        asset.siteFile = true;
    }
    return rows;
}

int writeArchive(const CliOptions& options, std::vector<MovieRow> rows,
                 const std::vector<MovieRow>& assets, sarnika::UserCaches& caches) {
    const std::size_t movieCount = rows.size();
    rows.insert(rows.end(), assets.begin(), assets.end());
    std::vector<sarnika::curation::ArchivedMovie> movies;
    movies.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MovieRow& row = rows[i];
        sarnika::curation::ArchivedMovie& movie =
            movies.emplace_back(row.entry != nullptr ? sarnika::curation::archivedEntry(*row.entry)
                                                     : sarnika::curation::ArchivedMovie());
        movie.url = row.url;
        movie.localFile = row.localFile;
        movie.source = row.source;
        if (i >= movieCount) {
            movie.contentType = sarnika::curation::mediaTypeOfName(row.url);
        }
    }
    sarnika::curation::ArchiveRequest request;
    request.target = options.archive;
    request.replace = options.force;
    request.now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    request.caches = cachesRead(caches);
    Progress progress;
    const auto summary = sarnika::curation::writeMovieArchive(
        movies, request, [&](std::size_t index, std::size_t total) {
            progress.show("Archiving " + std::to_string(index + 1) + " of " +
                          std::to_string(total) + ": " + terminalText(rows[index].displayName));
            return true;
        });
    progress.clear();
    if (!summary) {
        std::cerr << "sarnika-cli: " << terminalText(summary.error().message) << "\n";
        return summary.error().code == Error::Code::Exists ? kExitUsage : kExitCopyFailed;
    }
    for (const std::string& leftOut : summary->leftOut) {
        std::cerr << "sarnika-cli: left out " << terminalText(leftOut) << "\n";
    }
    std::cout << summary->archived << " file(s) archived in " << terminalText(options.archive)
              << " (" << movieCount << " movie(s) listed, " << summary->bytes << " bytes)\n";
    if (!summary->leftOut.empty()) {
        std::cerr << "sarnika-cli: " << summary->leftOut.size()
                  << " movie(s) could not be archived\n";
        return kExitCopyFailed;
    }
    return kExitOk;
}

int run(const CliOptions& options) {
    auto layerOptions = layerOptionsFor(options);
    if (!layerOptions) {
        return usageFailure(layerOptions.error().message);
    }
    // --cache reads nothing but the folders given.
    const auto systemCache =
        options.caches.empty() ? sarnika::SystemCache::Read : sarnika::SystemCache::Skip;
    // The files of the movies' sites are known once the movies are: a first scan finds them.
    auto sites = siteAssets(options, {});
    if (options.withAssets) {
        auto firstOptions = layerOptions.value();
        firstOptions.multimediaOnly = true;
        const auto first = sarnika::openUserCaches(std::move(firstOptions), systemCache);
        if (sarnika::TIECache::CheckLibrary(first->port())) {
            MovieScan scan(
                first->port(), [&first](const std::string& file) { return first->sourceOf(file); },
                ScanKeeps::Movies);
            sites = siteAssets(options, scan.run(options.sniff, {}));
        }
    }
    if (!sites->empty()) {
        layerOptions->extractAlso = [sites](std::string_view url) {
            return sites->takes(url);
        };
    }
    // The listing of every entry and the sites' files need every entry; the movies alone do not.
    const ScanKeeps keeps =
        options.all || !sites->empty() ? ScanKeeps::Everything : ScanKeeps::Movies;
    layerOptions->multimediaOnly = keeps == ScanKeeps::Movies;
    const auto caches = sarnika::openUserCaches(std::move(layerOptions.value()), systemCache);
    sarnika::UrlCachePort& cache = caches->port();
    if (!sarnika::TIECache::CheckLibrary(cache)) {
        std::cerr << "sarnika-cli: the URL cache cannot be read\n";
        return kExitUsage;
    }
    std::optional<sarnika::files::AppendFile> manifest;
    if (options.command != Command::List) {
        // An interrupted run leaves no half-written movie or archive behind.
        sarnika::files::removeTemporariesOnInterrupt();
    }
    if (options.command == Command::SaveAll) {
        if (const sarnika::Status ready = prepareFolder(options.folder); !ready) {
            return usageFailure(ready.error().message);
        }
        if (options.manifest) {
            auto opened = sarnika::files::AppendFile::open(*options.manifest);
            if (!opened) {
                return usageFailure("cannot write the manifest " + *options.manifest);
            }
            manifest.emplace(std::move(opened.value()));
        }
    }
    MovieScan scan(
        cache, [&caches](const std::string& file) { return caches->sourceOf(file); }, keeps);
    const std::vector<MovieRow> rows = scanMovies(caches->layer(), scan, options.sniff);
    if (options.all && options.command == Command::List) {
        printEntries(scan.entries([&caches](const std::string& url, const std::string& file,
                                            std::size_t occurrence) {
            return caches->sourceOfEntry(url, file, occurrence);
        }),
                     options.json);
        return std::cout.flush() ? kExitOk : kExitCopyFailed;
    }
    if (rows.empty()) {
        // Scripts see an empty list and exit code 0; people learn what was looked at.
        sayNothingFound(*caches, options);
    }
    if (options.command == Command::List) {
        printList(rows, options.json);
        return std::cout.flush() ? kExitOk : kExitCopyFailed;
    }
    const std::vector<MovieRow> assets =
        sites->empty() ? std::vector<MovieRow>() : assetRows(scan, *caches, *sites, rows);
    if (options.command == Command::Warc) {
        return writeArchive(options, rows, assets, *caches);
    }
    return saveAll(options, rows, assets, manifest ? &*manifest : nullptr);
}

int runArguments(const std::vector<std::string>& arguments) {
    const auto options = parseArguments(arguments);
    if (!options) {
        return usageFailure(options.error().message);
    }
    switch (options->command) {
    case Command::Help:
        std::cout << helpText();
        return kExitOk;
    case Command::Version:
        std::cout << versionText();
        return kExitOk;
    case Command::List:
    case Command::SaveAll:
    case Command::Warc:
        break;
    }
    return run(options.value());
}

} // namespace

int main(int argc, char** argv) {
    sarnika::sources::installTemporaryCleanup();
    // Still one thread here; the locale is set before anything reads it.
    static_cast<void>(std::setlocale(LC_ALL, "")); // NOLINT(concurrency-mt-unsafe)
    enableTerminalSequences();
    try {
        return runArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        std::cerr << "sarnika-cli: " << terminalText(failure.what()) << "\n";
    } catch (...) {
        std::cerr << "sarnika-cli: unexpected failure\n";
    }
    return kExitCopyFailed;
}
