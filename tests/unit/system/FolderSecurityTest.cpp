#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "system/FolderSecurity.h"

// Wine keeps no security descriptors on files: what is checked here is the descriptor that folders
// are created with; tests/peer/run sees it handed to the creation of the install folder.

namespace {

PSID WellKnown(WELL_KNOWN_SID_TYPE type, BYTE (&buffer)[SECURITY_MAX_SID_SIZE])
{
    DWORD cb = sizeof(buffer);
    return CreateWellKnownSid(type, nullptr, buffer, &cb) ? buffer : nullptr;
}

TEST(FolderSecurityTest, OnlySystemAndAdministratorsMayChangeAndNothingIsInherited)
{
    CProtectedFolderSecurity security;
    LPSECURITY_ATTRIBUTES psa = security.Get();
    ASSERT_NE(nullptr, psa);
    EXPECT_FALSE(psa->bInheritHandle);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(psa->lpSecurityDescriptor, &control, &dwRevision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_TRUE(control & SE_DACL_PRESENT);

    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL pDacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(psa->lpSecurityDescriptor, &bPresent, &pDacl, &bDefaulted));
    ASSERT_NE(nullptr, pDacl);
    ASSERT_EQ(3, pDacl->AceCount);
    BYTE system[SECURITY_MAX_SID_SIZE];
    BYTE admins[SECURITY_MAX_SID_SIZE];
    BYTE users[SECURITY_MAX_SID_SIZE];
    struct Expected {
        PSID pSid;
        ACCESS_MASK mask;
    } expected[] = {{WellKnown(WinLocalSystemSid, system), FILE_ALL_ACCESS},
        {WellKnown(WinBuiltinAdministratorsSid, admins), FILE_ALL_ACCESS},
        {WellKnown(WinBuiltinUsersSid, users), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    for (DWORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* pAce = nullptr;
        ASSERT_TRUE(GetAce(pDacl, i, reinterpret_cast<void**>(&pAce)));
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, pAce->Header.AceType) << i;
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, pAce->Header.AceFlags) << i;
        EXPECT_EQ(expected[i].mask, pAce->Mask) << i;
        EXPECT_TRUE(EqualSid(expected[i].pSid, &pAce->SidStart)) << i;
    }
    // Users may neither write, nor add files, nor delete.
    EXPECT_EQ(0u, expected[2].mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER));
}

} // namespace
