// Prefetch: frames rendered ahead on worker threads must be exactly the frames the chain
// renders without it, errors must reach whoever asks for the frame, and the workers must
// stop cleanly whatever they are doing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "core.h"
#include "env.h"

namespace {

using ms::PClip;
using ms::PFrame;

// Frame n is a 32x16 Y8 picture that depends on n; frame failAt throws. Records which
// threads rendered and how many renders are under way.
class Source : public ms::Clip {
  public:
    Source(int frames, std::chrono::milliseconds cost = {}, int failAt = -1)
        : Clip(Info(frames)), cost_(cost), failAt_(failAt) {}

    PFrame GetFrame(int n) override {
        n = std::clamp(n, 0, vi_.num_frames - 1);  // as every source does
        ++started_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            threads_.insert(std::this_thread::get_id());
        }
        if (cost_.count() > 0) std::this_thread::sleep_for(cost_);
        if (n == failAt_) {
            ++finished_;
            throw ms::Error("frame " + std::to_string(n) + " is broken");
        }
        auto f = std::make_shared<ms::Frame>(vi_);
        for (int y = 0; y < f->Height(0); ++y) {
            for (int x = 0; x < f->RowSize(0); ++x) {
                f->Data(0)[y * f->Pitch(0) + x] = static_cast<uint8_t>(n * 7 + x * 3 + y * 11);
            }
        }
        ++finished_;
        return f;
    }

    int Started() const { return started_; }
    int Finished() const { return finished_; }
    std::set<std::thread::id> Threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

  private:
    static ms::VideoInfo Info(int frames) {
        ms::VideoInfo vi{};
        vi.width = 32;
        vi.height = 16;
        vi.pixel_type = static_cast<int>(avs::kCsY8);
        vi.fps_numerator = 25;
        vi.fps_denominator = 1;
        vi.num_frames = frames;
        return vi;
    }

    std::chrono::milliseconds cost_;
    int failAt_;
    std::atomic<int> started_{0};
    std::atomic<int> finished_{0};
    std::mutex mutex_;
    std::set<std::thread::id> threads_;
};

// A real filter between the source and Prefetch, as in a script.
PClip Blurred(PClip src) {
    std::vector<ms::Function> table;
    ms::RegisterFilters(table);
    for (const ms::Function& f : table) {
        if (f.name == "Blur") {
            ms::Env env;
            return f
                .call(env, {ms::Value::FromClip(std::move(src)), ms::Value::Float(1.0), ms::Value(),
                            ms::Value()})
                .AsClip();
        }
    }
    ADD_FAILURE() << "no Blur";
    return nullptr;
}

bool SameFrame(const PFrame& a, const PFrame& b) {
    if (a->PlaneCount() != b->PlaneCount()) return false;
    for (int p = 0; p < a->PlaneCount(); ++p) {
        if (a->RowSize(p) != b->RowSize(p) || a->Height(p) != b->Height(p)) return false;
        for (int y = 0; y < a->Height(p); ++y) {
            if (std::memcmp(a->Data(p) + y * a->Pitch(p), b->Data(p) + y * b->Pitch(p),
                            static_cast<size_t>(a->RowSize(p))) != 0) {
                return false;
            }
        }
    }
    return true;
}

std::vector<int> Orders(const std::string& kind, int frames) {
    std::vector<int> order;
    if (kind == "sequential") {
        for (int n = 0; n < frames; ++n)
            order.push_back(n);
    } else {  // random, with repeats, jumps back and numbers out of range
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> pick(-3, frames + 3);
        for (int i = 0; i < 3 * frames; ++i)
            order.push_back(pick(random));
    }
    return order;
}

TEST(Prefetch, EveryFrameEqualsTheUnprefetchedOne) {
    const int frames = 60;
    const PClip plain = Blurred(std::make_shared<Source>(frames));
    for (int threads : {1, 2, 4}) {
        for (const char* order : {"sequential", "random"}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + order);
            const PClip ahead =
                ms::MakePrefetcher(Blurred(std::make_shared<Source>(frames)), threads);
            EXPECT_EQ(
                std::memcmp(&ahead->GetVideoInfo(), &plain->GetVideoInfo(), sizeof(ms::VideoInfo)),
                0);
            for (int n : Orders(order, frames)) {
                ASSERT_TRUE(SameFrame(ahead->GetFrame(n), plain->GetFrame(n))) << "frame " << n;
            }
        }
    }
}

TEST(Prefetch, WorkersRenderAheadOnTheirOwnThreads) {
    const auto src = std::make_shared<Source>(40, std::chrono::milliseconds(2));
    const PClip ahead = ms::MakePrefetcher(src, 2);
    for (int n = 0; n < 40; ++n)
        ahead->GetFrame(n);
    std::set<std::thread::id> threads = src->Threads();
    threads.erase(std::this_thread::get_id());
    EXPECT_GE(threads.size(), 1u);
    EXPECT_LE(threads.size(), 2u);
    // Each frame is rendered once, by a worker or by the requester.
    EXPECT_EQ(src->Started(), 40);
}

TEST(Prefetch, SeveralRequestersShareOnePrefetcher) {
    const int frames = 80;
    const PClip plain = std::make_shared<Source>(frames);
    const PClip ahead = ms::MakePrefetcher(std::make_shared<Source>(frames), 3);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&, r] {
            for (int n = r; n < frames; n += 1 + r) {
                if (!SameFrame(ahead->GetFrame(n), plain->GetFrame(n))) ++mismatches;
            }
        });
    }
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(Prefetch, AnErrorInAWorkerReachesTheRequester) {
    const auto src = std::make_shared<Source>(30, std::chrono::milliseconds(1), 5);
    const PClip ahead = ms::MakePrefetcher(src, 2);
    for (int n = 0; n < 5; ++n)
        ahead->GetFrame(n);
    // Frames 5..8 are queued now; once all have started, a worker has met the error.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (src->Started() < 9 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(src->Started(), 9);
    try {
        ahead->GetFrame(5);
        FAIL() << "frame 5 should fail";
    } catch (const ms::Error& e) {
        EXPECT_STREQ(e.what(), "frame 5 is broken");
    }
    EXPECT_NO_THROW(ahead->GetFrame(6));
    EXPECT_THROW(ahead->GetFrame(5), ms::Error);  // asked again: fails again
}

TEST(Prefetch, DestructionWhileWorkIsInFlightStopsEveryWorker) {
    for (int threads : {1, 4}) {
        const auto src = std::make_shared<Source>(1000, std::chrono::milliseconds(5));
        {
            const PClip ahead = ms::MakePrefetcher(src, threads);
            ahead->GetFrame(0);  // queues frames 1..2*threads
        }
        // The workers finished what they had in hand and were joined: nothing runs on.
        const int started = src->Started();
        EXPECT_EQ(src->Finished(), started);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(src->Started(), started);
        EXPECT_LE(started, 1 + 2 * threads);
    }
}

TEST(Prefetch, ZeroThreadsIsTheChildAndAbsurdCountsAreRefused) {
    const PClip src = std::make_shared<Source>(10);
    EXPECT_EQ(ms::MakePrefetcher(src, 0).get(), src.get());
    EXPECT_NE(ms::MakePrefetcher(src, 1).get(), src.get());
    EXPECT_THROW(ms::MakePrefetcher(src, 100000), ms::Error);
}

}  // namespace
