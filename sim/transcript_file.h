// The analyser's transcript file, kept under a size: a capture left running for days must not
// fill the disk. Past the size the file moves to FILE.1 (replacing the one there) and starts
// again, so that the latest frames, those near a failure, are always at hand. The replay reads
// a file that starts mid-exchange: it skips the replies before the first request.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace zr::sim {

inline constexpr std::uint64_t kTranscriptMaxDefault = 64ull << 20;
// Room for the header and the longest line (a 300-byte frame, its bytes shown twice).
inline constexpr std::uint64_t kTranscriptMaxLeast = 64ull << 10;

// "65536", "64k", "64M" (k and M count 1024s). false for anything else or below the least.
bool parse_transcript_max(const std::string& text, std::uint64_t& bytes);

class TranscriptFile {
public:
    TranscriptFile(std::string path, std::uint64_t max_bytes) : path_(std::move(path)), max_(max_bytes) {}
    // Creates the file (empty but for its header). false + `error` when it cannot.
    bool open(std::string& error);
    // One line, without its "\n", on disk at once. false + `error` when the file cannot be
    // written or moved aside: the caller tells and stops writing.
    bool write(const std::string& line, std::string& error);

private:
    bool start(const std::string& header, std::string& error);
    std::string path_;
    std::uint64_t max_;
    std::uint64_t size_ = 0;
    std::ofstream out_;
};

}  // namespace zr::sim
