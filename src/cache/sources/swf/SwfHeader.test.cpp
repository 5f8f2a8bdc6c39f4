#include "cache/sources/swf/SwfHeader.h"

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

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

Result<SwfHeader> readBytes(const std::string& bytes) {
    return readSwfHeader(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), bytes.size());
}

std::string sample(const char* name) {
    return contentOf(sharedDir() / "testdata/swf" / name);
}

// The reference tool's JSON lines, flat objects, by file name: member -> raw value.
std::map<std::string, std::map<std::string, std::string>>
referenceInfo(const std::vector<fs::path>& files) {
    std::string command = "python3 '" + (sharedDir() / "tools/swf/swfinfo.py").string() + "'";
    for (const fs::path& file : files) {
        command += " '" + file.string() + "'";
    }
    // NOLINTNEXTLINE(cert-env33-c): our own quoted paths
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    static const std::regex member(R"re("([a-z_]+)": ("([^"]*)"|[^,}]+))re");
    std::map<std::string, std::map<std::string, std::string>> info;
    std::string line;
    for (int c = 0; pipe && (c = fgetc(pipe.get())) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        std::map<std::string, std::string> fields;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), member);
             it != std::sregex_iterator(); ++it) {
            fields[(*it)[1]] = (*it)[3].matched ? (*it)[3] : (*it)[2];
        }
        info[fs::path(fields["name"]).filename().string()] = fields;
        line.clear();
    }
    return info;
}

std::string oneDecimal(double value) {
    std::array<char, 32> text{};
    (void)std::snprintf(text.data(), text.size(), "%.1f", value);
    return text.data();
}

TEST(SwfHeader, AgreesWithTheReferenceToolOnEverySample) {
#ifdef _WIN32
    GTEST_SKIP() << "the reference tool runs on the build machine (the Linux build compares)";
#endif
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(sharedDir() / "testdata" / "swf")) {
        if (entry.path().extension() == ".swf") {
            files.push_back(entry.path());
        }
    }
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
        const std::string warning = warned.contains(name) ? warned.at(name) : "";
        EXPECT_EQ(header->warning.substr(0, warning.size()), warning) << header->warning;
        EXPECT_EQ(header->warning.empty(), warning.empty()) << header->warning;
        if (header->compression == SwfCompression::Lzma && !sarnika::sources::swfLzmaAvailable()) {
            EXPECT_FALSE(header->stage);
            continue;
        }
        ASSERT_TRUE(header->stage);
        EXPECT_EQ(oneDecimal(header->stage->width()), expected.at("w"));
        EXPECT_EQ(oneDecimal(header->stage->height()), expected.at("h"));
        EXPECT_EQ(oneDecimal(header->stage->frameRate()), expected.at("fps"));
        EXPECT_EQ(std::to_string(header->stage->frameCount), expected.at("frames"));
    }
}

