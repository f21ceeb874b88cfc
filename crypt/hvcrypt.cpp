// hvcrypt: encrypts standard input under a password into the component's hexadecimal ciphertext, or with
// -d decrypts such a ciphertext back; the result goes to standard output. Same texts, format and errors
// as the component.
//
//   hvcrypt [-d] [-p PASSWORD]     without -p the password comes from HVCRYPT_PASSWORD
//
// Standard input is UTF-8 text (a leading byte order mark is dropped) and is encrypted whole, a trailing
// newline included, so that decrypting gives back exactly the bytes that were encrypted. The ciphertext is
// written with one newline after it; when decrypting, blanks and line ends at the end of the input are
// ignored. A failure prints "Error <number>: <description>" to standard error and exits with 1; a usage
// error exits with 2.
#include "crypt/text_cipher.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <cwchar>
#endif

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The number of bytes that follow a lead byte, or -1 when it cannot start a sequence.
int continuationBytes(unsigned char lead) {
    if (lead < 0x80)
        return 0;
    if ((lead & 0xE0) == 0xC0)
        return 1;
    if ((lead & 0xF0) == 0xE0)
        return 2;
    if ((lead & 0xF8) == 0xF0)
        return 3;
    return -1;
}

// Malformed sequences become U+FFFD, which the code page then turns into "?" like any other character it
// lacks.
std::u16string fromUtf8(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int extra = continuationBytes(lead);
        if (extra < 0 || i + extra >= bytes.size()) {
            text += kReplacement;
            ++i;
            continue;
        }
        char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        bool wellFormed = true;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                wellFormed = false;
                break;
            }
            code = code << 6 | (next & 0x3F);
        }
        constexpr char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (!wellFormed || code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            text += kReplacement;
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            text += static_cast<char16_t>(0xD800 + (code >> 10));
            text += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            text += static_cast<char16_t>(code);
        }
        i += extra + 1;
    }
    return text;
}

// The component's texts hold code page characters only, all in the basic plane.
std::string toUtf8(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else if (c < 0x800) {
            bytes += static_cast<char>(0xC0 | c >> 6);
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes += static_cast<char>(0xE0 | c >> 12);
            bytes += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return bytes;
}

std::string readAll(std::FILE* in) {
    std::string bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.append(buffer, n);
    return bytes;
}

int usage(std::FILE* out, int status) {
    std::fputs("usage: hvcrypt [-d] [-p PASSWORD]\n"
               "Encrypts standard input (UTF-8 text) into hexadecimal ciphertext, or with -d decrypts it.\n"
               "Without -p the password is taken from the environment variable HVCRYPT_PASSWORD.\n",
               out);
    return status;
}

int run(const std::vector<std::u16string>& args, std::optional<std::u16string> password) {
    bool decrypt = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == u"-d")
            decrypt = true;
        else if (args[i] == u"-p" && i + 1 < args.size())
            password = args[++i];
        else if (args[i] == u"-h" || args[i] == u"--help")
            return usage(stdout, 0);
        else
            return usage(stderr, 2);
    }
    if (!password) {
        std::fputs("hvcrypt: no password: give -p PASSWORD or set HVCRYPT_PASSWORD\n", stderr);
        return 2;
    }

    std::string input = readAll(stdin);
    if (input.starts_with("\xEF\xBB\xBF"))
        input.erase(0, 3);
    if (decrypt)
        input.erase(input.find_last_not_of(" \t\r\n") + 1);

    try {
        hvcrypt::TextCipher cipher;
        const std::u16string text = fromUtf8(input);
        std::string output = decrypt ? toUtf8(cipher.DecryptText(text, *password))
                                     : toUtf8(cipher.EncryptText(text, *password));
        if (!decrypt && !output.empty())
            output += '\n';
        if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() ||
            std::fflush(stdout) != 0) {
            std::fputs("hvcrypt: cannot write the result\n", stderr);
            return 1;
        }
    } catch (const hvcrypt::CryptError& e) {
        std::fprintf(stderr, "Error %d: %s\n", e.number(), e.what());
        return 1;
    }
    return 0;
}

} // namespace

#ifdef _WIN32
// The wide entry point: arguments and environment arrive as UTF-16, whatever the ANSI code page.
extern "C" int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    auto toText = [](const wchar_t* s) {
        return std::u16string(s, s + std::wcslen(s));
    };
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(toText(argv[i]));
    std::optional<std::u16string> password;
    if (const wchar_t* value = _wgetenv(L"HVCRYPT_PASSWORD"))
        password = toText(value);
    return run(args, password);
}
#else
int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(fromUtf8(argv[i]));
    std::optional<std::u16string> password;
    if (const char* value = std::getenv("HVCRYPT_PASSWORD"))
        password = fromUtf8(value);
    return run(args, password);
}
#endif
