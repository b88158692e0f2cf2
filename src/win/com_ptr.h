// Owner of one COM interface pointer: released when the owner goes out of scope, so that every
// path out of a function lets go of what it obtained.
#pragma once

#include <unknwn.h>

#include <utility>

namespace win {

template <typename Interface>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(o.detach()) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        reset(o.detach());
        return *this;
    }
    ~ComPtr() { reset(); }

    Interface* get() const { return p_; }
    Interface* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For calls that hand out an interface through a void** (CoCreateInstance, QueryInterface).
    void** receive() {
        reset();
        return reinterpret_cast<void**>(&p_);
    }
    Interface* detach() { return std::exchange(p_, nullptr); }
    void reset(Interface* p = nullptr) {
        if (p_ != nullptr)
            p_->Release();
        p_ = p;
    }

    // Asks this object for another of its interfaces.
    template <typename Other>
    HRESULT queryInterface(REFIID iid, ComPtr<Other>& out) const {
        if (p_ == nullptr)
            return E_POINTER;
        return p_->QueryInterface(iid, out.receive());
    }

  private:
    Interface* p_ = nullptr;
};

}  // namespace win
