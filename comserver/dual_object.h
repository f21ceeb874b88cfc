// Base of a component's COM class: IUnknown, IDispatch through the type library, and ISupportErrorInfo
// for one dual interface. The class derives from DualObject<Interface>, implements the interface's own
// methods, and is made with makeObject (object.h).
#pragma once

#include "comserver/com_ptr.h"
#include "comserver/dispatch.h"
#include "comserver/object.h"

#include <oleauto.h>

#include <string_view>

namespace comserver {

template <typename Interface> class DualObject : public Interface, public ISupportErrorInfo {
public:
    DualObject(const DualObject&) = delete;
    DualObject& operator=(const DualObject&) = delete;
    virtual ~DualObject() = default; // the last Release ends the whole derived object

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Interface))
            *out = static_cast<Interface*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.addRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = refs_.release();
        if (left == 0)
            destroyObject(this);
        return left;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        HRESULT hr = loadTypeInfo();
        if (FAILED(hr))
            return hr;
        *out = ComPtr<ITypeInfo>(typeInfo_.dispatch).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = loadTypeInfo();
        if (FAILED(hr))
            return hr;
        return DispGetIDsOfNames(typeInfo_.vtable.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = loadTypeInfo();
        if (FAILED(hr))
            return hr;
        raised_.hr = S_OK;
        return invokeDual(typeInfo_.vtable.get(), static_cast<Interface*>(this), id, flags, params, result,
                          excepInfo, argErr, raised_);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == __uuidof(Interface) ? S_OK : S_FALSE;
    }

protected:
    // `errorSource` (the ProgID) names the object in the errors it raises; it must outlive the object.
    explicit DualObject(const wchar_t* errorSource) noexcept : errorSource_(errorSource) {}

    // Makes the current method fail with run-time error `number`: the caller sees the number and the
    // description through IErrorInfo, and a script through Err.
    HRESULT raise(long number, std::wstring_view description) noexcept {
        return raiseError(runTimeError(number), description, __uuidof(Interface), errorSource_, raised_);
    }

private:
    HRESULT loadTypeInfo() noexcept { return typeInfo_.vtable ? S_OK : typeInfo_.load(__uuidof(Interface)); }

    RefCount refs_;
    ModuleLock moduleLock_;
    const wchar_t* errorSource_;
    DualTypeInfo typeInfo_;
    RaisedError raised_;
};

} // namespace comserver
