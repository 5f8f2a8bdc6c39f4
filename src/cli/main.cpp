// sarnika-cli: the console companion of the window, for scripts and for caches copied from
// other machines.
#include <clocale>
#include <fstream>
#include <iostream>
#include <set>

#ifdef _WIN32
#include <io.h>

#include <windows.h>
#else
#include <unistd.h>
#endif

#include "app/SaveMovies.h"
#include "cache/IECache.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cli/CliOptions.h"
#include "cli/MovieSaver.h"
#include "cli/MovieScan.h"
#include "cli/Progress.h"
#include "cli/TerminalText.h"
#ifdef _WIN32
#include "cache/wininet/UrlCacheChain.h"
#include "cache/wininet/WinInetCache.h"
#endif

namespace {

namespace fs = std::filesystem;
using sarnika::Error;
using sarnika::Result;
using sarnika::sources::BrowserCacheLayer;
using sarnika::sources::SourceLocation;
using namespace sarnika::cli;

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

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
    } else if (std::ifstream(path, std::ios::binary)) {
        return {};
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
    for (const std::string& cache : options.caches) {
        if (const sarnika::Status readable = readablePath(cache); !readable) {
            return readable.error();
        }
        Progress progress;
        progress.show("Looking for caches under " + terminalText(cache) + "...");
        const std::vector<SourceLocation> found = sarnika::sources::sourcesUnder(cache);
        progress.clear();
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
    auto rows = scan.run(sniff, [&progress](std::size_t seen) {
        progress.show("Scanning the caches: " + std::to_string(seen) + " entries");
    });
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

int saveAll(const CliOptions& options, const std::vector<MovieRow>& rows, std::ofstream* manifest) {
    sarnika::LocalFileCopier copier;
    Progress progress;
    const SaveSummary summary = saveMovies(rows, options.folder, options.keepPaths, copier,
                                           progress, std::cout, std::cerr, manifest);
    std::cout << summary.saved << " movie(s) saved in " << options.folder << "\n";
    if (manifest != nullptr && !manifest->flush()) {
        std::cerr << "sarnika-cli: cannot write the manifest " << *options.manifest << "\n";
        return kExitCopyFailed;
    }
    if (summary.failed > 0) {
        std::cerr << "sarnika-cli: " << summary.failed << " movie(s) could not be saved\n";
        return kExitCopyFailed;
    }
    return kExitOk;
}

int run(const CliOptions& options) {
    auto layerOptions = layerOptionsFor(options);
    if (!layerOptions) {
        return usageFailure(layerOptions.error().message);
    }
    BrowserCacheLayer layer(std::move(layerOptions.value()));
#ifdef _WIN32
    // WinINet's own cache comes first; --cache reads nothing but the folders given.
    sarnika::wininet::WinInetCache winInet;
    std::vector<sarnika::UrlCachePort*> caches;
    if (options.caches.empty()) {
        caches.push_back(&winInet);
    }
    caches.push_back(&layer);
    sarnika::wininet::UrlCacheChain chain(std::move(caches));
    sarnika::UrlCachePort& cache = chain;
#else
    sarnika::UrlCachePort& cache = layer;
#endif
    if (!sarnika::TIECache::CheckLibrary(cache)) {
        std::cerr << "sarnika-cli: the URL cache cannot be read\n";
        return kExitUsage;
    }
    std::optional<std::ofstream> manifest;
    if (options.command == Command::SaveAll) {
        if (const sarnika::Status ready = prepareFolder(options.folder); !ready) {
            return usageFailure(ready.error().message);
        }
        if (options.manifest) {
            manifest.emplace(*options.manifest, std::ios::binary | std::ios::app);
            if (!*manifest) {
                return usageFailure("cannot write the manifest " + *options.manifest);
            }
        }
    }
    MovieScan scan(
        cache,
        [&layer](const std::string& file) -> std::optional<sarnika::sources::SourceDescription> {
            const SourceLocation* source = layer.sourceOfLocalFile(file);
            if (source == nullptr) {
#ifdef _WIN32
                // Not from the other browsers' caches: from WinINet's.
                return sarnika::sources::SourceDescription{"WinINet", layer.options().userName,
                                                           fs::path(file).parent_path().string()};
#else
                return std::nullopt;
#endif
            }
            return sarnika::sources::describeSource(*source);
        });
    const std::vector<MovieRow> rows = scanMovies(layer, scan, options.sniff);
    if (rows.empty() && stderrIsTerminal()) {
        // A terminal user gets told; scripts see an empty list and exit code 0.
        std::cerr << "No cached Flash movies were found.\n";
    }
    if (options.command == Command::List) {
        printList(rows, options.json);
        return std::cout.flush() ? kExitOk : kExitCopyFailed;
    }
    return saveAll(options, rows, manifest ? &*manifest : nullptr);
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
        break;
    }
    return run(options.value());
}

} // namespace

int main(int argc, char** argv) {
    // Still one thread here; the locale is set before anything reads it.
    static_cast<void>(std::setlocale(LC_ALL, "")); // NOLINT(concurrency-mt-unsafe)
#ifdef _WIN32
    // The progress line redraws itself with terminal sequences, which Windows consoles take
    // only when asked to.
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    if (DWORD mode = 0; GetConsoleMode(console, &mode) != 0) {
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
#endif
    try {
        return runArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        std::cerr << "sarnika-cli: " << terminalText(failure.what()) << "\n";
    } catch (...) {
        std::cerr << "sarnika-cli: unexpected failure\n";
    }
    return kExitCopyFailed;
}
