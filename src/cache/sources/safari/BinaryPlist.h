#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace sarnika::sources {

// Limits of one binary property list. The response objects of a URL cache take a few KiB and
// some 50 objects; anything far beyond these numbers is damage or an attack.
inline constexpr std::size_t kPlistMaxBytes = std::size_t{16} << 20U;
inline constexpr std::uint64_t kPlistMaxObjects = 1U << 16U;
// Nesting of arrays and dictionaries, counted from the top object.
inline constexpr int kPlistMaxDepth = 32;
// Values produced while decoding: an object shared by several containers counts once per use,
// so that a list that refers to the same array again and again cannot blow up into billions.
inline constexpr std::uint64_t kPlistMaxValues = 1U << 18U;
// Bytes of strings and data produced, with the same counting.
inline constexpr std::uint64_t kPlistMaxTextBytes = std::uint64_t{32} << 20U;

// One value of a property list.
struct PlistValue {
    enum class Type { Null, Boolean, Integer, Real, Date, String, Data, Array, Dict, Uid };
    Type type = Type::Null;
    bool boolean = false;
    // Integer and Uid. Integers beyond the signed 64-bit range do not occur in practice; the
    // 128-bit form is taken where its high half is zero.
    std::int64_t integer = 0;
    // Real; Date: seconds since 2001-01-01 00:00 UTC.
    double real = 0;
    // String (as UTF-8) and Data (the bytes).
    std::string text;
    // Array and set: the items. Dict: the values, in the order of `keys`.
    std::vector<PlistValue> items;
    std::vector<std::string> keys;

    bool is(Type t) const { return type == t; }
    // The value of a dictionary's key; nullptr when absent or not a dictionary.
    const PlistValue* find(std::string_view key) const;
};

// Decodes a binary property list ("bplist00"): trailer, offset table and the objects from the
// top one down. Refuses what lies outside the bytes, references to missing objects, cycles,
// dictionary keys that are no strings, and whatever passes the limits above.
Result<PlistValue> parseBinaryPlist(std::string_view bytes);

// UTF-16 big-endian as UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16be(std::string_view bytes);

} // namespace sarnika::sources
