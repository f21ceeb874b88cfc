// What the component tests share: a script-like client that calls through IDispatch by name, registry
// look-ups, and running regsvr32 and other programs.
#pragma once

#include "comserver/com_ptr.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace comtest {

using comserver::Bstr;
using comserver::ComPtr;

// A COM apartment for the calling thread, for the length of one test.
class Apartment {
public:
    Apartment() { CoInitialize(nullptr); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment() { CoUninitialize(); }
};

// An owned VARIANT.
class Variant {
public:
    Variant() noexcept { VariantInit(&v_); }
    explicit Variant(std::wstring_view text) : Variant() {
        V_VT(&v_) = VT_BSTR;
        V_BSTR(&v_) = Bstr(text).detach();
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept : v_(other.v_) { V_VT(&other.v_) = VT_EMPTY; }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&v_);
            v_ = other.v_;
            V_VT(&other.v_) = VT_EMPTY;
        }
        return *this;
    }
    ~Variant() { VariantClear(&v_); }

    VARIANT* get() noexcept { return &v_; }
    const VARIANT* get() const noexcept { return &v_; }
    VARTYPE type() const noexcept { return V_VT(&v_); }
    // The text of a VT_BSTR variant.
    std::wstring text() const;

private:
    VARIANT v_;
};

// An argument that refers to the caller's own storage (VT_BYREF).
VARIANT byRef(BSTR* text);
VARIANT byRef(VARIANT* value);
// An argument passed by value; the caller keeps owning `text`.
VARIANT byValue(BSTR text);

// The outcome of one IDispatch::Invoke: the HRESULT, the result, and what EXCEPINFO reported.
struct Outcome {
    HRESULT hr = E_FAIL;
    Variant result;
    SCODE scode = 0;
    std::wstring description;
    std::wstring source;
};

// A client that knows the object only by ProgID and member names, as a script does.
class DispatchClient {
public:
    // Creates the object through the registry; check ok() afterwards.
    explicit DispatchClient(const wchar_t* progId);

    bool ok() const noexcept { return static_cast<bool>(object_); }
    HRESULT createResult() const noexcept { return createResult_; }
    IDispatch* object() const noexcept { return object_.get(); }

    // Looks `name` up with GetIDsOfNames and invokes it with `args` in their written order.
    Outcome call(const wchar_t* name, std::initializer_list<VARIANT> args,
                 WORD flags = DISPATCH_METHOD) const;
    // Property put: the value travels as the named argument DISPID_PROPERTYPUT.
    Outcome put(const wchar_t* name, VARIANT value) const;
    HRESULT dispId(const wchar_t* name, DISPID& id) const;

private:
    Outcome invoke(const wchar_t* name, VARIANT* args, UINT count, WORD flags, bool propertyPut) const;

    HRESULT createResult_ = E_FAIL;
    ComPtr<IDispatch> object_;
};

// The path of a file in the folder of the running test program.
std::wstring besideThisExe(std::wstring_view name);

// Runs `commandLine`, waits up to `timeoutMs` and returns its exit code; nullopt when it did not start or
// had to be ended.
std::optional<DWORD> runAndWait(std::wstring commandLine, DWORD timeoutMs = 120000);

bool keyExists(HKEY root, const std::wstring& subKey);
// A REG_SZ value (the key's default value when `name` is null); nullopt when it is missing.
std::optional<std::wstring> keyValue(HKEY root, const std::wstring& subKey, const wchar_t* name = nullptr);

std::wstring guidText(REFGUID guid);

} // namespace comtest