TEST(SwfHeader, ReadsWideNegativeRectanglesAndCutMovies) {
    // 31 bits per field, the widest there is: (-40, 1e9, -2^30, 20) twips, 12.5 fps, 7 frames.
    const std::string wide = "\xFF\xFF\xFF\xFD\x87\x73\x59\x40\x10\x00\x00\x00\x00\x00\x00\x0A"
                             "\x00\x80\x0C\x07\x00"s;
    const auto header = readBytes("FWS\x0A\x1D\x00\x00\x00"s + wide);
    ASSERT_TRUE(header) << header.error().message;
    ASSERT_TRUE(header->stage);
    EXPECT_EQ(header->stage->xMin, -40);
    EXPECT_EQ(header->stage->xMax, 1'000'000'000);
    EXPECT_EQ(header->stage->yMin, -1'073'741'824);
    EXPECT_EQ(header->stage->yMax, 20);
    EXPECT_DOUBLE_EQ(header->stage->frameRate(), 12.5);
    EXPECT_EQ(header->stage->frameCount, 7);
    EXPECT_TRUE(header->warning.empty()) << header->warning;

    // A download cut short after its first compressed bytes still shows its stage.
    const auto cut = readBytes(sample("lzma_zws_v32_as3.swf").substr(0, 60));
    ASSERT_TRUE(cut) << cut.error().message;
    EXPECT_EQ(cut->warning,
              "truncated: the file holds 43 of the 6391 compressed bytes it declares");
#ifndef _WIN32
    // Linux builds always have liblzma; a build that lost it must not pass unnoticed.
    EXPECT_TRUE(sarnika::sources::swfLzmaAvailable());
#endif
    if (sarnika::sources::swfLzmaAvailable()) {
        ASSERT_TRUE(cut->stage);
        EXPECT_DOUBLE_EQ(cut->stage->width(), 400.0);
    }
}

// The compressed length of ZWS movies counts the five LZMA property bytes in some writers'
// files (file size - 12) and not in others' (file size - 17): both are whole movies.
TEST(SwfHeader, ReadsBothKindsOfLzmaLength) {
    const std::string movie = sample("lzma_zws_v32_as3.swf");
    const auto withLength = [&movie](std::uint32_t length) {
        std::string bytes = movie;
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[8 + i] = static_cast<char>((length >> (8 * i)) & 0xFFU);
        }
        return readBytes(bytes);
    };
    const auto size = static_cast<std::uint32_t>(movie.size());
    for (const std::uint32_t length : {size - 17, size - 12}) {
        SCOPED_TRACE(length);
        const auto header = withLength(length);
        ASSERT_TRUE(header) << header.error().message;
        EXPECT_EQ(header->warning, "");
        if (sarnika::sources::swfLzmaAvailable()) {
            ASSERT_TRUE(header->stage);
            EXPECT_DOUBLE_EQ(header->stage->width(), 400.0);
            EXPECT_GT(header->stage->frameRate(), 0.0);
        }
    }
    // Beyond both readings the data really ends early; short of both, bytes follow the end.
    EXPECT_EQ(withLength(size - 11)->warning,
              "truncated: the file holds " + std::to_string(size - 17) + " of the " +
                  std::to_string(size - 11) + " compressed bytes it declares");
    EXPECT_EQ(withLength(size - 20)->warning,
              "3 bytes follow the declared end of the compressed bytes");
}

TEST(SwfHeader, RefusesWhatIsNoReadableMovie) {
    const std::string zlibMovie = sample("zlib_cws.swf");
    std::string damagedZlib = zlibMovie;
    damagedZlib[8] = '\x00'; // the zlib stream's own header
    std::string badLzmaProperties = sample("lzma_zws_v32_as3.swf");
    badLzmaProperties[12] = '\xE1'; // beyond lc=8, lp=4, pb=4
    // A header behind more than 64 KiB of empty stored blocks.
    std::string farHeader = "CWS\x0A\xE8\x03\x00\x00\x78\x01"s;
    while (farHeader.size() < sarnika::sources::kSwfHeaderReadLimit + 100) {
        farHeader += "\x00\x00\x00\xFF\xFF"s;
    }
    // A stage record with 15 bits per field: 13 bytes.
    const std::string stage = "\x78\x00\x05\x5F\x00\x00\x0F\xA0\x00\x00\x18\x01\x00"s;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "too short for a Flash movie (0 bytes)"},
        {"FWS\x05\x10\x00\x00"s, "too short for a Flash movie (7 bytes)"},
        {"GIF89a\x01\x00\x01\x00"s, R"(not a Flash movie (signature "GIF"))"},
        {"\0\x01WS\x05\x28\x00\x00\x00"s, R"(not a Flash movie (signature "\x00\x01W"))"},
        {"FWS\x00\x28\x00\x00\x00"s + stage, "version 0"},
        {"FWS\x05\x0C\x00\x00\x00"s + stage, "declared length 12 is too short"},
        {"FWS\x05\x0E\x00\x00\x00"s + stage, "declared length 14 ends inside the movie header"},
        {"FWS\x05\x28\x00\x00\x00"s + stage.substr(0, 6), "the file ends inside the movie header"},
        {damagedZlib, "damaged zlib data"},
        {zlibMovie.substr(0, 12), "the file ends inside the movie header"},
        {"ZWS\x0D\x64\x00\x00\x00\x01\x00"s, "too short for an LZMA Flash movie"},
        {farHeader, "no movie header in the first 65536 bytes"},
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
        const auto header = readBytes(badLzmaProperties);
        ASSERT_FALSE(header);
        EXPECT_TRUE(header.error().message.starts_with("unsupported LZMA properties"))
            << header.error().message;
    }
    const sarnika::testing::TempDir temp;
    EXPECT_EQ(readSwfHeaderFile(temp.path() / "gone.swf").error().code, Error::Code::NotFound);
}

} // namespace
