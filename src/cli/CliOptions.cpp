#include "cli/CliOptions.h"

#include <algorithm>
#include <string_view>

namespace sarnika::cli {
namespace {

Error usageError(const std::string& message) {
    return makeError(Error::Code::Malformed, message);
}

// The value of an option given as "--name VALUE" or "--name=VALUE".
Result<std::string> optionValue(const std::vector<std::string>& arguments, std::size_t& index,
                                std::string_view name) {
    const std::string& argument = arguments[index];
    std::string value;
    if (argument.size() > name.size() && argument[name.size()] == '=') {
        value = argument.substr(name.size() + 1);
    } else if (index + 1 < arguments.size()) {
        value = arguments[++index];
    } else {
        return usageError(std::string(name) + " needs a value");
    }
    if (value.empty()) {
        return usageError(std::string(name) + " needs a non-empty value");
    }
    return value;
}

bool isOption(const std::string& argument, std::string_view name) {
    return argument == name ||
           (argument.size() > name.size() && argument.compare(0, name.size(), name) == 0 &&
            argument[name.size()] == '=');
}

} // namespace

Result<CliOptions> parseArguments(const std::vector<std::string>& arguments) {
    CliOptions options;
    std::vector<std::string> positional;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            positional.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            help = true;
        } else if (argument == "--version") {
            version = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--all") {
            options.all = true;
        } else if (argument == "--sniff") {
            options.sniff = true;
        } else if (argument == "--keep-paths") {
            options.keepPaths = true;
        } else if (argument == "--force") {
            options.force = true;
        } else if (argument == "--with-assets") {
            options.withAssets = true;
        } else if (isOption(argument, "--hosts")) {
            auto value = optionValue(arguments, i, "--hosts");
            if (!value) {
                return value.error();
            }
            for (std::size_t start = 0; start <= value->size();) {
                const std::size_t end = std::min(value->find(',', start), value->size());
                if (end > start) {
                    options.hosts.push_back(value->substr(start, end - start));
                }
                start = end + 1;
            }
            if (options.hosts.empty()) {
                return usageError("--hosts needs at least one host");
            }
        } else if (isOption(argument, "--cache")) {
            auto value = optionValue(arguments, i, "--cache");
            if (!value) {
                return value.error();
            }
            options.caches.push_back(std::move(value.value()));
        } else if (isOption(argument, "--manifest")) {
            auto value = optionValue(arguments, i, "--manifest");
            if (!value) {
                return value.error();
            }
            options.manifest = std::move(value.value());
        } else {
            return usageError("unknown option " + argument);
        }
    }
    if (help || version) {
        options.command = help ? Command::Help : Command::Version;
        return options;
    }
    if (positional.empty()) {
        return usageError("no command given (list, save-all or warc)");
    }
    const std::string& command = positional.front();
    if (command == "list") {
        options.command = Command::List;
        if (positional.size() > 1) {
            return usageError("list takes no argument, found " + positional[1]);
        }
        if (options.keepPaths || options.manifest) {
            return usageError("--keep-paths and --manifest belong to save-all");
        }
    } else if (command == "save-all") {
        options.command = Command::SaveAll;
        if (positional.size() < 2 || positional[1].empty()) {
            return usageError("save-all needs the folder to save into");
        }
        if (positional.size() > 2) {
            return usageError("save-all takes one folder, found also " + positional[2]);
        }
        options.folder = positional[1];
        if (options.json) {
            return usageError("--json belongs to list");
        }
    } else if (command == "warc") {
        options.command = Command::Warc;
        if (positional.size() != 2 || positional[1].empty()) {
            return usageError("warc needs one file to write the archive into");
        }
        options.archive = positional[1];
        if (options.json || options.keepPaths || options.manifest) {
            return usageError("--json, --keep-paths and --manifest do not go with warc");
        }
    } else {
        return usageError("unknown command " + command);
    }
    if (options.force && options.command != Command::Warc) {
        return usageError("--force belongs to warc");
    }
    if (options.all && options.command != Command::List && options.command != Command::Warc) {
        return usageError("--all belongs to list and warc");
    }
    if ((options.withAssets || !options.hosts.empty()) && options.command != Command::SaveAll &&
        options.command != Command::Warc) {
        return usageError("--with-assets and --hosts belong to save-all and warc");
    }
    return options;
}

std::string versionText() {
    return std::string("sarnika-cli ") + SARNIKA_VERSION + "\n";
}

std::string helpText() {
    return R"(Usage: sarnika-cli [OPTIONS] list [--all] [--json]
       sarnika-cli [OPTIONS] save-all DIR [--keep-paths] [--manifest FILE]
                   [--with-assets | --hosts H1,H2]
       sarnika-cli [OPTIONS] warc FILE [--force] [--with-assets | --hosts H1,H2 | --all]

Lists the Flash movies that browsers have cached, largest first, or copies them out.

Commands:
  list            one line per movie, fields separated by tabs: name, size in bytes
                  ("-" when the local file is gone), host, URL, local file; control
                  and bidi characters and bad UTF-8 are shown escaped ("\x1B",
                  "\u{202E}"; --json gives them exactly)
  save-all DIR    copies every listed movie into DIR (made if missing) under its
                  suggested name plus ".swf", then -1, -2 ... when the name is taken;
                  an existing file is never replaced
  warc FILE       writes the listed movies as a web archive (WARC 1.1; one gzip
                  member per record unless FILE ends in ".warc"): each movie with
                  the HTTP headers the cache kept, its URL, date and digests, and
                  its source; FILE appears only once complete

Options:
  --cache PATH    read the caches found under PATH (a cache folder, a browser
                  profile, a home folder or a mounted disk) instead of the current
                  user's; may be given more than once
  --sniff         also list cached files that start like a Flash movie (FWS, CWS,
                  ZWS) although their URL does not contain ".swf"
  --json          list: a JSON array with name, size, host, url, localFile,
                  localFileBytes (its exact bytes, %XX escaped), suggestedName,
                  sniffed and source of each movie
  --all           list: every cache entry, not only the movies, one line each:
                  group (cookie, history, content), category (image, page,
                  multimedia, other; "-" for cookies and history), URL, size, local
                  file ("-" when there is none), source cache; with --json the
                  members group, category, url, size, localFile, localFileBytes and
                  source; warc: every cached file, not only the movies
  --keep-paths    save-all: save as DIR/<host>/<URL path>/<file name>; the query
                  goes to the manifest, not into the path
  --manifest FILE save-all: append one JSON line per saved movie (url, saved path,
                  size, sha256, query, source cache, entry times in UTC)
  --with-assets   save-all, warc: also every cached file of the listed movies' hosts
                  (pages, configs, images, sounds, video) and the files the movies
                  name by URL in their code; save-all keeps the paths (movies too)
  --hosts H1,H2   save-all, warc: also every cached file of these hosts; save-all
                  keeps the paths
  --force         warc: replace FILE when it exists (never done otherwise)
  -h, --help      this text
  --version       the program's version

Exit status: 0 success, 1 some movies could not be saved, 2 bad arguments, an
unreadable --cache PATH or a DIR that cannot be made or written.
)";
}

} // namespace sarnika::cli
