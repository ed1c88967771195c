// The reader of a transcript: each request the application sends is compared with the next
// one recorded and answered with the replies recorded after it, so that a capture from the
// field becomes a regression test. Requests that differ are reported (and answered all the
// same, so that the application goes on and every difference shows).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "analyser.h"
#include "model.h"

namespace zr::sim {

class Replay {
public:
    explicit Replay(std::vector<Recorded> frames) : frames_(std::move(frames)) {}
    // Makes `m` answer every command code from the transcript.
    void install(ReaderModel& m);
    // One line per request that differed, or that came after the transcript's last.
    std::vector<std::string> differences() const;
    // Recorded requests not yet received.
    int requests_left() const;
    // Called with each difference as it happens (zrsim prints it).
    void on_difference(std::function<void(const std::string&)> f) { notify_ = std::move(f); }

private:
    Replies answer(const Bytes& request);

    std::vector<Recorded> frames_;
    std::size_t cursor_ = 0;
    int served_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> differences_;
    std::function<void(const std::string&)> notify_;
};

}  // namespace zr::sim
