// Prefetch through the C interface: worker threads must hand out every frame, whatever the
// order of the requests, also to several host threads at once, and pass frame errors on.
#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "host.h"

namespace {

using host::Host;

constexpr int kFrames = 120;

// Prefetch(MSBusy(BlankClip(...), ms), threads): frames that take a moment to render.
AVS_Value Prefetched(Host& h, int threads, float busyMs = 0.2f) {
    const char* names[] = {"length", "width", "height"};
    AVS_Value source = h.Invoke(
        "BlankClip", host::Array({host::Int(kFrames), host::Int(64), host::Int(64)}), names);
    AVS_Value busy = h.Invoke("MSBusy", host::Array({source, host::Float(busyMs)}));
    return h.Invoke("Prefetch", host::Array({busy, host::Int(threads)}));
}

TEST(PrefetchTest, EveryFrameInAnyOrder) {
    Host h;
    ASSERT_TRUE(h.Ready());
    AVS_Value v = Prefetched(h, 4);
    ASSERT_EQ(v.type, avs::kTypeClip) << Host::ErrorText(v);
    host::ClipHandle c(h.api, v, h.env);
    EXPECT_EQ(c.Info().num_frames, kFrames);

    std::vector<int> order(kFrames);
    for (int i = 0; i < kFrames; ++i)
        order[i] = i;
    for (int n : order)
        ASSERT_TRUE(c.Render(n)) << "ascending " << n;
    std::reverse(order.begin(), order.end());
    for (int n : order)
        ASSERT_TRUE(c.Render(n)) << "descending " << n;
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    for (int n : order)
        ASSERT_TRUE(c.Render(n)) << "shuffled " << n;
    // Frames held while others are requested stay valid.
    std::vector<AVS_VideoFrame*> held;
    for (int n = 0; n < 20; ++n)
        held.push_back(h.api.getFrame(c.get(), n * 3));
    for (AVS_VideoFrame* f : held) {
        EXPECT_NE(f, nullptr);
        if (f) h.api.releaseFrame(f);
    }
}

TEST(PrefetchTest, SeveralHostThreadsAtOnce) {
    Host h;
    ASSERT_TRUE(h.Ready());
    AVS_Value v = Prefetched(h, 3);
    ASSERT_EQ(v.type, avs::kTypeClip) << Host::ErrorText(v);
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        // Handles are taken here: the environment is not used from several threads.
        auto* clip = h.api.takeClip(v, h.env);
        readers.emplace_back([&h, &failures, clip, t] {
            for (int i = 0; i < kFrames; ++i) {
                int n = (i * (t + 1) * 7) % kFrames;
                AVS_VideoFrame* f = h.api.getFrame(clip, n);
                if (f) {
                    h.api.releaseFrame(f);
                } else {
                    ++failures;
                }
            }
            h.api.releaseClip(clip);
        });
    }
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(PrefetchTest, ThreadCountsAndErrors) {
    Host h;
    ASSERT_TRUE(h.Ready());
    const char* length[] = {"length"};
    AVS_Value source = h.Invoke("BlankClip", host::Int(30), length);
    // No worker threads: the clip itself comes back.
    AVS_Value same = h.Invoke("Prefetch", host::Array({source, host::Int(0)}));
    ASSERT_EQ(same.type, avs::kTypeClip);
    EXPECT_EQ(h.Invoke("Prefetch", host::Array({source, host::Int(-1)})).type, avs::kTypeError);
    EXPECT_EQ(h.Invoke("Prefetch", source).type, avs::kTypeClip);  // one per processor

    AVS_Value faulty = h.Invoke(
        "MSFault", host::Array({source, host::Int(7), host::Str("error"), host::Str("no 7")}));
    AVS_Value v = h.Invoke("Prefetch", host::Array({faulty, host::Int(2)}));
    ASSERT_EQ(v.type, avs::kTypeClip) << Host::ErrorText(v);
    host::ClipHandle c(h.api, v, h.env);
    for (int n = 0; n < 30; ++n) {
        bool ok = c.Render(n);
        EXPECT_EQ(ok, n != 7) << n;
        if (n == 7) {
            ASSERT_NE(h.api.clipGetError(c.get()), nullptr);
            EXPECT_STREQ(h.api.clipGetError(c.get()), "no 7");
        }
    }
}

TEST(PrefetchTest, EnvironmentDeletedWhileWorkersRun) {
    host::Library lib;
    host::Api api(lib);
    ASSERT_TRUE(api.Complete() && api.create);
    AVS_ScriptEnvironment* env = api.create(12);
    ASSERT_NE(env, nullptr);
    const char* names[] = {"length", nullptr};
    AVS_Value source = api.invoke(env, "BlankClip", host::Int(kFrames), names);
    AVS_Value v = api.invoke(env, "Prefetch", host::Array({source, host::Int(2)}), nullptr);
    ASSERT_EQ(v.type, avs::kTypeClip);
    AVS_Clip* clip = api.takeClip(v, env);
    api.releaseValue(v);
    api.releaseValue(source);
    ASSERT_TRUE(clip);
    AVS_VideoFrame* f = api.getFrame(clip, 0);  // workers now render ahead
    api.deleteEnv(env);
    EXPECT_NE(f, nullptr);
    if (f) api.releaseFrame(f);
    for (int n = 1; n < 10; ++n) {
        AVS_VideoFrame* g = api.getFrame(clip, n);
        EXPECT_NE(g, nullptr);
        if (g) api.releaseFrame(g);
    }
    api.releaseClip(clip);  // stops the workers
}

}  // namespace
