#include "base/Text.h"

#include <cctype>

namespace sarnika {

std::string lowerCaseLocale(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        // std::tolower is undefined for negative values other than EOF.
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string lowerCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

} // namespace sarnika
