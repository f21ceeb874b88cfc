// The two crypt builds as their callers meet them: registered with regsvr32, created by ProgID, called by
// name through IDispatch (as a script does) and through the vtable (as a compiled client does).
// Registration runs first and unregistration last (a ctest fixture orders the cases).
#include "comserver/test_support.h"
#include "common/cp1252.h"
#include "common/win32_handles.h"

#include "HVCryptG_idl.h"
#include "HVWebCryptG_idl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>

namespace {

using comtest::Bstr;
using comtest::byRef;
using comtest::byValue;
using comtest::ComPtr;
using comtest::DispatchClient;
using comtest::Variant;

struct Build {
    const wchar_t* dll;
    const wchar_t* progId;
    const wchar_t* className;
    const wchar_t* interfaceName;
    const wchar_t* clsid;
    const wchar_t* iid;
    const wchar_t* libId;
    const wchar_t* description;
    bool web;
};

const Build kBuilds[] = {
    {L"HVCryptG.dll", L"HVCryptG.CHVCrypt", L"CHVCrypt", L"_CHVCrypt",
     L"{97D951C0-99B1-4DFC-A910-860F98A5B31C}", L"{D68504BE-5059-49CC-B5B2-EF336A60D213}",
     L"{563242BE-598C-49A0-9D70-697CD09B5744}", L"Halvorn General Encryption Module", false},
    {L"HVWebCryptG.dll", L"HVWebCryptG.CHVWebCrypt", L"CHVWebCrypt", L"_CHVWebCrypt",
     L"{48B93BAB-EDA7-4DB9-AD0A-4BD959546801}", L"{507E87C9-E55D-4D86-BE7E-7E1B72F265DF}",
     L"{DA2D0B00-DAAF-483A-9521-0A53CA64CC87}", L"Halvorn General Web Encryption Module", true},
};

const wchar_t kPassword[] = L"secret-password";

std::wstring lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

std::wstring dllPath(const Build& build) {
    return comtest::besideThisExe(build.dll);
}

TEST(Registration, Regsvr32WritesClassProgIdInterfaceAndTypeLibrary) {
    for (const Build& b : kBuilds) {
        SCOPED_TRACE(testing::Message() << b.progId);
        ASSERT_EQ(comtest::runAndWait(L"regsvr32.exe /s \"" + dllPath(b) + L"\""), 0u);

        const std::wstring clsidKey = std::wstring(L"CLSID\\") + b.clsid;
        const std::wstring libKey = std::wstring(L"TypeLib\\") + b.libId + L"\\1.0";
        const std::wstring interfaceKey = std::wstring(L"Interface\\") + b.iid;
        const struct {
            std::wstring key;
            const wchar_t* name;
            std::wstring expected;
        } values[] = {
            {clsidKey, nullptr, b.className},
            {clsidKey + L"\\InprocServer32", nullptr, dllPath(b)},
            {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
            {clsidKey + L"\\ProgID", nullptr, b.progId},
            {b.progId, nullptr, b.className},
            {std::wstring(b.progId) + L"\\CLSID", nullptr, b.clsid},
            {interfaceKey, nullptr, b.interfaceName},
            {interfaceKey + L"\\TypeLib", nullptr, b.libId},
            {libKey, nullptr, b.description},
            {libKey + L"\\0\\win64", nullptr, dllPath(b)},
        };
        for (const auto& v : values)
            EXPECT_EQ(lower(comtest::keyValue(HKEY_CLASSES_ROOT, v.key, v.name).value_or(L"<missing>")),
                      lower(v.expected))
                << v.key << " " << (v.name ? v.name : L"(default)");
    }
}

// A client of one build through IDispatch, inside its own apartment.
class CryptClient : public testing::Test {
protected:
    comtest::Apartment apartment_;
};

std::wstring call(const DispatchClient& client, const wchar_t* method, std::wstring_view txt,
                  std::wstring_view pwd) {
    Bstr t(txt), p(pwd);
    BSTR tRef = t.get(), pRef = p.get();
    comtest::Outcome outcome = client.call(method, {byRef(&tRef), byRef(&pRef)});
    EXPECT_EQ(outcome.hr, S_OK) << method << ": " << outcome.description;
    EXPECT_EQ(outcome.result.type(), VT_BSTR) << method;
    return outcome.result.text();
}

bool isUpperHex(const std::wstring& text) {
    return std::all_of(text.begin(), text.end(),
                       [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'); });
}

std::wstring everyWindows1252Character() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
            bytes.push_back(static_cast<char>(b));
    std::u16string text = hv::fromCp1252(bytes);
    return std::wstring(text.begin(), text.end());
}

TEST_F(CryptClient, RoundTripsTextsOfEveryLength) {
    std::wstring all = everyWindows1252Character();
    std::wstring long5000;
    while (long5000.size() < 5000)
        long5000 += all;
    long5000.resize(5000);
    const struct {
        std::wstring text;
        size_t digits; // 2 x (length + 4 rounded up to 16)
    } cases[] = {{L"", 0},       {L"x", 32},       {L"twelve chars", 32}, {L"thirteen char", 64},
                 {all, 2 * 256}, {long5000, 10016}};

    for (const Build& b : kBuilds) {
        DispatchClient client(b.progId);
        ASSERT_TRUE(client.ok()) << std::hex << client.createResult();
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << b.progId << ", " << c.text.size() << " characters");
            std::wstring cipher = call(client, L"EncryptText", c.text, kPassword);
            EXPECT_EQ(cipher.size(), c.digits);
            EXPECT_TRUE(isUpperHex(cipher));
            EXPECT_EQ(call(client, L"EncryptText", c.text, kPassword), cipher)
                << "same text, same ciphertext";
            EXPECT_TRUE(call(client, L"DecryptText", cipher, kPassword) == c.text);
            EXPECT_TRUE(call(client, L"DecryptText", lower(cipher), kPassword) == c.text);
        }
    }
}

// Scripts pass variables as VT_BYREF|VT_VARIANT and literals by value; compiled clients pass BSTR*. All
// reach the method, and none of them comes back changed.
TEST_F(CryptClient, TakesEveryArgumentFormAndChangesNone) {
    const std::wstring text = L"Arguments by reference";
    for (const Build& b : kBuilds) {
        SCOPED_TRACE(testing::Message() << b.progId);
        DispatchClient client(b.progId);
        ASSERT_TRUE(client.ok());
        const std::wstring expected = call(client, L"EncryptText", text, L"12345678");

        Bstr t(text), p(L"12345678");
        BSTR tRef = t.get(), pRef = p.get();
        Variant tVar(text), pVar(L"12345678"), pNumber;
        V_VT(pNumber.get()) = VT_I4;
        V_I4(pNumber.get()) = 12345678;
        const struct {
            const char* form;
            VARIANT txt, pwd;
        } forms[] = {
            {"BSTR by reference", byRef(&tRef), byRef(&pRef)},
            {"variant by reference", byRef(tVar.get()), byRef(pVar.get())},
            {"by value", byValue(t.get()), byValue(p.get())},
            {"number in a variant by reference", byRef(tVar.get()), byRef(pNumber.get())},
        };
        for (const auto& f : forms) {
            comtest::Outcome outcome = client.call(L"EncryptText", {f.txt, f.pwd});
            EXPECT_EQ(outcome.hr, S_OK) << f.form;
            EXPECT_TRUE(outcome.result.text() == expected) << f.form;
        }
        EXPECT_EQ(tRef, t.get());
        EXPECT_EQ(pRef, p.get());
        EXPECT_TRUE(Bstr::viewOf(tRef) == u"Arguments by reference");
        EXPECT_TRUE(tVar.text() == text);
        EXPECT_TRUE(pVar.text() == L"12345678");
        EXPECT_EQ(pNumber.type(), VT_I4);
        EXPECT_EQ(V_I4(pNumber.get()), 12345678);
    }
}

TEST_F(CryptClient, FailuresReachTheCallerAsRunTimeErrors) {
    const std::wstring cipher32(32, L'0');
    const struct {
        const char* what;
        std::wstring txt;
        const wchar_t* pwd;
        long number;
        const wchar_t* description;
    } cases[] = {
        {"wrong password", {}, L"Secret-password", 9, L"Subscript out of range"},
        {"31 digits", cipher32.substr(1), kPassword, 9, L"Subscript out of range"},
        {"33 digits", cipher32 + L"0", kPassword, 9, L"Subscript out of range"},
        {"a non-hexadecimal pair", L"0G" + cipher32.substr(2), kPassword, 13, L"Type mismatch"},
    };
    for (const Build& b : kBuilds) {
        DispatchClient client(b.progId);
        ASSERT_TRUE(client.ok());
        const std::wstring good = call(client, L"EncryptText", L"a text to damage", kPassword);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << b.progId << ", " << c.what);
            Bstr t(c.txt.empty() ? good : c.txt), p(c.pwd);
            comtest::Outcome outcome = client.call(L"DecryptText", {byValue(t.get()), byValue(p.get())});
            EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
            EXPECT_EQ(outcome.scode, static_cast<SCODE>(0x800A0000 | c.number));
            EXPECT_TRUE(outcome.description == c.description);
            EXPECT_TRUE(outcome.source == b.progId);
            EXPECT_EQ(outcome.result.type(), VT_EMPTY) << "a failed call returns no text";
        }
    }
}

