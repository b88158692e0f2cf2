#include "migration/server_core.h"

namespace {

constexpr DWORD kVersionInfoExSize = 284;
constexpr DWORD kVersionInfoSize = 276;
static_assert(sizeof(OSVERSIONINFOEXW) == kVersionInfoExSize, "extended version record size");
static_assert(sizeof(OSVERSIONINFOW) == kVersionInfoSize, "basic version record size");

using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// Owns a module loaded with LoadLibraryW.
class ScopedLibrary {
  public:
    explicit ScopedLibrary(const wchar_t* name) : module_(LoadLibraryW(name)) {}
    ~ScopedLibrary() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    ScopedLibrary(const ScopedLibrary&) = delete;
    ScopedLibrary& operator=(const ScopedLibrary&) = delete;

    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

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

bool queryServerCoreVersion(OSVERSIONINFOEXW& v) {
    ZeroMemory(&v, sizeof v);
    v.dwOSVersionInfoSize = kVersionInfoExSize;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) {
        return true;
    }
    ZeroMemory(&v, sizeof v);
    v.dwOSVersionInfoSize = kVersionInfoSize;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) {
        return true;
    }
    ZeroMemory(&v, sizeof v);
    return false;
}

bool queryProductType(const OSVERSIONINFOEXW& v, DWORD* productType) {
    ScopedLibrary kernel32(L"kernel32.dll");
    if (kernel32.get() == nullptr) {
        return false;
    }
    const FARPROC proc = GetProcAddress(kernel32.get(), "GetProductInfo");
    if (proc == nullptr) {
        return false;
    }
    // Through the generic function type, which the compiler accepts as a cast source.
    const auto getProductInfo =
        reinterpret_cast<GetProductInfoFn>(reinterpret_cast<void (*)()>(proc));
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
    queryServerCoreVersion(v);
    return isServerCoreDecision(v, &queryProductType);
}
