#include "migration/server_core.h"
#include "win/version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ---- The decision on version records ---------------------------------------------------------

struct FakeProductInfo {
    int calls = 0;
    bool succeeds = true;
    DWORD productType = 0;
    OSVERSIONINFOEXW askedFor{};
};

FakeProductInfo fake;

bool fakeQuery(const OSVERSIONINFOEXW& v, DWORD* productType) {
    ++fake.calls;
    fake.askedFor = v;
    if (!fake.succeeds) {
        return false;
    }
    *productType = fake.productType;
    return true;
}

OSVERSIONINFOEXW version(DWORD major,
                         DWORD minor,
                         BYTE productType,
                         DWORD platform = VER_PLATFORM_WIN32_NT) {
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.dwBuildNumber = 6001;
    v.wServicePackMajor = 1;
    v.wProductType = productType;
    return v;
}

class ServerCoreDecision : public ::testing::Test {
  protected:
    void SetUp() override { fake = FakeProductInfo{}; }

    bool decide(const OSVERSIONINFOEXW& v, DWORD productType) {
        fake.productType = productType;
        return isServerCoreDecision(v, &fakeQuery);
    }
};

const DWORD kServerCoreTypes[] = {12, 13, 14, 29, 39, 40, 41};

TEST(ServerCoreProductType, OnlyTheSevenServerCoreTypes) {
    for (DWORD type : kServerCoreTypes) {
        EXPECT_TRUE(isServerCoreProductType(type)) << type;
    }
    // Full installations and the neighbours of the seven.
    for (DWORD type : {0u, 1u, 7u, 8u, 10u, 11u, 15u, 28u, 30u, 38u, 42u, 0x0C00u, 0xABCDEFu}) {
        EXPECT_FALSE(isServerCoreProductType(type)) << type;
    }
}

TEST_F(ServerCoreDecision, Server2008CoreInstallations) {
    for (DWORD type : kServerCoreTypes) {
        EXPECT_TRUE(decide(version(6, 0, VER_NT_SERVER), type)) << type;
    }
    EXPECT_EQ(fake.calls, 7);
    // The record's version and service pack are what GetProductInfo is asked about.
    EXPECT_EQ(fake.askedFor.dwMajorVersion, 6u);
    EXPECT_EQ(fake.askedFor.dwMinorVersion, 0u);
    EXPECT_EQ(fake.askedFor.wServicePackMajor, 1u);
    // A domain controller and a basic record (product type 0) are asked as well.
    EXPECT_TRUE(decide(version(6, 0, VER_NT_DOMAIN_CONTROLLER), 13));
    EXPECT_TRUE(decide(version(6, 0, 0), 14));
    // The platform id is not looked at.
    EXPECT_TRUE(decide(version(6, 0, VER_NT_SERVER, VER_PLATFORM_WIN32_WINDOWS), 12));
    EXPECT_EQ(fake.calls, 10);
}

TEST_F(ServerCoreDecision, FullServer2008Installation) {
    EXPECT_FALSE(decide(version(6, 0, VER_NT_SERVER), 7));  // standard server
    EXPECT_FALSE(decide(version(6, 0, VER_NT_SERVER), 8));  // datacenter server
    EXPECT_EQ(fake.calls, 2);
}

TEST_F(ServerCoreDecision, OtherVersionsAreNotAskedForTheProductType) {
    EXPECT_FALSE(decide(version(6, 0, VER_NT_WORKSTATION), 13));  // Vista
    EXPECT_FALSE(decide(version(6, 1, VER_NT_SERVER), 13));       // Server 2008 R2
    EXPECT_FALSE(decide(version(5, 2, VER_NT_SERVER), 13));       // Server 2003
    EXPECT_FALSE(decide(version(10, 0, VER_NT_SERVER), 13));
    EXPECT_FALSE(decide(version(7, 0, VER_NT_SERVER), 13));
    EXPECT_FALSE(decide(version(0, 0, 0), 13));  // both version requests failed
    EXPECT_EQ(fake.calls, 0);
}

TEST_F(ServerCoreDecision, UnansweredProductTypeMeansNo) {
    fake.succeeds = false;
    EXPECT_FALSE(decide(version(6, 0, VER_NT_SERVER), 13));
    EXPECT_EQ(fake.calls, 1);
    EXPECT_FALSE(isServerCoreDecision(version(6, 0, VER_NT_SERVER), nullptr));
}

bool onWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---- The system's answers -------------------------------------------------------------------

TEST(ServerCoreOnThisHost, QueriesAgreeWithTheSystem) {
    OSVERSIONINFOEXW v;
    ASSERT_TRUE(win::queryVersion(v));
    EXPECT_EQ(v.dwOSVersionInfoSize, 284u);

    DWORD viaQuery = 0xFFFFFFFF;
    ASSERT_TRUE(queryProductType(v, &viaQuery));
    DWORD direct = 0xFFFFFFFF;
    ASSERT_TRUE(GetProductInfo(v.dwMajorVersion, v.dwMinorVersion, v.wServicePackMajor,
                               v.wServicePackMinor, &direct));
    EXPECT_EQ(viaQuery, direct);

    const bool expected = v.dwMajorVersion == 6 && v.dwMinorVersion == 0 &&
                          v.wProductType != VER_NT_WORKSTATION && isServerCoreProductType(direct);
    EXPECT_EQ(runsOnServerCore(), expected);
    if (onWine()) {
        // Wine's default version is Windows 7 SP1, a workstation.
        EXPECT_EQ(v.dwMajorVersion, 6u);
        EXPECT_EQ(v.dwMinorVersion, 1u);
        EXPECT_FALSE(runsOnServerCore());
    }
}

}  // namespace
