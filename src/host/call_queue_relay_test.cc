// The relay between the engine's stand-in thread and its host: the
// stand-in's task runs on the host's thread, what the host hands back runs
// on the stand-in, and no wait outlives a host that will not come or the
// process's exit.
#include "host/call_queue_relay.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

enum class Host { kArrives, kAbandoned, kExits };

TEST(HostRelay, RunsTheStandInsTaskOnTheHostWhileOneComes) {
  const struct { Host host; bool ran; } rows[] = {
      {Host::kArrives, true}, {Host::kAbandoned, false}, {Host::kExits, false}};
  for (const auto& row : rows) {
    HostRelay relay;
    const std::thread::id standIn = std::this_thread::get_id();
    std::thread::id ranOn, handedBackOn;
    const std::function<void()> handedBack = [&] { handedBackOn = std::this_thread::get_id(); };
    const std::function<void()> task = [&] {
      ranOn = std::this_thread::get_id();
      EXPECT_TRUE(HostRelay::runOnWaitingEngine(handedBack));
    };
    if (row.host == Host::kAbandoned) relay.abandon();
    if (row.host == Host::kExits) relay.exiting();
    bool served = false;
    std::thread host([&] { served = relay.arrive() && relay.awaitLoop(); });
    EXPECT_EQ(relay.runOnHost(task), row.ran);
    relay.handOver();
    host.join();
    EXPECT_EQ(served, row.ran);
    EXPECT_EQ(ranOn != std::thread::id() && ranOn != standIn, row.ran);
    EXPECT_EQ(handedBackOn == standIn, row.ran);
  }
  // Off a host's task, nothing is handed back.
  EXPECT_FALSE(HostRelay::runOnWaitingEngine([] {}));
}

}  // namespace
