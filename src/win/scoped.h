// Owners for the system's handles, so that each operation closes what it opened on every path.
#pragma once

#include <windows.h>

#include <cstdio>
#include <utility>

namespace win {

template <typename Traits>
class Scoped {
  public:
    using Handle = typename Traits::Handle;
    Scoped() = default;
    explicit Scoped(Handle h) : h_(h) {}
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& o) noexcept : h_(o.release()) {}
    Scoped& operator=(Scoped&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~Scoped() { reset(); }

    bool valid() const { return Traits::valid(h_); }
    explicit operator bool() const { return valid(); }
    Handle get() const { return h_; }
    // For APIs that hand out a handle through a pointer.
    Handle* receive() {
        reset();
        return &h_;
    }
    Handle release() { return std::exchange(h_, Traits::invalid()); }
    void reset(Handle h = Traits::invalid()) {
        if (Traits::valid(h_))
            Traits::close(h_);
        h_ = h;
    }

  private:
    Handle h_ = Traits::invalid();
};

struct HandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Handle h) { ::CloseHandle(h); }
};
struct ServiceTraits {
    using Handle = SC_HANDLE;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { ::CloseServiceHandle(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { ::RegCloseKey(h); }
};
struct FileTraits {
    using Handle = FILE*;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { ::fclose(h); }
};
struct LibraryTraits {
    using Handle = HMODULE;
    static Handle invalid() { return nullptr; }
    static bool valid(Handle h) { return h != nullptr; }
    static void close(Handle h) { ::FreeLibrary(h); }
};

using ScopedHandle = Scoped<HandleTraits>;
using ScopedServiceHandle = Scoped<ServiceTraits>;
using ScopedRegKey = Scoped<RegKeyTraits>;
using ScopedFile = Scoped<FileTraits>;
using ScopedLibrary = Scoped<LibraryTraits>;

}  // namespace win