TEST_F(CryptClient, OnlyTheWebBuildHasGetVersion) {
    for (const Build& b : kBuilds) {
        SCOPED_TRACE(testing::Message() << b.progId);
        DispatchClient client(b.progId);
        ASSERT_TRUE(client.ok());
        DISPID id = 0;
        if (!b.web) {
            EXPECT_EQ(client.dispId(L"getVersion", id), DISP_E_UNKNOWNNAME);
            continue;
        }
        comtest::Outcome outcome = client.call(L"getVersion", {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
        ASSERT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(outcome.result.type(), VT_I2);
        EXPECT_EQ(V_I2(outcome.result.get()), 3);
    }
}

// A compiled client gets the HRESULT from the vtable and the text from IErrorInfo.
template <typename Interface> void checkVtableClient(const wchar_t* progId) {
    SCOPED_TRACE(testing::Message() << progId);
    DispatchClient client(progId);
    ASSERT_TRUE(client.ok());
    ComPtr<Interface> crypt;
    ASSERT_EQ(client.object()->QueryInterface(__uuidof(Interface), crypt.putVoid()), S_OK);

    Bstr t(L"compiled client"), p(kPassword), cipher;
    BSTR tRef = t.get(), pRef = p.get();
    ASSERT_EQ(crypt->EncryptText(&tRef, &pRef, cipher.put()), S_OK);
    EXPECT_TRUE(cipher.text() == call(client, L"EncryptText", L"compiled client", kPassword));
    EXPECT_EQ(tRef, t.get());

    Bstr bad(L"ZZ" + std::wstring(30, L'0')), plain;
    BSTR badRef = bad.get();
    EXPECT_EQ(crypt->DecryptText(&badRef, &pRef, plain.put()), static_cast<HRESULT>(0x800A000D));
    EXPECT_EQ(plain.get(), nullptr);

    ComPtr<ISupportErrorInfo> supports;
    ASSERT_EQ(client.object()->QueryInterface(IID_ISupportErrorInfo, supports.putVoid()), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(__uuidof(Interface)), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr description, source;
    GUID guid{};
    info->GetDescription(description.put());
    info->GetSource(source.put());
    info->GetGUID(&guid);
    EXPECT_TRUE(description.text() == L"Type mismatch");
    EXPECT_TRUE(source.text() == progId);
    EXPECT_EQ(guid, __uuidof(Interface));
}

TEST_F(CryptClient, VtableCallersGetHresultAndErrorInfo) {
    checkVtableClient<_CHVCrypt>(L"HVCryptG.CHVCrypt");
    checkVtableClient<_CHVWebCrypt>(L"HVWebCryptG.CHVWebCrypt");
}

template <typename Function> Function entryPoint(HMODULE dll, const char* name) {
    // FARPROC is a placeholder type: the detour through void(*)() tells the compiler the cast is meant.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

// The DLL stays loaded while an object, a class factory or a server lock lives, and only then.
TEST_F(CryptClient, ServerCountsObjectsFactoriesAndLocks) {
    for (const Build& b : kBuilds) {
        SCOPED_TRACE(testing::Message() << b.progId);
        hv::UniqueModule dll(LoadLibraryW(dllPath(b).c_str()));
        ASSERT_TRUE(dll);
        auto getClassObject =
            entryPoint<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(dll.get(), "DllGetClassObject");
        auto canUnloadNow = entryPoint<HRESULT(STDAPICALLTYPE*)()>(dll.get(), "DllCanUnloadNow");
        ASSERT_TRUE(getClassObject && canUnloadNow);
        CLSID clsid;
        ASSERT_EQ(CLSIDFromString(const_cast<LPOLESTR>(b.clsid), &clsid), S_OK);

        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject(IID_IClassFactory, IID_IClassFactory, factory.putVoid()),
                  CLASS_E_CLASSNOTAVAILABLE);
        ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, factory.putVoid()), S_OK);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        ComPtr<IDispatch> object;
        EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IDispatch, object.putVoid()),
                  CLASS_E_NOAGGREGATION);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        factory.reset();
        EXPECT_EQ(canUnloadNow(), S_FALSE) << "object and lock";
        object.reset();
        EXPECT_EQ(canUnloadNow(), S_FALSE) << "lock";
        ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, factory.putVoid()), S_OK);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        factory.reset();
        EXPECT_EQ(canUnloadNow(), S_OK);
    }
}

TEST(Unregistration, Regsvr32RemovesWhatRegistrationWrote) {
    for (const Build& b : kBuilds) {
        SCOPED_TRACE(testing::Message() << b.progId);
        ASSERT_EQ(comtest::runAndWait(L"regsvr32.exe /u /s \"" + dllPath(b) + L"\""), 0u);
        for (const std::wstring& key :
             {std::wstring(L"CLSID\\") + b.clsid, std::wstring(b.progId),
              std::wstring(L"Interface\\") + b.iid, std::wstring(L"TypeLib\\") + b.libId})
            EXPECT_FALSE(comtest::keyExists(HKEY_CLASSES_ROOT, key)) << key;
        // Unregistering what is no longer registered is no failure.
        EXPECT_EQ(comtest::runAndWait(L"regsvr32.exe /u /s \"" + dllPath(b) + L"\""), 0u);
    }
}

} // namespace
