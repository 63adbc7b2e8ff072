// Prefetch: renders the frames after the requested one on worker threads, so that a linear
// reader finds them finished. A request for frame n queues n+1..n+ahead, takes n from the
// cache, waits for it when a worker has it in hand, or renders it on the calling thread.
// Frames outside [n, n+ahead] leave the cache.
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "core.h"
#include "filters/filters.h"

namespace ms {

namespace {

constexpr int kMaxThreads = 1024;

class Prefetcher final : public Clip {
  public:
    Prefetcher(PClip child, int threads)
        : Clip(child->GetVideoInfo()), child_(std::move(child)), ahead_(2 * threads) {
        try {
            for (int i = 0; i < threads; ++i)
                workers_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            Stop();
            throw Error("Prefetch: cannot start " + std::to_string(threads) + " threads");
        }
    }

    ~Prefetcher() override { Stop(); }

    PFrame GetFrame(int n) override {
        if (vi_.num_frames <= 0) return child_->GetFrame(n);
        n = ClampFrame(n, vi_.num_frames);

        std::unique_lock<std::mutex> lock(mutex_);
        Forget(n);
        Schedule(n);
        for (;;) {
            auto it = slots_.find(n);
            if (it == slots_.end()) {
                it = slots_.emplace(n, Slot{}).first;
            }
            Slot& slot = it->second;
            if (slot.state == State::Done) return Take(slot);
            if (slot.state == State::Queued) {
                slot.state = State::Running;  // the queue entry goes stale; workers skip it
                lock.unlock();
                Render(n, slot);
                lock.lock();
                Finish(slot);
                return Take(slot);
            }
            // A worker has it: wait. Finished slots may be dropped by another requester
            // meanwhile, in which case the loop renders the frame here.
            frameDone_.wait(lock, [&] {
                const auto found = slots_.find(n);
                return found == slots_.end() || found->second.state == State::Done;
            });
        }
    }

  private:
    enum class State { Queued, Running, Done };

    struct Slot {
        State state = State::Queued;
        PFrame frame;
        std::exception_ptr error;
    };

    // Unlocked: only the thread that set the slot Running touches these fields.
    void Render(int n, Slot& slot) {
        try {
            slot.frame = child_->GetFrame(n);
        } catch (...) {
            slot.error = std::current_exception();
        }
    }

    void Finish(Slot& slot) {
        slot.state = State::Done;
        frameDone_.notify_all();
    }

    static PFrame Take(const Slot& slot) {
        if (slot.error) std::rethrow_exception(slot.error);
        return slot.frame;
    }

    // Drops what lies outside the window; a slot in work stays until it is done.
    void Forget(int n) {
        for (auto it = slots_.begin(); it != slots_.end();) {
            const bool outside = it->first < n || it->first > int64_t{n} + ahead_;
            if (outside && it->second.state != State::Running) {
                it = slots_.erase(it);
            } else {
                ++it;
            }
        }
        std::deque<int> live;
        for (int q : queue_) {
            const auto it = slots_.find(q);
            if (it != slots_.end() && it->second.state == State::Queued) live.push_back(q);
        }
        queue_.swap(live);
    }

    void Schedule(int n) {
        const int last =
            static_cast<int>(std::min<int64_t>(vi_.num_frames - 1, int64_t{n} + ahead_));
        bool added = false;
        for (int k = n + 1; k <= last; ++k) {
            if (slots_.emplace(k, Slot{}).second) {
                queue_.push_back(k);
                added = true;
            }
        }
        if (added) workAvailable_.notify_all();
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            const int n = queue_.front();
            queue_.pop_front();
            const auto it = slots_.find(n);
            if (it == slots_.end() || it->second.state != State::Queued) continue;
            Slot& slot = it->second;
            slot.state = State::Running;
            lock.unlock();
            Render(n, slot);
            lock.lock();
            Finish(slot);
        }
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        workAvailable_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        workers_.clear();
    }

    PClip child_;
    const int ahead_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable frameDone_;
    std::map<int, Slot> slots_;  // std::map: references stay valid while others change
    std::deque<int> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

PClip MakePrefetcher(PClip child, int threads) {
    if (threads <= 0) return child;
    if (threads > kMaxThreads) {
        throw Error("Prefetch: at most " + std::to_string(kMaxThreads) + " threads");
    }
    return std::make_shared<Prefetcher>(std::move(child), threads);
}

}  // namespace ms
