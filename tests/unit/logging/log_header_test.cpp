#include "logging/log_header.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cwchar>
#include <string>

namespace {

const std::wstring kRule(72, L'=');

OSVERSIONINFOEXW record(DWORD platform,
                        DWORD major,
                        DWORD minor,
                        DWORD build,
                        BYTE productType,
                        WORD suite = 0,
                        const wchar_t* servicePack = L"") {
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
    v.dwPlatformId = platform;
    v.dwMajorVersion = major;
    v.dwMinorVersion = minor;
    v.dwBuildNumber = build;
    v.wProductType = productType;
    v.wSuiteMask = suite;
    wcsncpy(v.szCSDVersion, servicePack, 127);
    return v;
}

OSVERSIONINFOEXW nt(DWORD major, DWORD minor, BYTE productType, WORD suite = 0) {
    return record(VER_PLATFORM_WIN32_NT, major, minor, 1000, productType, suite);
}

std::wstring nameOf(const OSVERSIONINFOEXW& v) {
    wchar_t buf[kHeaderBufferChars];
    EXPECT_TRUE(osName(v, buf, kHeaderBufferChars));
    return buf;
}

std::wstring editionOf(const OSVERSIONINFOEXW& v) {
    wchar_t buf[kHeaderBufferChars];
    EXPECT_TRUE(osEdition(v, buf, kHeaderBufferChars));
    return buf;
}

std::wstring described(const OSVERSIONINFOEXW& v) {
    wchar_t buf[kHeaderBufferChars];
    EXPECT_TRUE(describeOs(v, buf, kHeaderBufferChars));
    return buf;
}

std::wstring subscriptions(int32_t mask) {
    wchar_t buf[kHeaderBufferChars];
    EXPECT_EQ(subscriptionText(mask, buf, kHeaderBufferChars), 0) << "mask " << mask;
    return buf;
}

bool onWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(SubscriptionText, NamesEachLevelOfTheMaskInOrder) {
    EXPECT_EQ(subscriptions(7), L"ERROR WARN INFO");
    EXPECT_EQ(subscriptions(-1), L"ALL ERROR WARN INFO DEBUG");
    EXPECT_EQ(subscriptions(0), L"NONE");
    EXPECT_EQ(subscriptions(8), L"DEBUG");
    EXPECT_EQ(subscriptions(5), L"ERROR INFO");
    EXPECT_EQ(subscriptions(0xF), L"ERROR WARN INFO DEBUG");
    // Bits without a name add nothing.
    EXPECT_EQ(subscriptions(0x10), L"");
    EXPECT_EQ(subscriptions(0x12), L"WARN");
}

TEST(SubscriptionText, NameThatDoesNotFitIsTheConcatenationError) {
    wchar_t buf[32];
    EXPECT_EQ(subscriptionText(7, buf, 16), 0);  // 15 characters and the terminator
    EXPECT_STREQ(buf, L"ERROR WARN INFO");

    wmemset(buf, L'X', 32);
    EXPECT_EQ(subscriptionText(7, buf, 15), ERANGE);
    EXPECT_STREQ(buf, L"");
    EXPECT_EQ(buf[15], L'X') << "wrote past the capacity";

    EXPECT_EQ(subscriptionText(1, buf, 6), 0);
    EXPECT_STREQ(buf, L"ERROR");
    EXPECT_EQ(subscriptionText(1, buf, 5), ERANGE);
    EXPECT_STREQ(buf, L"");
    // The blank fits, the next name does not.
    EXPECT_EQ(subscriptionText(3, buf, 7), ERANGE);
    EXPECT_STREQ(buf, L"");

    EXPECT_EQ(subscriptionText(7, buf, 0), EINVAL);
    EXPECT_EQ(subscriptionText(7, nullptr, 16), EINVAL);
}

TEST(OsName, FollowsPlatformAndVersion) {
    EXPECT_EQ(nameOf(record(VER_PLATFORM_WIN32s, 3, 10, 0, 0)), L"Microsoft Windows Win32s");
    EXPECT_EQ(nameOf(record(1, 4, 0, 950, 0)), L"Microsoft Windows 95");
    EXPECT_EQ(nameOf(record(1, 4, 10, 1998, 0)), L"Microsoft Windows 98");
    EXPECT_EQ(nameOf(record(1, 4, 90, 3000, 0)), L"Microsoft Windows Me");
    EXPECT_EQ(nameOf(record(1, 5, 0, 0, 0)), L"Microsoft Windows 95");
    EXPECT_EQ(nameOf(nt(5, 0, VER_NT_SERVER)), L"Microsoft Windows 2000");
    EXPECT_EQ(nameOf(nt(5, 1, VER_NT_WORKSTATION)), L"Microsoft Windows XP");
    EXPECT_EQ(nameOf(nt(5, 2, VER_NT_SERVER)), L"Microsoft Windows Server 2003");
    EXPECT_EQ(nameOf(nt(6, 0, VER_NT_WORKSTATION)), L"Microsoft Windows Vista");
    EXPECT_EQ(nameOf(nt(6, 0, VER_NT_SERVER)), L"Microsoft Windows Server 2008");
    EXPECT_EQ(nameOf(nt(6, 0, VER_NT_DOMAIN_CONTROLLER)), L"Microsoft Windows Server 2008");
    EXPECT_EQ(nameOf(nt(6, 1, VER_NT_WORKSTATION)), L"Microsoft Windows NT 6.1");
    EXPECT_EQ(nameOf(nt(6, 1, VER_NT_SERVER)), L"Microsoft Windows NT 6.1");
    EXPECT_EQ(nameOf(nt(10, 0, VER_NT_WORKSTATION)), L"Microsoft Windows NT 10.0");
    EXPECT_EQ(nameOf(nt(4, 0, VER_NT_WORKSTATION)), L"Microsoft Windows NT 4.0");
    EXPECT_EQ(nameOf(record(3, 6, 1, 0, 0)), L"Microsoft Windows unknown platform");
}

TEST(OsName, VersionTextIsBoundedAndCallerBufferChecked) {
    // The largest version numbers still fit the 32-character part.
    EXPECT_EQ(nameOf(nt(4294967295u, 4294967295u, 1)),
              L"Microsoft Windows NT 4294967295.4294967295");
    wchar_t buf[25];
    wmemset(buf, L'X', 25);
    EXPECT_FALSE(osName(nt(6, 1, 1), buf, 24));  // 24 characters need 25
    EXPECT_STREQ(buf, L"");
    EXPECT_TRUE(osName(nt(6, 1, 1), buf, 25));
    EXPECT_STREQ(buf, L"Microsoft Windows NT 6.1");
    EXPECT_FALSE(osName(nt(6, 1, 1), nullptr, 25));
}

TEST(OsEdition, Windows95Family) {
    EXPECT_EQ(editionOf(record(1, 4, 0, 950, 0, 0, L"")), L"REL");
    EXPECT_EQ(editionOf(record(1, 4, 0, 950, 0, 0, L" A")), L"OSR1");
    EXPECT_EQ(editionOf(record(1, 4, 0, 0x04000457, 0, 0, L" B")), L"OSR2");  // build 1111
    EXPECT_EQ(editionOf(record(1, 4, 0, 0x04000458, 0, 0, L" B")), L"OSR2.1");
    EXPECT_EQ(editionOf(record(1, 4, 0, 1212, 0, 0, L" C")), L"OSR2.5");
    EXPECT_EQ(editionOf(record(1, 4, 0, 950, 0, 0, L" D")), L"");
    EXPECT_EQ(editionOf(record(1, 4, 10, 1998, 0, 0, L"")), L"REL");
    EXPECT_EQ(editionOf(record(1, 4, 10, 1998, 0, 0, L" ")), L"REL");  // no second character
    EXPECT_EQ(editionOf(record(1, 4, 10, 1998, 0, 0, L" B")), L"");
    EXPECT_EQ(editionOf(record(1, 4, 10, 2222, 0, 0, L" A ")), L"Second Edition");
    EXPECT_EQ(editionOf(record(1, 4, 90, 3000, 0, 0, L" X")), L"REL");
}

TEST(OsEdition, NtWorkstationsAndDomainControllers) {
    EXPECT_EQ(editionOf(nt(5, 0, VER_NT_WORKSTATION)), L"Professional");
    EXPECT_EQ(editionOf(nt(5, 1, VER_NT_WORKSTATION, VER_SUITE_PERSONAL)), L"Home Edition");
    EXPECT_EQ(editionOf(nt(5, 1, VER_NT_WORKSTATION)), L"Professional");
    // A Windows 2000 domain controller is named like a workstation.
    EXPECT_EQ(editionOf(nt(5, 0, VER_NT_DOMAIN_CONTROLLER, VER_SUITE_ENTERPRISE)), L"Professional");
    EXPECT_EQ(editionOf(nt(5, 2, VER_NT_DOMAIN_CONTROLLER, VER_SUITE_DATACENTER)), L"Professional");
    // Product type 0 (the basic record) names no edition on version 5.
    EXPECT_EQ(editionOf(nt(5, 2, 0, VER_SUITE_ENTERPRISE)), L"");
}

TEST(OsEdition, NtServers) {
    const WORD dc = VER_SUITE_DATACENTER;
    const WORD ent = VER_SUITE_ENTERPRISE;
    EXPECT_EQ(editionOf(nt(5, 2, VER_NT_SERVER, ent)), L"Enterprise Edition");
    EXPECT_EQ(editionOf(nt(5, 2, VER_NT_SERVER, dc | ent)), L"Datacenter Edition");
    EXPECT_EQ(editionOf(nt(5, 2, VER_NT_SERVER, VER_SUITE_PERSONAL)), L"Standard Edition");
    EXPECT_EQ(editionOf(nt(5, 0, VER_NT_SERVER, dc | ent)), L"Datacenter Server");
    EXPECT_EQ(editionOf(nt(5, 0, VER_NT_SERVER, ent)), L"Advanced Server");
    EXPECT_EQ(editionOf(nt(5, 0, VER_NT_SERVER)), L"Server");
    EXPECT_EQ(editionOf(nt(6, 0, VER_NT_SERVER)), L"Standard Edition");
    EXPECT_EQ(editionOf(nt(6, 0, VER_NT_SERVER, ent)), L"Enterprise Edition");
    EXPECT_EQ(editionOf(nt(6, 0, VER_NT_DOMAIN_CONTROLLER, dc | ent)), L"Datacenter Edition");
    // Vista Home: the 6.0 rule looks at the suite bits only.
    EXPECT_EQ(editionOf(nt(6, 0, VER_NT_WORKSTATION, VER_SUITE_PERSONAL)), L"Standard Edition");
    // Later versions name no edition, whatever the suite.
    EXPECT_EQ(editionOf(nt(6, 1, VER_NT_SERVER, ent)), L"");
    EXPECT_EQ(editionOf(nt(10, 0, VER_NT_WORKSTATION, VER_SUITE_PERSONAL)), L"");
    EXPECT_EQ(editionOf(record(VER_PLATFORM_WIN32s, 5, 2, 0, VER_NT_SERVER, ent)), L"");
}

TEST(OsEdition, TooSmallBufferFails) {
    const OSVERSIONINFOEXW v = nt(5, 2, VER_NT_SERVER, VER_SUITE_ENTERPRISE);
    wchar_t buf[19];
    wmemset(buf, L'X', 19);
    EXPECT_FALSE(osEdition(v, buf, 18));
    EXPECT_STREQ(buf, L"");
    EXPECT_TRUE(osEdition(v, buf, 19));
    EXPECT_STREQ(buf, L"Enterprise Edition");
    // An empty edition still needs room for its terminator.
    EXPECT_FALSE(osEdition(nt(6, 1, 1), buf, 0));
}

TEST(DescribeOs, FormatsNameEditionServicePackAndVersion) {
    // Windows 7: no edition, so two blanks before the quoted service pack.
    EXPECT_EQ(described(record(2, 6, 1, 7601, VER_NT_WORKSTATION, 0x100, L"Service Pack 1")),
              L"Microsoft Windows NT 6.1  \"Service Pack 1\" (ver 6.1 build 7601)");
    EXPECT_EQ(
        described(record(2, 5, 2, 3790, VER_NT_SERVER, VER_SUITE_ENTERPRISE, L"Service Pack 2")),
        L"Microsoft Windows Server 2003 Enterprise Edition \"Service Pack 2\" "
        L"(ver 5.2 build 3790)");
    // No service pack: the quotes enclose an empty text.
    EXPECT_EQ(described(record(2, 6, 0, 6001, VER_NT_SERVER)),
              L"Microsoft Windows Server 2008 Standard Edition \"\" (ver 6.0 build 6001)");
    EXPECT_EQ(
        described(record(2, 6, 0, 6002, VER_NT_WORKSTATION, VER_SUITE_PERSONAL, L"Service Pack 2")),
        L"Microsoft Windows Vista Standard Edition \"Service Pack 2\" (ver 6.0 build 6002)");
    EXPECT_EQ(described(record(2, 5, 0, 2195, VER_NT_DOMAIN_CONTROLLER, 0, L"Service Pack 4")),
              L"Microsoft Windows 2000 Professional \"Service Pack 4\" (ver 5.0 build 2195)");
}

TEST(DescribeOs, Windows95FamilyShowsTheLowWordOfTheBuild) {
    EXPECT_EQ(described(record(1, 4, 0, 0x04000457, 0, 0, L" B")),
              L"Microsoft Windows 95 OSR2 \" B\" (ver 4.0 build 1111)");
}

TEST(DescribeOs, UnterminatedServicePackTextIsBounded) {
    OSVERSIONINFOEXW v = record(2, 6, 1, 7601, VER_NT_WORKSTATION);
    wmemset(v.szCSDVersion, L's', 128);
    const std::wstring line = described(v);
    EXPECT_EQ(line, L"Microsoft Windows NT 6.1  \"" + std::wstring(128, L's') +
                        L"\" (ver 6.1 build 7601)");
}

TEST(DescribeOs, TooSmallBufferFailsWithEmptyText) {
    const OSVERSIONINFOEXW v = record(2, 6, 1, 7601, VER_NT_WORKSTATION, 0, L"Service Pack 1");
    const std::wstring full = described(v);
    std::wstring buf(full.size() + 1, L'X');
    EXPECT_TRUE(describeOs(v, &buf[0], full.size() + 1));
    EXPECT_EQ(std::wstring(buf.c_str()), full);
    EXPECT_FALSE(describeOs(v, &buf[0], full.size()));
    EXPECT_EQ(buf[0], L'\0');
    EXPECT_FALSE(describeOs(v, nullptr, 100));
}

std::wstring expectedBlock(const std::wstring& file,
                           const std::wstring& subs,
                           const std::wstring* os) {
    std::wstring text = L"\n" + kRule + L"\nTarvos Host Logging: " + file +
                        L"\nInitial Logging Subscriptions: " + subs + L"\n";
    if (os != nullptr) {
        text += L"OS Version Info: " + *os + L"\n";
    }
    return text + kRule + L"\n";
}

TEST(FormatHeaderBlock, WithAndWithoutTheOsLine) {
    const OSVERSIONINFOEXW v =
        record(2, 5, 2, 3790, VER_NT_SERVER, VER_SUITE_ENTERPRISE, L"Service Pack 2");
    const std::wstring os =
        L"Microsoft Windows Server 2003 Enterprise Edition \"Service Pack 2\" (ver 5.2 build 3790)";
    std::wstring out;
    ASSERT_TRUE(formatHeaderBlock(L"C:\\WINDOWS\\Relocator.log", 7, &v, out));
    EXPECT_EQ(out,
              L"\n========================================================================\n"
              L"Tarvos Host Logging: Relocator.log\n"
              L"Initial Logging Subscriptions: ERROR WARN INFO\n"
              L"OS Version Info: " +
                  os +
                  L"\n"
                  L"========================================================================\n");
    ASSERT_TRUE(formatHeaderBlock(L"C:\\WINDOWS\\Relocator.log", -1, nullptr, out));
    EXPECT_EQ(out, expectedBlock(L"Relocator.log", L"ALL ERROR WARN INFO DEBUG", nullptr));
}

TEST(FormatHeaderBlock, FileNameAfterLastBackslashElseSlashElseEmpty) {
    std::wstring out;
    const struct {
        const wchar_t* path;
        const wchar_t* file;
    } cases[] = {
        {L"C:\\a\\b\\x.log", L"x.log"},
        {L"/var/log/relocator.log", L"relocator.log"},
        {L"C:\\logs/sub/x.log", L"logs/sub/x.log"},  // the backslash rule comes first
        {L"Relocator.log", L""},
        {L"C:\\dir\\", L""},
        {L"", L""},
        {nullptr, L""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(formatHeaderBlock(c.path, 0, nullptr, out));
        EXPECT_EQ(out, expectedBlock(c.file, L"NONE", nullptr)) << (c.path ? c.path : L"(null)");
    }
}

TEST(FormatHeaderBlock, FileNameIsCutAt260Characters) {
    const std::wstring longName(300, L'n');
    std::wstring out;
    ASSERT_TRUE(formatHeaderBlock((L"C:\\" + longName).c_str(), 7, nullptr, out));
    EXPECT_EQ(out, expectedBlock(std::wstring(260, L'n'), L"ERROR WARN INFO", nullptr));
}

TEST(FormatHeaderBlock, LongestPartsStillFitTheBlock) {
    OSVERSIONINFOEXW v = record(2, 4294967295u, 4294967295u, 4294967295u, 1);
    wmemset(v.szCSDVersion, L's', 128);
    wchar_t os[kHeaderBufferChars];
    ASSERT_TRUE(describeOs(v, os, kHeaderBufferChars));
    const std::wstring osLine = os;
    std::wstring out = L"stale";
    ASSERT_TRUE(formatHeaderBlock((L"C:\\" + std::wstring(300, L'n')).c_str(), -1, &v, out));
    EXPECT_EQ(out, expectedBlock(std::wstring(260, L'n'), L"ALL ERROR WARN INFO DEBUG", &osLine));
}

TEST(QueryOsVersion, AsksWithTheExtendedRecord) {
    OSVERSIONINFOEXW v;
    ASSERT_TRUE(queryOsVersion(v));
    EXPECT_EQ(v.dwOSVersionInfoSize, 284u);
    EXPECT_EQ(v.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(v.dwMajorVersion, 5u);
    EXPECT_EQ(v.szCSDVersion[127], L'\0');
}

TEST(BuildHeaderBlock, DescribesThisHost) {
    OSVERSIONINFOEXW v;
    ASSERT_TRUE(queryOsVersion(v));
    wchar_t os[kHeaderBufferChars];
    ASSERT_TRUE(describeOs(v, os, kHeaderBufferChars));
    const std::wstring osLine = os;

    std::wstring out;
    ASSERT_TRUE(buildHeaderBlock(L"C:\\windows\\Relocator.log", 7, out));
    EXPECT_EQ(out, expectedBlock(L"Relocator.log", L"ERROR WARN INFO", &osLine));
    if (onWine()) {
        // Wine's default version is Windows 7 SP1 (a workstation, build 7601).
        EXPECT_EQ(osLine, L"Microsoft Windows NT 6.1  \"Service Pack 1\" (ver 6.1 build 7601)");
    }
}

}  // namespace
