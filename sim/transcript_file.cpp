#include "transcript_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zr::sim {

bool parse_transcript_max(const std::string& text, std::uint64_t& bytes) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0) return false;
    const std::string unit(end);
    int shift = 0;
    if (unit == "k" || unit == "K") shift = 10;
    else if (unit == "M") shift = 20;
    else if (!unit.empty()) return false;
    if (n > (~0ull >> shift)) return false;
    bytes = n << shift;
    return bytes >= kTranscriptMaxLeast;
}

bool TranscriptFile::start(const std::string& header, std::string& error) {
    out_.open(path_, std::ios::binary | std::ios::trunc);
    out_ << header << std::flush;
    if (!out_) {
        error = "cannot write " + path_;
        return false;
    }
    size_ = header.size();
    return true;
}

bool TranscriptFile::open(std::string& error) { return start("# zrsim transcript\n", error); }

bool TranscriptFile::write(const std::string& whole, std::string& error) {
    constexpr std::size_t kHeaderRoom = 256;
    // Only a long run of junk makes such a line; frames never do.
    const std::string line = whole.size() + 1 + kHeaderRoom > max_
                                 ? "# a line of " + std::to_string(whole.size()) + " characters left out: longer than the file may be"
                                 : whole;
    if (size_ + line.size() + 1 > max_) {
        out_.close();
        const std::string old = path_ + ".1";
        if (std::rename(path_.c_str(), old.c_str()) != 0) {
            error = "cannot move " + path_ + " to " + old + ": " + std::strerror(errno);
            return false;
        }
        if (!start("# zrsim transcript\n# continued: the frames before are in " + old + "\n", error)) return false;
    }
    out_ << line << '\n' << std::flush;
    if (!out_) {
        error = "cannot write " + path_;
        return false;
    }
    size_ += line.size() + 1;
    return true;
}

}  // namespace zr::sim
