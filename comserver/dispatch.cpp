#include "comserver/dispatch.h"

#include "comserver/server.h"

#include <cstring>
#include <new>
#include <vector>

namespace comserver {

namespace {

// One function description of a type info, released with the scope.
class FuncDesc {
public:
    FuncDesc(ITypeInfo* info, UINT index) noexcept : info_(info) {
        if (FAILED(info->GetFuncDesc(index, &desc_)))
            desc_ = nullptr;
    }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    ~FuncDesc() {
        if (desc_)
            info_->ReleaseFuncDesc(desc_);
    }
    const FUNCDESC* get() const noexcept { return desc_; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

// Types whose value sits at the start of a VARIANT's union, so a VT_BYREF pointer to it stands for the
// by-reference parameter.
bool isPlainValueType(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_ERROR:
        return true;
    default:
        return false;
    }
}

VARIANT clearedVariant() {
    VARIANT v;
    std::memset(&v, 0, sizeof v); // VT_EMPTY, and no stray bytes for the comparison after the call
    return v;
}

// The arguments of one Invoke as the declared parameters want them. The caller's DISPPARAMS stays as it
// is; adapted arguments point into values owned here.
class ArgumentAdapter {
public:
    explicit ArgumentAdapter(const DISPPARAMS& original)
        : original_(original), args_(original.rgvarg, original.rgvarg + original.cArgs) {
        params_ = original;
        params_.rgvarg = args_.data();
        adapted_.reserve(original.cArgs); // stable addresses: args_ points into these
    }
    ArgumentAdapter(const ArgumentAdapter&) = delete;
    ArgumentAdapter& operator=(const ArgumentAdapter&) = delete;
    ~ArgumentAdapter() {
        for (Adapted& a : adapted_) {
            VariantClear(&a.value);
            VariantClear(&a.before);
        }
    }

    HRESULT adapt(ITypeInfo* info, DISPID id, WORD flags, UINT* argErr) {
        TYPEATTR* attr = nullptr;
        HRESULT hr = info->GetTypeAttr(&attr);
        if (FAILED(hr))
            return hr;
        const UINT functions = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < functions; ++i) {
            FuncDesc desc(info, i);
            if (desc.get() && desc.get()->memid == id && (desc.get()->invkind & flags))
                return adaptTo(*desc.get(), argErr);
        }
        return S_OK; // an unknown member: the dispatcher gives the error
    }

    DISPPARAMS* params() noexcept { return &params_; }

    // After a successful call: a by-reference argument the method changed goes back into the caller's
    // variant. One it left alone stays exactly as the caller had it, type included.
    void writeBack() noexcept {
        for (Adapted& a : adapted_) {
            if (!a.target || unchanged(a))
                continue;
            VariantClear(a.target);
            *a.target = a.value;
            V_VT(&a.value) = VT_EMPTY;
        }
    }

private:
    struct Adapted {
        VARIANT value;  // what the method sees
        VARIANT before; // a copy of its value before the call
        VARIANT* target;
        BSTR original = nullptr; // the BSTR the method was given
    };

    // A method that stores a text replaces the BSTR, even when the new text equals the old one; that
    // still counts as a change (an unassigned variable then becomes an empty string).
    static bool unchanged(const Adapted& a) {
        if (V_VT(&a.value) != V_VT(&a.before))
            return false;
        if (V_VT(&a.value) == VT_BSTR)
            return V_BSTR(&a.value) == a.original &&
                   Bstr::viewOf(V_BSTR(&a.value)) == Bstr::viewOf(V_BSTR(&a.before));
        return std::memcmp(&V_UI8(&a.value), &V_UI8(&a.before), sizeof(ULONGLONG)) == 0;
    }

    HRESULT adaptTo(const FUNCDESC& desc, UINT* argErr) {
        for (UINT j = 0; j < original_.cArgs; ++j) {
            int param = parameterIndex(desc, j);
            if (param < 0 || param >= desc.cParams)
                continue;
            HRESULT hr = adaptArgument(desc.lprgelemdescParam[param].tdesc, j);
            if (FAILED(hr)) {
                if (argErr)
                    *argErr = j;
                return hr;
            }
        }
        return S_OK;
    }

    // rgvarg holds the named arguments first, then the positional ones in reverse order.
    int parameterIndex(const FUNCDESC& desc, UINT j) const {
        if (j < original_.cNamedArgs) {
            DISPID named = original_.rgdispidNamedArgs[j];
            return named == DISPID_PROPERTYPUT ? desc.cParams - 1 : static_cast<int>(named);
        }
        return static_cast<int>(original_.cArgs - 1 - j);
    }

