#include "cache/sources/swf/SwfHeader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using sarnika::Error;
using sarnika::Result;
using sarnika::sources::readSwfHeader;
using sarnika::sources::readSwfHeaderFile;
using sarnika::sources::SwfCompression;
using sarnika::sources::SwfHeader;
using sarnika::testing::contentOf;
using sarnika::testing::sharedDir;
using sarnika::testing::TempDir;

Result<SwfHeader> readBytes(const std::string& bytes, std::uint64_t fileSize) {
    return readSwfHeader(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), fileSize);
}
Result<SwfHeader> readBytes(const std::string& bytes) {
    return readBytes(bytes, bytes.size());
}

std::string le32(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8U * static_cast<unsigned>(i))) & 0xFFU);
    }
    return out;
}

// A stage record: the rectangle with `bits` bits per field, then rate and frame count.
std::string stageRecord(unsigned bits, std::array<std::int32_t, 4> rect, std::uint16_t rate,
                        std::uint16_t frames) {
    std::vector<bool> stream;
    for (int i = 4; i >= 0; --i) {
        stream.push_back(((bits >> static_cast<unsigned>(i)) & 1U) != 0);
    }
    for (const std::int32_t value : rect) {
        const auto raw = static_cast<std::uint32_t>(value);
        for (int i = static_cast<int>(bits) - 1; i >= 0; --i) {
            stream.push_back(((raw >> static_cast<unsigned>(i)) & 1U) != 0);
        }
    }
    std::string out((stream.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (stream[i]) {
            out[i / 8] =
                static_cast<char>(static_cast<unsigned char>(out[i / 8]) | (0x80U >> (i % 8)));
        }
    }
    out += static_cast<char>(rate & 0xFFU);
    out += static_cast<char>(rate >> 8U);
    out += static_cast<char>(frames & 0xFFU);
    out += static_cast<char>(frames >> 8U);
    return out;
}

std::string zlibOf(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.data()), data.size());
    out.resize(size);
    return out;
}

// One flat JSON object per line, as the reference tool prints them: member -> raw value.
std::map<std::string, std::string> flatJson(const std::string& line) {
    static const std::regex member(R"re("([a-z_]+)": ("[^"]*"|[^,}]+))re");
    std::map<std::string, std::string> out;
    for (auto it = std::sregex_iterator(line.begin(), line.end(), member);
         it != std::sregex_iterator(); ++it) {
        std::string value = (*it)[2];
        if (value.size() >= 2 && value.front() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        out[(*it)[1]] = value;
    }
    return out;
}

std::map<std::string, std::map<std::string, std::string>>
referenceInfo(const std::vector<fs::path>& files) {
    std::string command = "python3 '" + (sharedDir() / "tools/swf/swfinfo.py").string() + "'";
    for (const fs::path& file : files) {
        command += " '" + file.string() + "'";
    }
    // NOLINTNEXTLINE(cert-env33-c): our own quoted paths
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::map<std::string, std::map<std::string, std::string>> info;
    std::string line;
    for (int c = 0; pipe && (c = fgetc(pipe.get())) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        auto fields = flatJson(line);
        info[fs::path(fields["name"]).filename().string()] = fields;
        line.clear();
    }
    return info;
}

std::string number(double value) {
    std::array<char, 32> text{};
    (void)std::snprintf(text.data(), text.size(), "%.1f", value);
    return text.data();
}

