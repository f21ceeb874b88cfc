// The in-process server entry points of a component DLL with one creatable class: the class factory,
// DllCanUnloadNow, and the registry entries of the class, its ProgID and its type library (embedded in
// the DLL as resource 1 TYPELIB).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace comserver {

// What a component DLL tells the plumbing about its one creatable class.
struct ServerClass {
    const CLSID& clsid;
    const wchar_t* progId;    // "Library.Class"
    const wchar_t* className; // shown as the class key's value
    // Makes a new object and asks it for iid.
    HRESULT (*create)(REFIID iid, void** out);
};

// Defined by each component DLL: its one creatable class. The DLL's entry points (entry_points.cpp) serve
// it.
const ServerClass& serverClass();

HRESULT getClassObject(const ServerClass& cls, REFCLSID clsid, REFIID iid, void** out) noexcept;
HRESULT canUnloadNow() noexcept;
HRESULT registerServer(const ServerClass& cls) noexcept;
HRESULT unregisterServer(const ServerClass& cls) noexcept;

// The full path of the DLL this code is linked into.
std::wstring modulePath();

} // namespace comserver
