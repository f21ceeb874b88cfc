#include "comserver/test_support.h"

#include "common/win32_handles.h"

#include <algorithm>
#include <vector>

namespace comtest {

std::wstring Variant::text() const {
    if (V_VT(&v_) != VT_BSTR)
        return {};
    std::u16string_view chars = Bstr::viewOf(V_BSTR(&v_));
    return std::wstring(chars.begin(), chars.end());
}

VARIANT byRef(BSTR* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = text;
    return v;
}

VARIANT byRef(VARIANT* value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = value;
    return v;
}

VARIANT byValue(BSTR text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = text;
    return v;
}

DispatchClient::DispatchClient(const wchar_t* progId) {
    CLSID clsid;
    createResult_ = CLSIDFromProgID(progId, &clsid);
    if (SUCCEEDED(createResult_))
        createResult_ =
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object_.putVoid());
}

HRESULT DispatchClient::dispId(const wchar_t* name, DISPID& id) const {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
}

Outcome DispatchClient::call(const wchar_t* name, std::initializer_list<VARIANT> args, WORD flags) const {
    // rgvarg lists the arguments last to first.
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    return invoke(name, reversed.data(), static_cast<UINT>(reversed.size()), flags, false);
}

Outcome DispatchClient::put(const wchar_t* name, VARIANT value) const {
    return invoke(name, &value, 1, DISPATCH_PROPERTYPUT, true);
}

Outcome DispatchClient::invoke(const wchar_t* name, VARIANT* args, UINT count, WORD flags,
                               bool propertyPut) const {
    Outcome outcome;
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(outcome.hr = dispId(name, id)))
        return outcome;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{args, propertyPut ? &putId : nullptr, count, propertyPut ? 1u : 0u};
    EXCEPINFO excep{};
    UINT argErr = 0;
    outcome.hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, outcome.result.get(),
                                 &excep, &argErr);
    if (outcome.hr == DISP_E_EXCEPTION) {
        if (excep.pfnDeferredFillIn)
            excep.pfnDeferredFillIn(&excep);
        outcome.scode = excep.scode;
        outcome.description = Bstr::adopt(excep.bstrDescription).text();
        outcome.source = Bstr::adopt(excep.bstrSource).text();
        SysFreeString(excep.bstrHelpFile);
    }
    return outcome;
}

std::wstring besideThisExe(std::wstring_view name) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + std::wstring(name);
}

std::optional<DWORD> runAndWait(std::wstring commandLine, DWORD timeoutMs) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return std::nullopt;
    hv::UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

bool keyExists(HKEY root, const std::wstring& subKey) {
    hv::UniqueRegKey key;
    return RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> keyValue(HKEY root, const std::wstring& subKey, const wchar_t* name) {
    hv::UniqueRegKey key;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t buffer[1024];
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::wstring value(buffer, size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[40];
    int n = StringFromGUID2(guid, text, 40);
    return std::wstring(text, n > 0 ? n - 1 : 0);
}

} // namespace comtest
