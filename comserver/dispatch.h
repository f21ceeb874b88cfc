// IDispatch through the component's own type library, and run-time errors the way script clients read
// them. The template in dual_object.h uses these; they need no knowledge of the interface.
#pragma once

#include "comserver/com_ptr.h"

#include <string>
#include <string_view>

namespace comserver {

// The two views of a dual interface in the type library: `dispatch` (what GetTypeInfo hands out) and
// `vtable` (what the standard dispatcher calls through).
struct DualTypeInfo {
    ComPtr<ITypeInfo> dispatch;
    ComPtr<ITypeInfo> vtable;

    // Loads both from the type library embedded in this DLL.
    HRESULT load(REFIID iid) noexcept;
};

// The last run-time error an object's method raised, kept for the EXCEPINFO of the Invoke around it.
struct RaisedError {
    HRESULT hr = S_OK;
    std::wstring description;
    const wchar_t* source = nullptr;
};

// HRESULT of the run-time error `number`: FACILITY_CONTROL, so a script's Err.Number reads `number`.
constexpr HRESULT runTimeError(long number) noexcept {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned long>(number) & 0xFFFF);
}

// Sets the thread's error information for a failing method of interface `iid` and remembers the error in
// `raised`; returns `hr` for the method to return.
HRESULT raiseError(HRESULT hr, std::wstring_view description, REFIID iid, const wchar_t* source,
                   RaisedError& raised) noexcept;

// IDispatch::Invoke for `object`, whose vtable `info` describes. By-reference arguments from scripts
// (VT_BYREF|VT_VARIANT) and values given for by-reference parameters are brought to the declared types
// first, and what the method changed is written back after; a method's raised error fills EXCEPINFO.
HRESULT invokeDual(ITypeInfo* info, void* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr, const RaisedError& raised) noexcept;

} // namespace comserver
