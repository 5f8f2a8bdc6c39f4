#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sarnika::sources {

// How much of a movie, once uncompressed, swfTexts looks at.
inline constexpr std::size_t kSwfTextsLimit = std::size_t{64} * 1024 * 1024;

// The texts in a Flash movie that may name the files it loads at run time: the strings of its
// ActionScript 1 and 2 code (constant pools, pushed strings, getURL targets, and the texts of
// button and clip actions), the string pools of its ActionScript 3 code and the URLs of the
// libraries it imports. `movie` is the file as stored (FWS, CWS or ZWS); at most
// kSwfTextsLimit bytes of it are uncompressed. Best effort: a damaged movie gives what could
// be read before the damage, bytes that are no movie give nothing. Each text once, in the
// order found; texts with control characters are left out.
std::vector<std::string> swfTexts(std::span<const std::uint8_t> movie);

} // namespace sarnika::sources
