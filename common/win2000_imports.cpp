// The 32-bit deliverables run from Windows 2000 on. The static thread library under the C++ runtime calls
// three kernel32 functions that Windows 2000 lacks (GetTickCount64 came with Vista, the vectored
// exception handlers with XP); importing them would stop every exe and DLL from loading there. This
// file fills their import slots itself: each call goes to the system's function where it has one, and to
// an equivalent otherwise. Linked as an object into every 32-bit Windows target (see CMakeLists.txt).
#include <windows.h>

namespace {

FARPROC kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

// Resolved at the first call; a second thread resolving it too finds the same answer.
template <typename Fn> Fn systemFunction(Fn& slot, LONG& looked, const char* name) {
    if (!InterlockedCompareExchange(&looked, 0, 0)) {
        slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(kernel32Function(name)));
        InterlockedExchange(&looked, 1);
    }
    return slot;
}

using TickCount64Fn = ULONGLONG(WINAPI*)();
TickCount64Fn systemTickCount64 = nullptr;
LONG tickCount64Looked = 0;
// The 32-bit count and the number of times it has wrapped, advanced together.
LONGLONG extendedTicks = 0;

ULONGLONG WINAPI tickCount64() {
    if (TickCount64Fn fn = systemFunction(systemTickCount64, tickCount64Looked, "GetTickCount64"))
        return fn();
    LONGLONG last = __atomic_load_n(&extendedTicks, __ATOMIC_ACQUIRE);
    for (;;) {
        const DWORD now = GetTickCount();
        LONGLONG next = (last & ~LONGLONG{0xFFFFFFFF}) | now;
        if (now < static_cast<DWORD>(last))
            next += LONGLONG{1} << 32;
        if (__atomic_compare_exchange_n(&extendedTicks, &last, next, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE))
            return static_cast<ULONGLONG>(next);
    }
}

using AddHandlerFn = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
AddHandlerFn systemAddHandler = nullptr;
LONG addHandlerLooked = 0;

// Without vectored handlers there is nothing to add: the library only names threads for a debugger.
PVOID WINAPI addVectoredExceptionHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
    AddHandlerFn fn = systemFunction(systemAddHandler, addHandlerLooked, "AddVectoredExceptionHandler");
    return fn ? fn(first, handler) : nullptr;
}

using RemoveHandlerFn = ULONG(WINAPI*)(PVOID);
RemoveHandlerFn systemRemoveHandler = nullptr;
LONG removeHandlerLooked = 0;

ULONG WINAPI removeVectoredExceptionHandler(PVOID handle) {
    RemoveHandlerFn fn =
        systemFunction(systemRemoveHandler, removeHandlerLooked, "RemoveVectoredExceptionHandler");
    return fn ? fn(handle) : 0;
}

} // namespace

// The import slots, under the names the library's references use.
extern "C" {
extern const TickCount64Fn hvImportGetTickCount64 __asm__("__imp__GetTickCount64@0");
const TickCount64Fn hvImportGetTickCount64 = &tickCount64;
extern const AddHandlerFn hvImportAddHandler __asm__("__imp__AddVectoredExceptionHandler@8");
const AddHandlerFn hvImportAddHandler = &addVectoredExceptionHandler;
extern const RemoveHandlerFn hvImportRemoveHandler __asm__("__imp__RemoveVectoredExceptionHandler@4");
const RemoveHandlerFn hvImportRemoveHandler = &removeVectoredExceptionHandler;
}
