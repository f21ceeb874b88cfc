#include "comserver/server.h"

#include "comserver/com_ptr.h"
#include "comserver/object.h"
#include "common/win32_handles.h"

#include <oleauto.h>
#include <olectl.h>

#include <new>
#include <vector>

// The linker's symbol for the base address of the image being linked: the component DLL itself.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace comserver {

namespace {

LONG g_moduleLocks = 0;

// Creates the server's one class; each DllGetClassObject call gets its own factory.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ServerClass& cls) noexcept : cls_(cls) {}
    virtual ~ClassFactory() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.addRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.release();
        if (left == 0)
            destroyObject(this);
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return cls_.create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            lockModule();
        else
            unlockModule();
        return S_OK;
    }

private:
    RefCount refs_;
    ModuleLock moduleLock_;
    const ServerClass& cls_;
};

std::wstring guidText(REFGUID guid) {
    wchar_t text[40];
    int n = StringFromGUID2(guid, text, 40);
    return std::wstring(text, n > 0 ? n - 1 : 0);
}

LSTATUS setKeyValue(const std::wstring& subKey, const wchar_t* name, const std::wstring& value) {
    hv::UniqueRegKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                     key.put(), nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool readKeyValue(const std::wstring& subKey, std::wstring& value) {
    hv::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[256];
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value.assign(buffer, size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return true;
}

// RegDeleteKey removes only keys without sub-keys, so the sub-keys go first.
LSTATUS deleteKeyTree(HKEY parent, const std::wstring& subKey) {
    {
        hv::UniqueRegKey key;
        LSTATUS status = RegOpenKeyExW(parent, subKey.c_str(), 0, KEY_READ | KEY_WRITE, key.put());
        if (status == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        std::vector<std::wstring> children;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            status = RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_SUCCESS)
                break;
            children.emplace_back(name, length);
        }
        for (const std::wstring& child : children)
            if ((status = deleteKeyTree(key.get(), child)) != ERROR_SUCCESS)
                return status;
    }
    LSTATUS status = RegDeleteKeyW(parent, subKey.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

HRESULT loadOwnTypeLib(ComPtr<ITypeLib>& lib) {
    return LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put());
}

HRESULT registerTypeLib() {
    ComPtr<ITypeLib> lib;
    HRESULT hr = loadOwnTypeLib(lib);
    if (FAILED(hr))
        return hr;
    std::wstring path = modulePath();
    return RegisterTypeLib(lib.get(), path.data(), nullptr);
}

HRESULT unregisterTypeLib() {
    ComPtr<ITypeLib> lib;
    HRESULT hr = loadOwnTypeLib(lib);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attr = nullptr;
    if (FAILED(hr = lib->GetLibAttr(&attr)))
        return hr;
    // Unregistering what is not registered leaves the registry as asked.
    Bstr registeredPath;
    hr = QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                               registeredPath.put());
    if (SUCCEEDED(hr))
        hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    else
        hr = S_OK;
    lib->ReleaseTLibAttr(attr);
    return hr;
}

HRESULT registerClass(const ServerClass& cls) {
    const std::wstring clsidKey = L"CLSID\\" + guidText(cls.clsid);
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } values[] = {
        {clsidKey, nullptr, cls.className},
        {clsidKey + L"\\InprocServer32", nullptr, modulePath()},
        {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsidKey + L"\\ProgID", nullptr, cls.progId},
        {cls.progId, nullptr, cls.className},
        {std::wstring(cls.progId) + L"\\CLSID", nullptr, guidText(cls.clsid)},
    };
    for (const auto& v : values)
        if (LSTATUS status = setKeyValue(v.key, v.name, v.value); status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
    return S_OK;
}

HRESULT unregisterClass(const ServerClass& cls) {
    const std::wstring clsid = guidText(cls.clsid);
    if (LSTATUS status = deleteKeyTree(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid); status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    // A ProgID that another server has taken over since is that server's.
    std::wstring owner;
    if (readKeyValue(std::wstring(cls.progId) + L"\\CLSID", owner) &&
        _wcsicmp(owner.c_str(), clsid.c_str()) != 0)
        return S_OK;
    return HRESULT_FROM_WIN32(deleteKeyTree(HKEY_CLASSES_ROOT, cls.progId));
}

} // namespace

void lockModule() noexcept {
    InterlockedIncrement(&g_moduleLocks);
}

void unlockModule() noexcept {
    InterlockedDecrement(&g_moduleLocks);
}

bool moduleInUse() noexcept {
    return InterlockedCompareExchange(&g_moduleLocks, 0, 0) != 0;
}

std::wstring modulePath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    return std::wstring(path, n < MAX_PATH ? n : 0);
}

HRESULT getClassObject(const ServerClass& cls, REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != cls.clsid)
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        return makeObject<ClassFactory>(cls)->QueryInterface(iid, out);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT canUnloadNow() noexcept {
    return moduleInUse() ? S_FALSE : S_OK;
}

HRESULT registerServer(const ServerClass& cls) noexcept {
    try {
        if (modulePath().empty())
            return SELFREG_E_CLASS;
        HRESULT hr = registerClass(cls);
        if (FAILED(hr))
            return SELFREG_E_CLASS;
        hr = registerTypeLib();
        return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT unregisterServer(const ServerClass& cls) noexcept {
    try {
        HRESULT classResult = unregisterClass(cls);
        HRESULT libResult = unregisterTypeLib();
        if (FAILED(classResult))
            return SELFREG_E_CLASS;
        return FAILED(libResult) ? SELFREG_E_TYPELIB : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace comserver