TEST(SwfHeader, AgreesWithTheReferenceToolOnEverySample) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(sharedDir() / "testdata" / "swf")) {
        if (entry.path().extension() == ".swf") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 21U);
    const auto reference = referenceInfo(files);
    ASSERT_EQ(reference.size(), files.size()) << "python3 and the swfinfo tool are needed";

    // Lengths that cannot even hold the header are refused; other damage is a warning.
    const std::map<std::string, std::string> refused = {
        {"bad_fws_length_zero.swf", "declared length 0 is too short"},
        {"bad_zws_malformed_length.swf", "declared length 1 is too short"}};
    const std::map<std::string, std::string> warned = {
        {"bad_fws_length_too_long.swf", "truncated: the file holds 334 of the 734 bytes"},
        {"bad_fws_length_too_short_no_end.swf", "2 bytes follow the declared end"}};

    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        const auto header = readSwfHeaderFile(file);
        if (refused.contains(name)) {
            ASSERT_FALSE(header);
            EXPECT_EQ(header.error().code, Error::Code::Malformed);
            EXPECT_NE(header.error().message.find(refused.at(name)), std::string::npos)
                << header.error().message;
            continue;
        }
        ASSERT_TRUE(header) << header.error().message;
        const auto& expected = reference.at(name);
        EXPECT_EQ(header->signature, expected.at("sig"));
        EXPECT_EQ(std::to_string(header->version), expected.at("ver"));
        EXPECT_EQ(std::to_string(header->declaredLength), expected.at("declared_len"));
        EXPECT_EQ(header->warning.empty(), !warned.contains(name)) << header->warning;
        if (warned.contains(name)) {
            EXPECT_NE(header->warning.find(warned.at(name)), std::string::npos) << header->warning;
        }
        if (header->compression == SwfCompression::Lzma && !sarnika::sources::swfLzmaAvailable()) {
            EXPECT_FALSE(header->stage);
            continue;
        }
        ASSERT_TRUE(header->stage);
        EXPECT_EQ(number(header->stage->width()), expected.at("w"));
        EXPECT_EQ(number(header->stage->height()), expected.at("h"));
        EXPECT_EQ(number(header->stage->frameRate()), expected.at("fps"));
        EXPECT_EQ(std::to_string(header->stage->frameCount), expected.at("frames"));
    }
}

