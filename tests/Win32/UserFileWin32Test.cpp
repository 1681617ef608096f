/*
 * The option file's owner as Windows has it: the user, the Administrators group (owner
 * of an elevated administrator's new files on Windows Server) and the token's default
 * owner are the user's own; no one else is. Wine cannot make such files: the decision is
 * tested on the owners themselves.
 */
#include <gtest/gtest.h>

#include <vector>

#include "QVLib/Win32/UserFileWin32.h"

TEST(UserFileWin32, OwnersTheUserTrusts)
{
    std::vector<std::vector<BYTE>> sids;
    for (WELL_KNOWN_SID_TYPE type : {WinLocalServiceSid, WinBuiltinAdministratorsSid,
                                     WinLocalSystemSid, WinWorldSid, WinBuiltinUsersSid}) {
        sids.emplace_back(SECURITY_MAX_SID_SIZE);
        DWORD size = SECURITY_MAX_SID_SIZE;
        ASSERT_TRUE(CreateWellKnownSid(type, nullptr, sids.back().data(), &size));
    }
    PSID user = sids[0].data(), admins = sids[1].data(), system = sids[2].data();
    EXPECT_TRUE(qv_user_file_owner_trusted(user, user, nullptr));
    EXPECT_TRUE(qv_user_file_owner_trusted(admins, user, nullptr));
    EXPECT_TRUE(qv_user_file_owner_trusted(system, user, system));
    EXPECT_FALSE(qv_user_file_owner_trusted(system, user, nullptr));
    EXPECT_FALSE(qv_user_file_owner_trusted(sids[3].data(), user, admins));
    EXPECT_FALSE(qv_user_file_owner_trusted(sids[4].data(), user, nullptr));
    EXPECT_FALSE(qv_user_file_owner_trusted(nullptr, user, user));
}
