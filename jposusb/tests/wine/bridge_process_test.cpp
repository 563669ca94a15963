// KorvaJposUsb.dll in processes of its own (jposusb_child.exe), with no
// scanner present: what one process's library does is not seen by
// another's, and a process may unload the library, or end, while a call
// waits in it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "testing/wine/wine_support.h"

namespace {

// Its exit code; -1 when it had not ended within the bound.
int RunChild(const std::string& step) {
  return wine::RunProgram(
      "\"" + wine::ProgramFolder() + "jposusb_child.exe\" " + step, 20000);
}

// The name of the event that once carried labels between processes: a
// process of the test holds its own event of that name, as another
// process with such a library would.
TEST(BridgeProcesses, AnotherProcesssLibraryNeitherSetsNorTakesOurEvent) {
  HANDLE shared = CreateEventA(nullptr, FALSE, FALSE, "KorvaJposUsbEvent");
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(RunChild("wait-and-close"), 0);
  EXPECT_EQ(WaitForSingleObject(shared, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the child's waiting call and its Close set it";
  SetEvent(shared);
  EXPECT_EQ(RunChild("wait-and-close"), 0);
  EXPECT_EQ(WaitForSingleObject(shared, 0), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the child's waiting call took this process's signal";
  CloseHandle(shared);
}

TEST(BridgeProcesses, UnloadOrExitWhileACallWaitsEndsTheProcess) {
  for (const char* step : {"free-while-waiting", "exit-while-waiting"}) {
    EXPECT_EQ(RunChild(step), 0) << step;
  }
}

}  // namespace
