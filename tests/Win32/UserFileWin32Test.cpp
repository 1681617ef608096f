/*
 * The option file's owner as Windows has it: the user, the Administrators group (which
 * owns the new files of an elevated administrator on Windows Server), or the token's
 * default owner are the user's own; anyone else is not. Wine cannot make such files: the
 * decision is tested on the owners themselves.
 */
#include <gtest/gtest.h>

#include "QVLib/Win32/UserFileWin32.h"

namespace
{

/* A well-known SID in storage of its own. */
struct Sid {
    explicit Sid(WELL_KNOWN_SID_TYPE type)
    {
        DWORD size = sizeof bytes;
        EXPECT_TRUE(CreateWellKnownSid(type, nullptr, bytes, &size));
    }
    PSID get()
    {
        return bytes;
    }
    BYTE bytes[SECURITY_MAX_SID_SIZE];
};

TEST(UserFileWin32, OwnersTheUserTrusts)
{
    Sid user(WinLocalServiceSid), admins(WinBuiltinAdministratorsSid), other(WinWorldSid),
        users(WinBuiltinUsersSid), system(WinLocalSystemSid);
    EXPECT_TRUE(qv_user_file_owner_trusted(user.get(), user.get(), nullptr));
    EXPECT_TRUE(qv_user_file_owner_trusted(admins.get(), user.get(), nullptr));
    EXPECT_TRUE(qv_user_file_owner_trusted(system.get(), user.get(), system.get()));
    EXPECT_FALSE(qv_user_file_owner_trusted(system.get(), user.get(), nullptr));
    EXPECT_FALSE(qv_user_file_owner_trusted(other.get(), user.get(), admins.get()));
    EXPECT_FALSE(qv_user_file_owner_trusted(users.get(), user.get(), nullptr));
    EXPECT_FALSE(qv_user_file_owner_trusted(nullptr, user.get(), user.get()));
}

} // namespace
