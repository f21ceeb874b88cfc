// Owners for COM interface pointers and BSTRs: each reference is released by the scope that holds it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace comserver {

// A BSTR's characters are UTF-16 code units, so texts cross as plain copies.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

// One counted reference to a COM object.
template <typename T> class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already owns (a new object's first reference).
    static ComPtr adopt(T* p) noexcept {
        ComPtr owner;
        owner.p_ = p;
        return owner;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out-parameters of the call that hands out the reference.
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

    // Hands the reference to the caller, e.g. into an out-parameter.
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }

    template <typename U> HRESULT queryInterface(ComPtr<U>& out) const noexcept {
        return p_ ? p_->QueryInterface(__uuidof(U), out.putVoid()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

// One BSTR. A null BSTR is a valid empty text, as COM defines it.
class Bstr {
public:
    Bstr() noexcept = default;
    // Throws std::bad_alloc when the system cannot allocate the string.
    explicit Bstr(std::u16string_view text)
        : Bstr(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size())) {}
    explicit Bstr(std::wstring_view text)
        : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
        if (!s_)
            throw std::bad_alloc();
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : s_(other.detach()) {}
    Bstr& operator=(Bstr&& other) noexcept {
        reset(other.detach());
        return *this;
    }
    ~Bstr() { reset(); }

    static Bstr adopt(BSTR s) noexcept {
        Bstr owner;
        owner.s_ = s;
        return owner;
    }

    BSTR get() const noexcept { return s_; }
    BSTR* put() noexcept {
        reset();
        return &s_;
    }
    BSTR detach() noexcept { return std::exchange(s_, nullptr); }
    void reset(BSTR s = nullptr) noexcept {
        if (s_)
            SysFreeString(s_);
        s_ = s;
    }

    std::u16string_view view() const noexcept { return viewOf(s_); }
    std::wstring text() const { return std::wstring(s_ ? s_ : L"", SysStringLen(s_)); }

    // The characters of any BSTR, embedded zeros included.
    static std::u16string_view viewOf(BSTR s) noexcept {
        return {reinterpret_cast<const char16_t*>(s), SysStringLen(s)};
    }

private:
    BSTR s_ = nullptr;
};

} // namespace comserver
