#include "migration/server_core.h"

#include "win/library_search.h"
#include "win/version.h"

namespace {

using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

}  // namespace

bool isServerCoreProductType(DWORD productType) {
    switch (productType) {
        case PRODUCT_DATACENTER_SERVER_CORE:    // 12
        case PRODUCT_STANDARD_SERVER_CORE:      // 13
        case PRODUCT_ENTERPRISE_SERVER_CORE:    // 14
        case PRODUCT_WEB_SERVER_CORE:           // 29
        case PRODUCT_DATACENTER_SERVER_CORE_V:  // 39
        case PRODUCT_STANDARD_SERVER_CORE_V:    // 40
        case PRODUCT_ENTERPRISE_SERVER_CORE_V:  // 41
            return true;
        default:
            return false;
    }
}

bool isServerCoreDecision(const OSVERSIONINFOEXW& v, ProductTypeQuery query) {
    if (v.dwMajorVersion != 6 || v.dwMinorVersion != 0 || v.wProductType == VER_NT_WORKSTATION) {
        return false;
    }
    DWORD productType = 0;
    if (query == nullptr || !query(v, &productType)) {
        return false;
    }
    return isServerCoreProductType(productType);
}

bool queryProductType(const OSVERSIONINFOEXW& v, DWORD* productType) {
    // kernel32 is in every process: looked up, never loaded by name.
    const auto getProductInfo =
        win::procAddress<GetProductInfoFn>(GetModuleHandleW(L"kernel32.dll"), "GetProductInfo");
    if (getProductInfo == nullptr) {
        return false;
    }
    DWORD type = 0;
    if (!getProductInfo(v.dwMajorVersion, v.dwMinorVersion, v.wServicePackMajor,
                        v.wServicePackMinor, &type)) {
        return false;
    }
    *productType = type;
    return true;
}

bool runsOnServerCore() {
    OSVERSIONINFOEXW v;
    // When both requests fail the record is all zero, which the decision turns down.
    win::queryVersion(v);
    return isServerCoreDecision(v, &queryProductType);
}
