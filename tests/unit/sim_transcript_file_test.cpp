// The analyser's transcript file: bounded in size, the latest frames kept whole across a move
// to FILE.1.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "analyser.h"
#include "transcript_file.h"

namespace fs = std::filesystem;
using zr::sim::Direction;

TEST(SimTranscriptFile, MaxTakesBytesKAndM) {
    struct Case {
        const char* text;
        std::uint64_t bytes;  // 0: refused
    };
    const Case cases[] = {
        {"65536", 65536}, {"64k", 65536}, {"64K", 65536}, {"64M", 64ull << 20}, {"5000M", 5000ull << 20},
        {"65535", 0},     {"63k", 0},     {"0", 0},       {"", 0},              {"k", 0},
        {"-64k", 0},      {"64m", 0},     {"64kB", 0},    {"1G", 0},            {"99999999999999999999", 0},
        {"18014398509481984k", 0},  // 2^54 k overflows
    };
    for (const auto& c : cases) {
        std::uint64_t bytes = 0;
        EXPECT_EQ(zr::sim::parse_transcript_max(c.text, bytes), c.bytes != 0) << c.text;
        if (c.bytes != 0) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
}

TEST(SimTranscriptFile, StaysUnderItsSizeAndKeepsTheLatestFrames) {
    const fs::path dir = fs::temp_directory_path() / ("zr-transcript-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "t.txt").string();
    constexpr std::uint64_t kMax = 64 << 10;
    zr::sim::TranscriptFile file(path, kMax);
    std::string error;
    ASSERT_TRUE(file.open(error)) << error;
    // Numbered frames of every length a reader sends, each line its bytes and their decoding.
    int last = 0;
    for (int i = 0; i < 3000; ++i) {
        zr::sim::Piece piece;
        piece.frame = true;
        const std::size_t size = 7 + static_cast<std::size_t>(i * 37) % 250;
        piece.bytes.assign(size, 0x5A);
        piece.bytes[0] = static_cast<std::uint8_t>((size - 4) >> 8);
        piece.bytes[1] = static_cast<std::uint8_t>((size - 4) & 0xFF);
        piece.bytes[2] = 0x62;
        piece.bytes[3] = static_cast<std::uint8_t>(i >> 8);
        piece.bytes[4] = static_cast<std::uint8_t>(i & 0xFF);
        ASSERT_TRUE(file.write(zr::sim::transcript_line(piece, i % 2 ? Direction::to_host : Direction::to_reader), error))
            << error;
        ASSERT_LE(fs::file_size(path), kMax) << "after frame " << i;
        last = i;
    }
    // Both files read back as transcripts, the older one ending where the newer one starts.
    auto frames_of = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<zr::sim::Recorded> frames;
        std::string error;
        EXPECT_TRUE(zr::sim::parse_transcript(text.str(), frames, error)) << p << ": " << error;
        EXPECT_EQ(text.str().rfind("# zrsim transcript\n", 0), 0u) << p;
        return frames;
    };
    auto number = [](const zr::sim::Recorded& r) { return r.frame[3] * 256 + r.frame[4]; };
    const auto newer = frames_of(path), older = frames_of(path + ".1");
    ASSERT_FALSE(newer.empty());
    ASSERT_FALSE(older.empty());
    EXPECT_LE(fs::file_size(path + ".1"), kMax);
    EXPECT_EQ(number(newer.back()), last);
    EXPECT_EQ(number(older.back()) + 1, number(newer.front()));
    EXPECT_EQ(number(newer.front()) + static_cast<int>(newer.size()) - 1, last);
    fs::remove_all(dir);
}
