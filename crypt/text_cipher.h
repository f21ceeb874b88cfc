// Text encryption as the components expose it: a text and a password in, hexadecimal ciphertext out,
// and back.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace hvcrypt {

// A failure of EncryptText or DecryptText: a run-time error number (6 overflow, 9 subscript out of
// range, 13 type mismatch, 5 for a password that is too short) and its description.
class CryptError : public std::runtime_error {
public:
    CryptError(int number, const std::string& description);
    int number() const noexcept;

private:
    int number_;
};

// One object holds one installed key at a time (the key of its last call stays installed).
class TextCipher {
public:
    TextCipher();
    ~TextCipher();
    TextCipher(TextCipher&&) noexcept;
    TextCipher& operator=(TextCipher&&) noexcept;

    std::u16string EncryptText(std::u16string_view txt, std::u16string_view pwd);
    std::u16string DecryptText(std::u16string_view txt, std::u16string_view pwd);

private:
    struct Impl; // the current key
    std::unique_ptr<Impl> impl_;
};

} // namespace hvcrypt
