// Every test leaves the process as it found it. All unit tests share one process, so a
// signal left ignored, a variable left set or a descriptor left open changes what later
// tests see (a child forked later inherits an ignored SIGPIPE and never dies of it). A test
// that leaves such a change fails here, naming it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/process.h"

namespace {

class ProcessStateCheck : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        before_ = testsupport::CaptureProcessState();
    }

    void OnTestEnd(const testing::TestInfo&) override {
        // A thread that was joined or a child that was collected may still be on its way
        // out of the kernel's lists for a moment.
        std::string changes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            changes = testsupport::ProcessStateChanges(before_, testsupport::CaptureProcessState());
            if (changes.empty() || std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!changes.empty()) ADD_FAILURE() << "The test left the process changed:\n" << changes;
    }

    testsupport::ProcessState before_;
};

const bool kRegistered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new ProcessStateCheck);
    return true;
}();

}  // namespace
