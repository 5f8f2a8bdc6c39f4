#include "cache/sources/HttpHeaders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "base/Text.h"

namespace sarnika::sources {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<int> number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> monthOf(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    const std::string lower = lowerCaseAscii(name);
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (lower == kMonths[i]) {
            return static_cast<int>(i) + 1;
        }
    }
    return std::nullopt;
}

// Splits on blanks, commas and dashes; keeps "hh:mm:ss" whole.
std::array<std::string_view, 8> words(std::string_view text, std::size_t& count) {
    std::array<std::string_view, 8> result{};
    count = 0;
    std::size_t i = 0;
    while (i < text.size() && count < result.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '-')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != ',' && text[i] != '-') {
            ++i;
        }
        if (i > start) {
            result[count++] = text.substr(start, i - start);
        }
    }
    return result;
}

std::optional<FileTime> fromFields(int year, int month, int day, std::string_view clock) {
    if (clock.size() != 8 || clock[2] != ':' || clock[5] != ':') {
        return std::nullopt;
    }
    const auto hour = number(clock.substr(0, 2));
    const auto minute = number(clock.substr(3, 2));
    const auto second = number(clock.substr(6, 2));
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    if (year < 100) {
        year += year < 70 ? 2000 : 1900;
    }
    SystemTime st{year, month, 0, day, *hour, *minute, std::min(*second, 59), 0};
    const auto value = systemTimeToDateTime(st);
    if (!value || year < 1601) {
        return std::nullopt;
    }
    const std::int64_t days = dayNumber(year, month, day) - dayNumber(1970, 1, 1);
    const std::int64_t seconds =
        days * 86400 + std::int64_t{*hour} * 3600 + std::int64_t{*minute} * 60 + st.second;
    return fileTimeFromUnixSeconds(seconds);
}

} // namespace

std::optional<FileTime> parseHttpDate(std::string_view text) {
    std::size_t count = 0;
    const auto w = words(trim(text), count);
    // "Sun, 06 Nov 1994 08:49:37 GMT" and "Sunday, 06-Nov-94 08:49:37 GMT"
    if (count >= 5 && !std::isdigit(static_cast<unsigned char>(w[0].front())) && number(w[1])) {
        const auto month = monthOf(w[2]);
        const auto year = number(w[3]);
        if (month && year) {
            return fromFields(*year, *month, *number(w[1]), w[4]);
        }
    }
    // "Sun Nov  6 08:49:37 1994"
    if (count >= 5) {
        const auto month = monthOf(w[1]);
        const auto day = number(w[2]);
        const auto year = number(w[4]);
        if (month && day && year) {
            return fromFields(*year, *month, *day, w[3]);
        }
    }
    return std::nullopt;
}

std::string mediaTypeOf(std::string_view contentType) {
    const std::size_t semicolon = contentType.find(';');
    return lowerCaseAscii(trim(contentType.substr(0, semicolon)));
}

std::string headerValue(std::string_view headers, std::string_view name) {
    return std::move(headerValues(headers, {name}).front());
}

std::vector<std::string> headerValues(std::string_view headers,
                                      std::initializer_list<std::string_view> names) {
    const auto sameName = [](std::string_view field, std::string_view name) {
        return field.size() == name.size() &&
               std::equal(field.begin(), field.end(), name.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    enum class State : unsigned char { Wanted, Reading, Done };
    std::vector<std::string> found(names.size());
    std::vector<State> states(names.size(), State::Wanted);
    std::size_t open = names.size(); // names not done yet
    bool firstLine = true;
    while (!headers.empty() && open > 0) {
        const std::size_t end = headers.find('\n');
        std::string_view line = headers.substr(0, end);
        headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break; // the end of the header block
        }
        // A folded line goes on with the header before it; any other line ends that header:
        // the first of each name is the one taken.
        const bool continuation = line.front() == ' ' || line.front() == '\t';
        for (std::size_t i = 0; i < states.size(); ++i) {
            if (states[i] != State::Reading) {
                continue;
            }
            if (continuation) {
                found[i] += ' ';
                found[i] += line;
            } else {
                states[i] = State::Done;
                --open;
            }
        }
        if (firstLine && line.substr(0, 5) == "HTTP/") {
            firstLine = false;
            continue;
        }
        firstLine = false;
        const std::size_t colon = line.find(':');
        if (continuation || colon == std::string_view::npos || open == 0) {
            continue;
        }
        std::string_view field = line.substr(0, colon);
        while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) {
            field.remove_suffix(1);
        }
        std::size_t i = 0;
        for (const std::string_view name : names) {
            if (states[i] == State::Wanted && sameName(field, name)) {
                found[i] = std::string(line.substr(colon + 1));
                states[i] = State::Reading;
            }
            ++i;
        }
    }
    for (std::string& value : found) {
        const std::size_t first = value.find_first_not_of(" \t");
        value = first == std::string::npos
                    ? std::string()
                    : value.substr(first, value.find_last_not_of(" \t") - first + 1);
    }
    return found;
}

std::string_view httpReasonPhrase(std::int64_t status) {
    switch (status) {
    case 200:
        return "OK";
    case 203:
        return "Non-Authoritative Information";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    default:
        return {};
    }
}

bool isSafeHeaderText(std::string_view text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool isHeaderName(std::string_view name) {
    return !name.empty() && isSafeHeaderText(name) &&
           name.find_first_of(": \t") == std::string_view::npos;
}

} // namespace sarnika::sources
