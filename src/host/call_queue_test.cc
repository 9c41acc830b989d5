// The engine thread's queue: calls made while the engine is busy run in
// call order and come back to each sink together; a withdrawn call never
// runs; a long call does not hold the results of those before it; a call
// made after the previous one came back runs whether the engine thread is
// still looking for it or has gone to sleep.
#include "host/call_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_app.h"

namespace {

using Batches = std::vector<std::vector<std::string>>;

// Records each delivery as "number:result" texts.
class RecordingSink : public CompletionSink {
 public:
  void deliver(std::vector<std::shared_ptr<QueuedCall>> calls) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    batches_.emplace_back();
    for (const auto& call : calls) {
      batches_.back().push_back(std::to_string(call->tag) + ":" + call->outcome.result);
    }
    count_ += calls.size();
    changed_.notify_all();
  }

  // The deliveries once `calls` calls have come back (or after 10 s).
  Batches waitFor(size_t calls) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= calls; });
    return batches_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Batches batches_;
  size_t count_ = 0;
};

// An application whose statement "sleep <ms>;" sleeps that long.
struct SleepApp {
  SleepApp() {
    app.installSyntaxModule("keyword_syntax");
    app.installPackModule("calc", "sleep_module", "nap");
    syntax = app.syntaxFile("calc", "sleep (nap)\n");
  }

  // Queues "sleep <ms>;" as call number `tag`, handed back to `sink`.
  std::shared_ptr<QueuedCall> queue(int tag, std::shared_ptr<CompletionSink> sink, int ms) {
    auto call = std::make_shared<QueuedCall>();
    call->kind = QueuedCall::kExec;
    call->args[0] = app.path();
    call->args[1] = "sleep " + std::to_string(ms) + ";";
    call->args[2] = syntax;
    call->tag = tag;
    call->sink = std::move(sink);
    enqueueCall(call);
    return call;
  }

  TestApp app;
  std::string syntax;
};

TEST(CallQueue, CallsMadeWhileBusyComeBackTogetherInOrder) {
  // Short calls take milliseconds under valgrind; the long one is longer.
  setBatchHold(std::chrono::milliseconds(100));
  SleepApp app;
  auto a = std::make_shared<RecordingSink>();
  auto b = std::make_shared<RecordingSink>();
  const auto first = app.queue(0, a, 200);
  while (first->state.load() != QueuedCall::kRunning) std::this_thread::yield();
  const int sleeps[] = {0, 0, 0, 0, 0, 600};
  std::vector<std::shared_ptr<QueuedCall>> later;
  for (int tag = 1; tag <= 6; ++tag) {
    later.push_back(app.queue(tag, tag % 2 ? a : b, sleeps[tag - 1]));
  }
  EXPECT_TRUE(cancelQueuedCall(*later[2]));
  EXPECT_FALSE(cancelQueuedCall(*first));
  EXPECT_EQ(a->waitFor(3), (Batches{{"0:slept 200"}, {"1:slept 0", "5:slept 0"}}));
  EXPECT_EQ(b->waitFor(3), (Batches{{"2:slept 0", "4:slept 0"}, {"6:slept 600"}}));
}

TEST(CallQueue, EachCallMadeOnceThePreviousCameBackRuns) {
  SleepApp app;
  // Right away the engine thread is still looking for the call; after
  // 5 ms it sleeps and must be woken.
  for (const int pauseMs : {0, 5}) {
    auto sink = std::make_shared<RecordingSink>();
    Batches expected;
    for (int tag = 0; tag < 20; ++tag) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      app.queue(tag, sink, 0);
      expected.push_back({std::to_string(tag) + ":slept 0"});
      ASSERT_EQ(sink->waitFor(tag + 1), expected) << "pause " << pauseMs << " ms";
    }
  }
}

}  // namespace
