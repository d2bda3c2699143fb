#include "engine/engine.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "host/stopsignal.h"

namespace riz {
namespace {

using enginetest::EngineDirTest;

class WaitForWorkTest : public EngineDirTest {
 protected:
  void SetUp() override {
    EngineDirTest::SetUp();
    savedStop_ = stopEvent;
    stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    watchEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stopEvent = stop_.get();
  }
  void TearDown() override {
    stopEvent = savedStop_;
    EngineDirTest::TearDown();
  }
  HANDLE savedStop_ = nullptr;
  UniqueHandle stop_;
  UniqueHandle watchEvent_;
  bool logged_ = false;
};

TEST_F(WaitForWorkTest, StopWinsOverANotificationAndTimeoutsStartTheNextPass) {
  EXPECT_EQ(waitForWork(watchEvent_.get(), 0, logged_), WaitOutcome::NextPass);
  EXPECT_EQ(waitForWork(nullptr, 10, logged_), WaitOutcome::NextPass) << "no watch open";
  SetEvent(watchEvent_.get());
  EXPECT_EQ(waitForWork(watchEvent_.get(), 0, logged_), WaitOutcome::Notified);
  SetEvent(stop_.get());
  EXPECT_EQ(waitForWork(watchEvent_.get(), 0, logged_), WaitOutcome::Stop);
  EXPECT_EQ(waitForWork(nullptr, 0, logged_), WaitOutcome::Stop);
  EXPECT_FALSE(logged_);
}

TEST_F(WaitForWorkTest, FailingWaitIsLoggedOnceAndStillSeesTheStop) {
  // A handle value that was closed makes WaitForMultipleObjects fail.
  HANDLE stale = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(stale);
  EXPECT_EQ(waitForWork(stale, 0, logged_), WaitOutcome::NextPass);
  EXPECT_EQ(waitForWork(stale, 0, logged_), WaitOutcome::NextPass);
  EXPECT_TRUE(logged_);
  const std::string log = logText();
  EXPECT_NE(log.find("wait failed err=6\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("wait failed"), log.rfind("wait failed")) << "logged once";
  SetEvent(stop_.get());
  EXPECT_EQ(waitForWork(stale, 0, logged_), WaitOutcome::Stop);
}

}  // namespace
}  // namespace riz
