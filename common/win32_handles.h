// Owning wrappers for Win32 handles: each handle is closed by the scope that opened it.
#pragma once

#include <windows.h>

#include <utility>

namespace hv {

// Traits name the handle type, the value that means "no handle" and how to close one.
template <typename Traits> class UniqueHandleOf {
public:
    using Handle = typename Traits::Handle;

    UniqueHandleOf() noexcept = default;
    explicit UniqueHandleOf(Handle h) noexcept : h_(h) {}
    UniqueHandleOf(const UniqueHandleOf&) = delete;
    UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
    UniqueHandleOf(UniqueHandleOf&& other) noexcept : h_(other.release()) {}
    UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueHandleOf() { reset(); }

    Handle get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::invalid(); }

    // For out-parameters of the API call that opens the handle.
    Handle* put() noexcept {
        reset();
        return &h_;
    }
    Handle release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(Handle h = Traits::invalid()) noexcept {
        if (h_ != Traits::invalid())
            Traits::close(h_);
        h_ = h;
    }

private:
    Handle h_ = Traits::invalid();
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle h) noexcept { RegCloseKey(h); }
};

// Kernel objects whose "no handle" value is null (processes, threads, events).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle h) noexcept { CloseHandle(h); }
};

// Files from CreateFile, whose "no handle" value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) noexcept { CloseHandle(h); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle h) noexcept { FreeLibrary(h); }
};

struct LocalMemTraits {
    using Handle = HLOCAL;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle h) noexcept { LocalFree(h); }
};

using UniqueRegKey = UniqueHandleOf<RegKeyTraits>;
using UniqueHandle = UniqueHandleOf<KernelHandleTraits>;
using UniqueFile = UniqueHandleOf<FileHandleTraits>;
using UniqueModule = UniqueHandleOf<ModuleTraits>;
using UniqueLocalMem = UniqueHandleOf<LocalMemTraits>;

} // namespace hv
