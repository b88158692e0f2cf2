// getProductFolder: the product's "InstallDir", or Program Files, "\QSX\" and the product name.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/filter_driver.h"
#include "personality/personality.h"

#ifndef RELOCATOR_EXPECT_WOW64
#error "RELOCATOR_EXPECT_WOW64 names the prefix's answer"
#endif

using namespace drvtest;

namespace {

// Program Files as a 32-bit program sees it: "(x86)" on the 64-bit prefix.
const std::wstring kProgramFiles =
    RELOCATOR_EXPECT_WOW64 ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
const std::wstring kFallback = kProgramFiles + L"\\QSX\\Tarvos Test";

class ProductFolder : public DriverHost {};

}  // namespace

TEST_F(ProductFolder, TheProductKeyOfThePersonalityNamesIt) {
    std::wstring folder = L"stale";
    EXPECT_TRUE(getProductFolder(folder));
    EXPECT_EQ(folder, kProduct);
    // 200 characters are read whole.
    std::wstring longValue = L"D:\\" + std::wstring(197, L'q');
    host::setString(kProductKey, L"InstallDir", longValue);
    EXPECT_TRUE(getProductFolder(folder));
    EXPECT_EQ(folder, longValue);
}

TEST_F(ProductFolder, AKeyThatIsMissingOrUnreadableFallsBackToProgramFiles) {
    std::wstring folder;
    host::setString(kProductKey, L"InstallDir", L"");
    EXPECT_FALSE(getProductFolder(folder));
    EXPECT_EQ(folder, kFallback);

    host::setString(kProductKey, L"InstallDir", L"C:\\" + std::wstring(258, L'v'));
    folder.clear();
    EXPECT_FALSE(getProductFolder(folder));
    EXPECT_EQ(folder, kFallback);

    host::deleteKey(kProductKey);
    host::setString(kProductKey, L"Other", L"x");
    folder.clear();
    EXPECT_FALSE(getProductFolder(folder));
    EXPECT_EQ(folder, kFallback);

    host::deleteKey(kProductKey);
    folder.clear();
    EXPECT_FALSE(getProductFolder(folder));
    EXPECT_EQ(folder, kFallback);
}

TEST_F(ProductFolder, AnEmptyRegistryKeyDoesNotReadHkeyLocalMachineItself) {
    // A failed personality load leaves the key empty; HKLM itself must not be asked.
    Personality personality;
    personality.ProductName = u"Name";
    std::wstring folder;
    EXPECT_FALSE(getProductFolder(personality, folder));
    EXPECT_EQ(folder, kProgramFiles + L"\\QSX\\Name");
}
