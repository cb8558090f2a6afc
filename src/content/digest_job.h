#pragma once
// The digest of a file whose bytes become available in order (while it is read, or all at
// once), computed on a second thread when asked to, so that hashing overlaps reading and
// decoding. Internal to the model loader. The thread is always joined before the job goes
// away, whatever the reader or the decoder throws: declare the job after the bytes it
// hashes, so it is destroyed first.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>
#include <thread>

#include "content/sha256.h"

namespace kestrune::content {

class DigestJob {
public:
    explicit DigestJob(bool onThread);
    DigestJob(const DigestJob&) = delete;
    DigestJob& operator=(const DigestJob&) = delete;
    ~DigestJob();

    // Everything available so far: each call extends the span of the call before.
    void publish(std::span<const std::byte> availableSoFar);

    // The digest of everything published; nothing may be published afterwards.
    const Sha256Digest& finish();

private:
    void run();

    Sha256Stream stream_;
    Sha256Digest digest_{};
    std::size_t hashedInline_ = 0;
    bool finished_ = false;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::span<const std::byte> available_;  // guarded by mutex_, as are the two flags
    bool closed_ = false;
    bool abandoned_ = false;
    std::thread worker_;  // last: started once everything it uses exists
};

}  // namespace kestrune::content
