/*
 * Tests of the Windows framework's message box where nobody could see it: in a window
 * station without WSF_VISIBLE, as a service's or SYSTEM's in session 0, no box is shown
 * and nothing waits; the line on standard error stays. Wine's own window station is
 * visible, as the interactive one on Windows is; the box shown there is the end-to-end
 * test's (tests/windows/end-to-end.sh).
 */
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "AppFramework/AppFramework.h"
#include "AppFramework/AppFrameworkWin32.h"
#include "tests/support/LogCapture.h"

namespace
{

DWORD WINAPI show_box(void *)
{
    AfxMessageBox("nobody sees this");
    return 0;
}

TEST(AppFrameworkWin32, NoBoxWaitsInAWindowStationNobodySees)
{
    EXPECT_TRUE(AfxDesktopIsVisible());
    HWINSTA visible = GetProcessWindowStation();
    HWINSTA hidden = CreateWindowStationW(nullptr, 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(nullptr, hidden);
    ASSERT_TRUE(SetProcessWindowStation(hidden));
    EXPECT_FALSE(AfxDesktopIsVisible());

    /* A box there would wait for ever (measured under Wine): the watch gives up after 10 s. */
    StderrCapture capture;
    HANDLE box = CreateThread(nullptr, 0, show_box, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(box, 10000)) << "the box waits unseen";
    const std::vector<std::string> lines = capture.finish();
    SetProcessWindowStation(visible);
    EXPECT_EQ(std::vector<std::string>{"VADedeVeZovid: nobody sees this"}, lines);
    CloseHandle(box);
}

} // namespace