TEST(SwfHeader, ReadsEveryRectangleWidthAndSign) {
    // 31 bits per field: the widest rectangle, with negative corners.
    const std::string wide = stageRecord(31, {-40, 1'000'000'000, -1'073'741'824, 20}, 0x0C80, 7);
    auto header = readBytes("FWS\x0A" + le32(static_cast<std::uint32_t>(8 + wide.size())) + wide);
    ASSERT_TRUE(header) << header.error().message;
    EXPECT_EQ(header->compression, SwfCompression::None);
    EXPECT_EQ(header->version, 10);
    ASSERT_TRUE(header->stage);
    EXPECT_EQ(header->stage->xMin, -40);
    EXPECT_EQ(header->stage->xMax, 1'000'000'000);
    EXPECT_EQ(header->stage->yMin, -1'073'741'824);
    EXPECT_EQ(header->stage->yMax, 20);
    EXPECT_DOUBLE_EQ(header->stage->width(), 50'000'002.0);
    EXPECT_DOUBLE_EQ(header->stage->frameRate(), 12.5);
    EXPECT_EQ(header->stage->frameCount, 7);
    EXPECT_TRUE(header->warning.empty());

    // No bits per field: a one-byte rectangle, the shortest header there is.
    const std::string empty = stageRecord(0, {0, 0, 0, 0}, 0x1800, 1);
    ASSERT_EQ(empty.size(), 5U);
    header = readBytes("FWS\x01" + le32(13) + empty);
    ASSERT_TRUE(header) << header.error().message;
    EXPECT_DOUBLE_EQ(header->stage->width(), 0.0);
    EXPECT_DOUBLE_EQ(header->stage->frameRate(), 24.0);

    // The same through zlib, with a declared length far beyond the data.
    const std::string stage = stageRecord(15, {0, 11000, 0, 8000}, 0x1E00, 3);
    header = readBytes("CWS\x09" + le32(0xFFFFFFFF) + zlibOf(stage + std::string(50, 'x')));
    ASSERT_TRUE(header) << header.error().message;
    EXPECT_EQ(header->compression, SwfCompression::Zlib);
    EXPECT_DOUBLE_EQ(header->stage->width(), 550.0);
    EXPECT_DOUBLE_EQ(header->stage->height(), 400.0);
    EXPECT_EQ(header->stage->frameCount, 3);
}

TEST(SwfHeader, DamageAfterTheHeaderDoesNotMatter) {
    // A zlib stream that is sound for the header and garbage after a full flush.
    const std::string stage = stageRecord(15, {0, 11000, 0, 8000}, 0x1800, 1);
    std::string compressed(256, '\0');
    z_stream stream{};
    ASSERT_EQ(deflateInit(&stream, Z_BEST_COMPRESSION), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stage.data()));
    stream.avail_in = static_cast<uInt>(stage.size());
    stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_out = static_cast<uInt>(compressed.size());
    ASSERT_EQ(deflate(&stream, Z_FULL_FLUSH), Z_OK);
    compressed.resize(compressed.size() - stream.avail_out);
    deflateEnd(&stream);
    const auto header = readBytes("CWS\x08" + le32(100'000) + compressed + std::string(64, '\xFF'));
    ASSERT_TRUE(header) << header.error().message;
    EXPECT_EQ(header->stage->frameCount, 1);

    // A ZWS movie cut short after its first compressed bytes still shows its stage.
    const std::string lzma = contentOf(sharedDir() / "testdata/swf/lzma_zws_v32_as3.swf");
    ASSERT_GT(lzma.size(), 100U);
    const auto cut = readBytes(lzma.substr(0, 60));
    ASSERT_TRUE(cut) << cut.error().message;
    EXPECT_NE(cut->warning.find("truncated: the file holds 43 of the 6391 compressed bytes"),
              std::string::npos)
        << cut->warning;
    if (sarnika::sources::swfLzmaAvailable()) {
        ASSERT_TRUE(cut->stage);
        EXPECT_DOUBLE_EQ(cut->stage->width(), 400.0);
        EXPECT_DOUBLE_EQ(cut->stage->frameRate(), 60.0);
    }
}

TEST(SwfHeader, RefusesWhatIsNoReadableMovie) {
    const std::string zlibMovie = contentOf(sharedDir() / "testdata/swf/zlib_cws.swf");
    ASSERT_GT(zlibMovie.size(), 100U);
    std::string damagedZlib = zlibMovie;
    damagedZlib[8] = '\x00'; // the zlib stream's own header byte

    const std::string stage = stageRecord(15, {0, 11000, 0, 8000}, 0x1800, 1);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "too short for a Flash movie (0 bytes)"},
        {"FWS\x05\x10\x00\x00"s, "too short for a Flash movie (7 bytes)"},
        {"GIF89a\x01\x00\x01\x00"s, "not a Flash movie (signature \"GIF\")"},
        {"\0\x01WS\x05"s + le32(40), R"(not a Flash movie (signature "\x00\x01W"))"},
        {"FWS" + std::string(1, '\0') + le32(40) + stage, "version 0"},
        {"FWS\x05" + le32(12) + stage, "declared length 12 is too short"},
        // The rectangle's first byte asks for more than the declared length holds.
        {"FWS\x05" + le32(14) + stage, "declared length 14 ends inside the movie header"},
        {"FWS\x05" + le32(40) + stage.substr(0, 6), "the file ends inside the movie header"},
        {damagedZlib, "damaged zlib data"},
        {zlibMovie.substr(0, 12), "the file ends inside the movie header"},
        {"ZWS\x0D" + le32(100) + "\x01\x00"s, "too short for an LZMA Flash movie"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        const auto header = readBytes(bytes);
        ASSERT_FALSE(header);
        EXPECT_EQ(header.error().code, Error::Code::Malformed);
        EXPECT_NE(header.error().message.find(message), std::string::npos)
            << header.error().message;
    }

    if (sarnika::sources::swfLzmaAvailable()) {
        // Property bytes beyond lc=8, lp=4, pb=4 do not exist.
        std::string badProperties = contentOf(sharedDir() / "testdata/swf/lzma_zws_v32_as3.swf");
        badProperties[12] = '\xE1';
        const auto header = readBytes(badProperties);
        ASSERT_FALSE(header);
        EXPECT_NE(header.error().message.find("LZMA"), std::string::npos) << header.error().message;
    }

    // A header that the first 64 KiB do not reach: empty stored blocks only.
    std::string padded = "CWS\x0A" + le32(1000) + "\x78\x01";
    while (padded.size() < sarnika::sources::kSwfHeaderReadLimit + 100) {
        padded += "\x00\x00\x00\xFF\xFF"s;
    }
    const auto far = readBytes(padded);
    ASSERT_FALSE(far);
    EXPECT_NE(far.error().message.find("no movie header in the first 65536 bytes"),
              std::string::npos)
        << far.error().message;

    const TempDir temp;
    const auto missing = readSwfHeaderFile(temp.path() / "gone.swf");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, Error::Code::NotFound);
}

} // namespace
