// The text encryption component's COM class and entry points. Compiled once per build: HV_WEB_CRYPT
// makes HVWebCryptG (class CHVWebCrypt, with getVersion), its absence HVCryptG (class CHVCrypt).
#include "comserver/dual_object.h"
#include "comserver/server.h"
#include "crypt/text_cipher.h"

#ifdef HV_WEB_CRYPT
#include "HVWebCryptG_idl.h"
#else
#include "HVCryptG_idl.h"
#endif

#include <new>
#include <string>

namespace {

#ifdef HV_WEB_CRYPT
using CryptInterface = _CHVWebCrypt;
using CryptClass = CHVWebCrypt;
constexpr wchar_t kProgId[] = L"HVWebCryptG.CHVWebCrypt";
constexpr wchar_t kClassName[] = L"CHVWebCrypt";
#else
using CryptInterface = _CHVCrypt;
using CryptClass = CHVCrypt;
constexpr wchar_t kProgId[] = L"HVCryptG.CHVCrypt";
constexpr wchar_t kClassName[] = L"CHVCrypt";
#endif

std::wstring describe(const hvcrypt::CryptError& error) {
    std::string text = error.what();
    return std::wstring(text.begin(), text.end()); // the cipher's descriptions are plain ASCII
}

// One object, one cipher: the key of the last call stays installed in it.
class CryptObject final : public comserver::DualObject<CryptInterface> {
public:
    CryptObject() : DualObject(kProgId) {}

    HRESULT STDMETHODCALLTYPE EncryptText(BSTR* txt, BSTR* pwd, BSTR* result) override {
        return run(&hvcrypt::TextCipher::EncryptText, txt, pwd, result);
    }
    HRESULT STDMETHODCALLTYPE DecryptText(BSTR* txt, BSTR* pwd, BSTR* result) override {
        return run(&hvcrypt::TextCipher::DecryptText, txt, pwd, result);
    }
#ifdef HV_WEB_CRYPT
    HRESULT STDMETHODCALLTYPE getVersion(short* result) override {
        if (!result)
            return E_POINTER;
        *result = 3;
        return S_OK;
    }
#endif

private:
    using Operation = std::u16string (hvcrypt::TextCipher::*)(std::u16string_view, std::u16string_view);

    // The arguments are read, never changed; a cipher failure becomes the caller's run-time error.
    HRESULT run(Operation operation, BSTR* txt, BSTR* pwd, BSTR* result) noexcept {
        if (!txt || !pwd || !result)
            return E_POINTER;
        *result = nullptr;
        try {
            std::u16string text =
                (cipher_.*operation)(comserver::Bstr::viewOf(*txt), comserver::Bstr::viewOf(*pwd));
            *result = comserver::Bstr(text).detach();
            return S_OK;
        } catch (const hvcrypt::CryptError& error) {
            return raise(error.number(), describe(error));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    hvcrypt::TextCipher cipher_;
};

} // namespace

const comserver::ServerClass& comserver::serverClass() {
    static const comserver::ServerClass cls{__uuidof(CryptClass), kProgId, kClassName,
                                            comserver::createObject<CryptObject>};
    return cls;
}
