#include "content/digest_job.h"

#include <system_error>

namespace kestrune::content {

DigestJob::DigestJob(bool onThread) {
    if (onThread) {
        try {
            worker_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to be had: hash on the caller's thread.
        }
    }
}

DigestJob::~DigestJob() {
    if (worker_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        ready_.notify_one();
        worker_.join();
    }
}

void DigestJob::publish(std::span<const std::byte> availableSoFar) {
    if (!worker_.joinable()) {
        stream_.update(availableSoFar.subspan(hashedInline_));
        hashedInline_ = availableSoFar.size();
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        available_ = availableSoFar;
    }
    ready_.notify_one();
}

const Sha256Digest& DigestJob::finish() {
    if (worker_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        ready_.notify_one();
        worker_.join();
    } else if (!finished_) {
        digest_ = stream_.finish();
    }
    finished_ = true;
    return digest_;
}

void DigestJob::run() {
    std::size_t hashed = 0;
    while (true) {
        std::span<const std::byte> pending;
        bool closed = false;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [&] { return abandoned_ || closed_ || available_.size() > hashed; });
            if (abandoned_) return;
            pending = available_.subspan(hashed);
            closed = closed_;
        }
        // Hashing happens outside the lock, so the reader never waits for it.
        stream_.update(pending);
        hashed += pending.size();
        if (closed && pending.empty()) {
            digest_ = stream_.finish();
            return;
        }
    }
}

}  // namespace kestrune::content
