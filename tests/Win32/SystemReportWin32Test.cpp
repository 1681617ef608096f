/*
 * Tests of a program that carries the tool's own resources (its icon, its version
 * resource and its manifest): the application icon as the system reads it, and the
 * whole system report as the system gives it: the version section read back from the
 * executable, the version the manifest lets the system tell, the computer's name, memory
 * and drives.
 *
 * The system must be Windows 10 or 11 (a Wine prefix set to "win10"): without the
 * manifest it would say 6.2 there.
 */
#include <gtest/gtest.h>

#include <windows.h>

#include <direct.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "tests/support/LogCapture.h"

namespace
{

TEST(SystemReportWin32, TheWholeReportAsTheSystemGivesIt)
{
    StderrCapture capture;
    qv_system_report();
    const std::vector<std::string> lines = capture.finish();

    char directory[MAX_PATH], program[MAX_PATH], computer[MAX_COMPUTERNAME_LENGTH + 1];
    char language[MAX_PATH];
    DWORD computer_size = sizeof computer;
    ASSERT_NE(nullptr, _getcwd(directory, sizeof directory));
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, program, sizeof program));
    ASSERT_TRUE(GetComputerNameA(computer, &computer_size));
    /* The system's name of the language ("English (United States)"; Wine 8 says
     * "English"). */
    ASSERT_NE(0u, VerLanguageNameA(0x0409, language, sizeof language));
    std::vector<std::string> expected = {
        std::string("INFO   : Running in ") + directory,
        std::string("INFO   : File ") + program + " info:",
#ifndef NDEBUG
        "INFO   :   Debug build",
#endif
        std::string("INFO   :   Language: ") + language,
        "INFO   :     FileDescription = VADedeVeZovid",
        "INFO   :     FileVersion = 4.0.0.0",
        "INFO   :     OriginalFilename = VADedeVeZovid",
        "INFO   :     ProductName = VADedeVeZovid",
        "INFO   :     ProductVersion = 4.0.0.0",
    };
    ASSERT_LT(expected.size() + 5, lines.size());
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_EQ(expected[i], lines[i]);

    /* The manifest declares Windows 10 and 11: the system tells its true version (as
     * ntdll's RtlGetVersion, which no compatibility shim touches, tells it), which no
     * row of the naming table names. */
    size_t at = expected.size();
    RTL_OSVERSIONINFOW truth = {};
    truth.dwOSVersionInfoSize = sizeof truth;
    auto rtl_get_version = reinterpret_cast<LONG(WINAPI *)(RTL_OSVERSIONINFOW *)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(nullptr, rtl_get_version);
    ASSERT_EQ(0, rtl_get_version(&truth));
    EXPECT_EQ("INFO   : OS Version Major " + std::to_string(truth.dwMajorVersion) + " Minor " +
                  std::to_string(truth.dwMinorVersion) + " Build# " +
                  std::to_string(truth.dwBuildNumber) + " PlatformId 2 ",
              lines[at].substr(0, lines[at].find(" PlatformId 2 ") + 14));
    EXPECT_EQ(10u, truth.dwMajorVersion) << "the Wine prefix should be set to Windows 10";
    EXPECT_EQ(std::string("INFO   : Computer name: ") + computer, lines[at + 1]);
    const char *size = " *[0-9]+ (bytes|KB|MB|GB|TB)";
    const char *const kinds[] = {"RAM    ", "Page   ", "Virtual"};
    for (size_t i = 0; i < 3; i++)
        EXPECT_TRUE(std::regex_match(lines[at + 2 + i],
                                     std::regex(std::string("INFO   : ") + kinds[i] + " Total" +
                                                size + "  Available" + size)))
            << lines[at + 2 + i];
    /* Wine's C: is a fixed drive; every drive line has the report's shape. */
    EXPECT_TRUE(std::regex_match(lines[at + 5], std::regex(std::string("INFO   : Drive C Total") +
                                                           size + "  Free" + size +
                                                           "  Type: Fixed drive")))
        << lines[at + 5];
    for (size_t i = at + 6; i < lines.size(); i++)
        EXPECT_TRUE(std::regex_match(lines[i],
                                     std::regex(std::string("INFO   : Drive [D-Z] Total") + size +
                                                "  Free" + size + "  Type: (Fixed drive|RAM disk)")))
            << lines[i];
}

/* ---- the application icon ------------------------------------------------------------------ */

/* The first icon group, as the Explorer takes it, is the application icon
 * (WinGUI/icon/VADedeVeZovid.icon) at each of its sizes, decoded by the system: a clear
 * corner, the tile's two blues, the drum, the lens. */
TEST(ResourcesWin32, TheFirstIconGroupIsTheApplicationIconAtEverySize)
{
    char program[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, program, sizeof program));
    const struct {
        double x, y;
        uint32_t argb; /* the description's colours */
    } points[] = {{0.01, 0.01, 0x00000000}, {0.90, 0.30, 0xff1f5aa6}, {0.08, 0.60, 0xff17447e},
                  {0.40, 0.30, 0xffffffff}, {0.73, 0.73, 0xff0b1d36}};
    for (int size : {16, 24, 32, 48, 256}) {
        HICON icon = nullptr;
        ASSERT_EQ(1u, PrivateExtractIconsA(program, 0, size, size, &icon, nullptr, 1, 0)) << size;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAPINFO format = {};
        format.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<uint32_t> argb(static_cast<size_t>(size) * size); /* BGRA bytes */
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(size, GetDIBits(screen, info.hbmColor, 0, size, argb.data(), &format,
                                  DIB_RGB_COLORS));
        ReleaseDC(nullptr, screen);
        for (const auto &p : points) {
            size_t x = static_cast<size_t>(p.x * size), y = static_cast<size_t>(p.y * size);
            EXPECT_EQ(p.argb, argb[y * size + x]) << size << " pixels, at " << p.x << ", " << p.y;
        }
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

} // namespace
