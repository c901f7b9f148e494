// A camera made of a thread: every period it fills a free buffer with frame `id` (sample i of
// frame id is (id * 7 + i) mod 2^bits) and hands it over, or counts an underrun when the
// recorder holds every buffer (with `pattern`, frame id takes frame id mod n of the n frames
// there). For the recorder's tests and benchmark.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "vid_recorder.h"

namespace vidtest {

class SyntheticCamera : public VidFrameSource {
  public:
    // frame_bytes of two-byte samples (bytes_per_sample 2) or one-byte ones; rate 0: as fast
    // as buffers come back.
    SyntheticCamera(size_t frame_bytes, int bytes_per_sample, int buffers, double rate,
                    const std::vector<unsigned char>* pattern = nullptr)
        : bytes_(frame_bytes), two_(bytes_per_sample == 2), rate_(rate), pattern_(pattern)
    {
        for (int i = 0; i < buffers; i++) {
            store_.emplace_back(frame_bytes);
            free_.push_back(int(i));
        }
    }
    ~SyntheticCamera() override { stop(); }
    bool start(std::string&) override
    {
        run_ = true;
        thread_ = std::thread([this] { produce(); });
        return true;
    }
    bool next(VidSourceFrame& f, int timeout_ms) override
    {
        std::unique_lock<std::mutex> lock(m_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [this] { return !ready_.empty(); }))
            return false;
        const Ready r = ready_.front();
        ready_.pop_front();
        f = VidSourceFrame();
        f.data = store_[size_t(r.buffer)].data();
        f.size = bytes_;
        f.frame_id = r.id;
        f.timestamp_ns = int64_t(r.id) * 1000 + 5;
        f.handle = reinterpret_cast<void*>(intptr_t(r.buffer));
        return true;
    }
    void release(VidSourceFrame& f) override
    {
        std::lock_guard<std::mutex> lock(m_);
        free_.push_back(int(reinterpret_cast<intptr_t>(f.handle)));
        back_.notify_one();
    }
    void stop() override
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            run_ = false;
            back_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
    }
    uint64_t underruns() override { return under_.load(); }
    int buffers() const override { return int(store_.size()); }
    uint64_t id_wrap() const override { return 65535; }

  private:
    struct Ready {
        int buffer;
        uint64_t id;
    };
    void produce()
    {
        uint64_t id = 65500; // the ids wrap early in every run
        auto next = std::chrono::steady_clock::now();
        const auto period = std::chrono::nanoseconds(rate_ > 0 ? int64_t(1e9 / rate_) : 0);
        std::unique_lock<std::mutex> lock(m_);
        while (run_) {
            if (rate_ > 0) {
                next += period;
                back_.wait_until(lock, next, [this] { return !run_; });
            } else {
                back_.wait(lock, [this] { return !run_ || !free_.empty(); });
            }
            if (!run_)
                break;
            if (free_.empty()) {
                under_++;
            } else {
                const int b = free_.front();
                free_.pop_front();
                fill(store_[size_t(b)], id);
                ready_.push_back({b, id});
                cv_.notify_one();
            }
            id = id >= 65535 ? 1 : id + 1;
        }
    }
    void fill(std::vector<unsigned char>& buf, uint64_t id) const
    {
        if (pattern_ != nullptr) {
            const size_t frames = pattern_->size() / bytes_;
            memcpy(buf.data(), pattern_->data() + (id % frames) * bytes_, bytes_);
            return;
        }
        if (two_)
            for (size_t i = 0; i + 1 < bytes_; i += 2) {
                const uint32_t v = uint32_t(id * 7 + i / 2) & 0xFFFF;
                buf[i] = uint8_t(v);
                buf[i + 1] = uint8_t(v >> 8);
            }
        else
            for (size_t i = 0; i < bytes_; i++)
                buf[i] = uint8_t(id * 7 + i);
    }
    size_t bytes_;
    bool two_;
    double rate_;
    const std::vector<unsigned char>* pattern_;
    std::vector<std::vector<unsigned char>> store_;
    std::deque<int> free_;
    std::deque<Ready> ready_;
    std::mutex m_;
    std::condition_variable cv_, back_;
    std::thread thread_;
    bool run_ = false;
    std::atomic<uint64_t> under_{0};
};

} // namespace vidtest
