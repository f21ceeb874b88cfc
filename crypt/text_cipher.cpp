#include "crypt/text_cipher.h"

#include "common/cp1252.h"
#include "crypt/cipher_core.h"

#include <algorithm>

namespace hvcrypt {

namespace {

// The run-time errors the methods fail with.
struct ErrorKind {
    int number;
    const char* description;
};
constexpr ErrorKind kPasswordTooShort{
    5, "Invalid procedure call or argument: the password needs at least 8 characters"};
constexpr ErrorKind kOverflow{6, "Overflow"};
constexpr ErrorKind kSubscriptOutOfRange{9, "Subscript out of range"};
constexpr ErrorKind kTypeMismatch{13, "Type mismatch"};

[[noreturn]] void fail(const ErrorKind& error) {
    throw CryptError(error.number, error.description);
}

std::span<const std::uint8_t> asBytes(std::string_view bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

std::string TextToBytes(std::u16string_view text) {
    return hv::toCp1252(text);
}

std::u16string BytesToText(const Bytes& bytes) {
    return hv::fromCp1252({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::u16string BytesToHex(const Bytes& bytes) {
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    if (bytes.size() > std::u16string().max_size() / 2)
        fail(kOverflow);
    std::u16string hex(2 * bytes.size(), u'0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        hex[2 * i] = digits[bytes[i] >> 4];
        hex[2 * i + 1] = digits[bytes[i] & 0xF];
    }
    return hex;
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// Two digits per byte, either case. Only whole blocks (32 digits each) can ever decipher, so any other
// length fails here, once the digits themselves have been checked.
Bytes HexToBytes(std::u16string_view hex) {
    if (!std::all_of(hex.begin(), hex.end(), [](char16_t c) { return hexDigit(c) >= 0; }))
        fail(kTypeMismatch);
    if (hex.empty() || hex.size() % 32 != 0)
        fail(kSubscriptOutOfRange);
    Bytes bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(hexDigit(hex[2 * i]) << 4 | hexDigit(hex[2 * i + 1]));
    return bytes;
}

} // namespace

CryptError::CryptError(int number, const std::string& description)
    : std::runtime_error(description), number_(number) {}

int CryptError::number() const noexcept {
    return number_;
}

struct TextCipher::Impl {
    Cipher cipher;

    // The password's bytes become the current key. The key schedule needs whole 8-byte groups, so
    // shorter passwords are refused rather than given an undefined key.
    void setPassword(std::u16string_view pwd) {
        if (pwd.size() < 8)
            fail(kPasswordTooShort);
        const std::string key = TextToBytes(pwd);
        cipher.SetKey(asBytes(key));
    }
};

TextCipher::TextCipher() : impl_(std::make_unique<Impl>()) {}
TextCipher::~TextCipher() = default;
TextCipher::TextCipher(TextCipher&&) noexcept = default;
TextCipher& TextCipher::operator=(TextCipher&&) noexcept = default;

std::u16string TextCipher::EncryptText(std::u16string_view txt, std::u16string_view pwd) {
    if (txt.empty())
        return {};
    if (!impl_)
        impl_ = std::make_unique<Impl>(); // a moved-from object starts again with no key
    try {
        const std::string bytes = TextToBytes(txt);
        impl_->setPassword(pwd);
        return BytesToHex(impl_->cipher.EncryptBytes(asBytes(bytes)));
    } catch (const CipherOverflow&) {
        fail(kOverflow);
    }
}

std::u16string TextCipher::DecryptText(std::u16string_view txt, std::u16string_view pwd) {
    if (txt.empty())
        return {};
    if (!impl_)
        impl_ = std::make_unique<Impl>();
    try {
        const Bytes cipherText = HexToBytes(txt);
        impl_->setPassword(pwd);
        const std::optional<Bytes> plainText = impl_->cipher.DecryptBytes(cipherText);
        if (!plainText)
            fail(kSubscriptOutOfRange);
        return BytesToText(*plainText);
    } catch (const CipherOverflow&) {
        fail(kOverflow);
    }
}

} // namespace hvcrypt
