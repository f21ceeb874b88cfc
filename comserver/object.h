// Life of the COM objects a component DLL makes: a reference count that starts at one, and the module
// count that keeps the DLL loaded while any object lives.
#pragma once

#include "comserver/com_ptr.h"

#include <memory>
#include <new>
#include <utility>

namespace comserver {

// Counts live objects and LockServer(TRUE) calls; DllCanUnloadNow answers from the count.
void lockModule() noexcept;
void unlockModule() noexcept;
bool moduleInUse() noexcept;

// Holds the DLL while an object lives.
class ModuleLock {
public:
    ModuleLock() noexcept { lockModule(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
    ~ModuleLock() { unlockModule(); }
};

// The reference count of one object. Release ends the object when it reaches zero.
class RefCount {
public:
    ULONG addRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
    ULONG release() noexcept { return static_cast<ULONG>(InterlockedDecrement(&count_)); }

private:
    LONG count_ = 1; // the creator's reference
};

// Makes a COM object holding its first reference; the object ends itself through destroyObject.
template <typename T, typename... Args> ComPtr<T> makeObject(Args&&... args) {
    return ComPtr<T>::adopt(std::make_unique<T>(std::forward<Args>(args)...).release());
}

// A new object of class T asked for iid: what a server class's `create` does.
template <typename T> HRESULT createObject(REFIID iid, void** out) noexcept {
    try {
        return makeObject<T>()->QueryInterface(iid, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// Ends an object made by makeObject, from its last Release.
template <typename T> void destroyObject(T* self) noexcept {
    std::unique_ptr<T> owner(self);
}

} // namespace comserver