    HRESULT adaptArgument(const TYPEDESC& declared, UINT j) {
        VARIANTARG& arg = args_[j];
        const bool byRefParam = declared.vt == VT_PTR && declared.lptdesc;
        const VARTYPE wanted = byRefParam ? declared.lptdesc->vt : declared.vt;
        if (!isPlainValueType(wanted))
            return S_OK;
        if (byRefParam && V_VT(&arg) == (VT_BYREF | wanted))
            return S_OK; // a compiled client's own by-reference argument
        const bool scriptByRef = V_VT(&arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&arg);
        if (!byRefParam && !scriptByRef)
            return S_OK; // a value for a value parameter: the dispatcher converts it

        VARIANT* source = scriptByRef ? V_VARIANTREF(&arg) : &arg;
        adapted_.push_back(
            {clearedVariant(), clearedVariant(), scriptByRef && byRefParam ? V_VARIANTREF(&arg) : nullptr});
        Adapted& a = adapted_.back();
        HRESULT hr = VariantChangeType(&a.value, source, 0, wanted);
        if (FAILED(hr))
            return DISP_E_TYPEMISMATCH;
        if (!byRefParam) {
            arg = a.value; // shallow: a.value keeps the ownership
            return S_OK;
        }
        if (a.target && FAILED(hr = VariantCopy(&a.before, &a.value)))
            return hr;
        if (wanted == VT_BSTR)
            a.original = V_BSTR(&a.value);
        std::memset(&arg, 0, sizeof arg);
        V_VT(&arg) = VT_BYREF | wanted;
        V_BYREF(&arg) = &V_UI1(&a.value);
        return S_OK;
    }

    const DISPPARAMS& original_;
    std::vector<VARIANTARG> args_;
    DISPPARAMS params_;
    std::vector<Adapted> adapted_;
};

void fillExcepInfo(EXCEPINFO& info, const RaisedError& raised) {
    if (!info.bstrDescription)
        info.bstrDescription =
            SysAllocStringLen(raised.description.data(), static_cast<UINT>(raised.description.size()));
    if (!info.bstrSource && raised.source)
        info.bstrSource = SysAllocString(raised.source);
    if (info.scode == 0 && info.wCode == 0)
        info.scode = raised.hr;
}

} // namespace

HRESULT DualTypeInfo::load(REFIID iid) noexcept {
    try {
        ComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put());
        if (FAILED(hr))
            return hr;
        if (FAILED(hr = lib->GetTypeInfoOfGuid(iid, dispatch.put())))
            return hr;
        // A dual interface's dispatch view refers to its vtable view as implemented type -1.
        HREFTYPE vtableRef = 0;
        if (FAILED(hr = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef)))
            return hr;
        return dispatch->GetRefTypeInfo(vtableRef, vtable.put());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT raiseError(HRESULT hr, std::wstring_view description, REFIID iid, const wchar_t* source,
                   RaisedError& raised) noexcept {
    try {
        raised.hr = hr;
        raised.description.assign(description);
        raised.source = source;
        ComPtr<ICreateErrorInfo> create;
        if (FAILED(CreateErrorInfo(create.put())))
            return hr;
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(source));
        create->SetDescription(raised.description.data());
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.queryInterface(info)))
            SetErrorInfo(0, info.get());
    } catch (const std::bad_alloc&) {
        // The error itself still reaches the caller, without its text.
    }
    return hr;
}

HRESULT invokeDual(ITypeInfo* info, void* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excepInfo, UINT* argErr, const RaisedError& raised) noexcept {
    if (!params)
        return E_INVALIDARG;
    try {
        ArgumentAdapter args(*params);
        HRESULT hr = args.adapt(info, id, flags, argErr);
        if (FAILED(hr))
            return hr;
        hr = DispInvoke(object, info, id, flags, args.params(), result, excepInfo, argErr);
        if (SUCCEEDED(hr)) {
            args.writeBack();
            return hr;
        }
        if (result)
            VariantClear(result); // a failed call returns nothing, not the empty result the method left
        if (FAILED(raised.hr) && (hr == DISP_E_EXCEPTION || hr == raised.hr)) {
            if (excepInfo)
                fillExcepInfo(*excepInfo, raised);
            return DISP_E_EXCEPTION;
        }
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace comserver
