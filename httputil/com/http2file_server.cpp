// The HTTP fetch component's COM class CHVhttp2file and the DLL's entry points: a thin layer over
// httputil::Http2File, which does the fetching and reports its own failures.
#include "comserver/dual_object.h"
#include "comserver/server.h"
#include "httputil/http2file.h"

#include "HVhttputil_idl.h"

#include <new>
#include <string>

namespace {

constexpr wchar_t kProgId[] = L"HVhttputil.CHVhttp2file";

std::wstring textOf(BSTR s) {
    std::u16string_view chars = comserver::Bstr::viewOf(s);
    return std::wstring(chars.begin(), chars.end());
}

VARIANT_BOOL truthValue(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

class Http2FileObject final : public comserver::DualObject<_CHVhttp2file> {
public:
    Http2FileObject() : DualObject(kProgId) {}

    HRESULT STDMETHODCALLTYPE get_DontUseCache(VARIANT_BOOL* result) override {
        if (!result)
            return E_POINTER;
        *result = truthValue(http_.DontUseCache);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_DontUseCache(VARIANT_BOOL value) override {
        http_.DontUseCache = value != VARIANT_FALSE;
        return S_OK;
    }

    // `url` is read, never changed; `str` changes only when the fetch succeeded.
    HRESULT STDMETHODCALLTYPE url2str(BSTR* url, BSTR* str, VARIANT_BOOL* result) override {
        if (!url || !str || !result)
            return E_POINTER;
        try {
            std::wstring body;
            bool fetched = http_.url2str(textOf(*url), body);
            if (fetched) {
                comserver::Bstr text(body);
                SysFreeString(*str);
                *str = text.detach();
            }
            *result = truthValue(fetched);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT STDMETHODCALLTYPE url2file(BSTR* url, BSTR fn, VARIANT_BOOL* result) override {
        if (!url || !result)
            return E_POINTER;
        try {
            *result = truthValue(http_.url2file(textOf(*url), textOf(fn)));
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    httputil::Http2File http_;
};

} // namespace

const comserver::ServerClass& comserver::serverClass() {
    static const comserver::ServerClass cls{__uuidof(CHVhttp2file), kProgId, L"CHVhttp2file",
                                            comserver::createObject<Http2FileObject>};
    return cls;
}
