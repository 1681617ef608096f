/*
 * Tests of the system report's Windows lines, which are pure functions and so tested on
 * every platform: the naming table of Windows versions with its details and its
 * fallback line, and the sizes of a volume from its clusters.
 */
#include <gtest/gtest.h>

#include <string>

#include "Interfaces/ErrorLogger/ReportLines.h"

namespace
{

std::string os_line(uint32_t major, uint32_t minor, uint32_t build, uint32_t platform,
                    const char *service_pack, uint16_t suite = 0, uint8_t product = 1,
                    uint16_t architecture = 0)
{
    QVWindowsVersion v = {major, minor, build, platform, service_pack, suite, product,
                          architecture};
    char line[600];
    qv_windows_os_line(&v, line, sizeof line);
    return line;
}

TEST(WindowsReportLines, TheNamingTableAndItsDetails)
{
    const struct {
        std::string line, expected;
    } cases[] = {
        {os_line(6, 0, 6002, 2, "Service Pack 2"),
         "OS: Microsoft Windows Vista Service Pack 2 (Build 6002)"},
        {os_line(6, 0, 6002, 2, "", 0, 3), "OS: Microsoft Windows Server 2008  (Build 6002)"},
        {os_line(5, 2, 3790, 2, "Service Pack 2", 0, 1, 9),
         "OS: Microsoft Windows XP Professional x64 Edition Service Pack 2 (Build 3790)"},
        {os_line(5, 2, 3790, 2, "", 0x2000, 1, 9), "OS: Microsoft Windows Server 2003  (Build 3790)"},
        {os_line(5, 2, 3790, 2, "", 0, 1, 0), "OS: Microsoft Windows Server 2003  (Build 3790)"},
        {os_line(5, 1, 2600, 2, "Service Pack 3"),
         "OS: Microsoft Windows XP Professional Service Pack 3 (Build 2600)"},
        {os_line(5, 1, 2600, 2, "", 0x0200), "OS: Microsoft Windows XP Home Edition  (Build 2600)"},
        {os_line(5, 0, 2195, 2, "", 0x0080, 1), "OS: Microsoft Windows 2000 Professional  (Build 2195)"},
        {os_line(5, 0, 2195, 2, "", 0x0082, 3),
         "OS: Microsoft Windows 2000 Datacenter Server  (Build 2195)"},
        {os_line(5, 0, 2195, 2, "", 0x0002, 3),
         "OS: Microsoft Windows 2000 Advanced Server  (Build 2195)"},
        {os_line(5, 0, 2195, 2, "", 0, 3), "OS: Microsoft Windows 2000 Server  (Build 2195)"},
        /* By platform: versions up to 4 carry "version" and a trailing blank, and the
         * build number's low 16 bits. */
        {os_line(3, 10, 0x030A0000 | 102, 0, ""),
         "OS: Microsoft Win32s version 3.10  (Build 102) "},
        {os_line(4, 0, 0x04000000 | 1111, 1, " C"),
         "OS: Microsoft Windows 95 OSR2 version 4.0  C (Build 1111) "},
        {os_line(4, 0, 950, 1, " B"), "OS: Microsoft Windows 95 B version 4.0  B (Build 950) "},
        {os_line(4, 0, 950, 1, ""), "OS: Microsoft Windows 95 version 4.0  (Build 950) "},
        {os_line(4, 10, 2222, 1, " A"), "OS: Microsoft Windows 98 SE version 4.10  A (Build 2222) "},
        {os_line(4, 10, 1998, 1, ""), "OS: Microsoft Windows 98 version 4.10  (Build 1998) "},
        {os_line(4, 90, 3000, 1, ""), "OS: Microsoft Windows Me version 4.90  (Build 3000) "},
        {os_line(4, 0, 1381, 2, "Service Pack 6"),
         "OS: Microsoft Windows NT version 4.0 Service Pack 6 (Build 1381) "},
        /* No row: the fallback with the full build number. */
        {os_line(6, 1, 7601, 2, "Service Pack 1"),
         "OS Version Major 6 Minor 1 Build# 7601 PlatformId 2 Service Pack 1"},
        {os_line(10, 0, 0x12345678, 2, ""), "OS Version Major 10 Minor 0 Build# 305419896 PlatformId 2 "},
        {os_line(5, 3, 1, 2, ""), "OS Version Major 5 Minor 3 Build# 1 PlatformId 2 "},
        {os_line(4, 20, 1, 1, ""), "OS Version Major 4 Minor 20 Build# 1 PlatformId 1 "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, c.line);
}

TEST(WindowsReportLines, AVolumeOfFourGibibytesOrMoreIsSizedWhole)
{
    EXPECT_EQ(uint64_t{1} << 32, qv_windows_cluster_bytes(8, 512, 1u << 20));
    EXPECT_EQ(uint64_t{4096} * 0xFFFFFFFFu, qv_windows_cluster_bytes(8, 512, 0xFFFFFFFFu));
    EXPECT_EQ(0u, qv_windows_cluster_bytes(0, 512, 100));
}

} // namespace
