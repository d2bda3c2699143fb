#include "host/stopsignal.h"

#include <gtest/gtest.h>

#include "fileutil/unique.h"

namespace riz {
namespace {

// stopEvent is process-wide; the test puts its own event in place and restores the old one.
TEST(StopSignal, ConsoleHandlerSetsTheEventForEveryEventAndAlwaysAnswersTrue) {
  const HANDLE saved = stopEvent;
  stopEvent = nullptr;
  EXPECT_TRUE(consoleControlHandler(CTRL_C_EVENT)) << "before the event exists";
  EXPECT_FALSE(stopRequested());

  createStopEvent();
  UniqueHandle owner(stopEvent);
  ASSERT_TRUE(owner);
  EXPECT_FALSE(stopRequested()) << "created not signalled";
  EXPECT_TRUE(consoleControlHandler(CTRL_BREAK_EVENT));
  EXPECT_TRUE(stopRequested());
  EXPECT_TRUE(consoleControlHandler(CTRL_C_EVENT)) << "a second event changes nothing";
  EXPECT_EQ(WaitForSingleObject(stopEvent, 0), WAIT_OBJECT_0) << "manual reset: stays set";
  EXPECT_EQ(WaitForSingleObject(stopEvent, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(consoleControlHandler(CTRL_CLOSE_EVENT));
  EXPECT_TRUE(consoleControlHandler(CTRL_SHUTDOWN_EVENT));
  stopEvent = saved;
}

}  // namespace
}  // namespace riz
