#pragma once

#include <string>
#include <string_view>

namespace sarnika {

// Lower-cases every byte with the C library's current locale; bytes are taken as unsigned.
std::string lowerCaseLocale(std::string_view text);

// Lower-cases the ASCII capitals A to Z only; every other byte stays as it is.
std::string lowerCaseAscii(std::string_view text);

} // namespace sarnika
