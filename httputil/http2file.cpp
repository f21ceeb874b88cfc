#include "httputil/http2file.h"
#include "httputil/fetch.h"

#include "common/cp1252.h"
#include "common/win32_handles.h"

#include <new>

namespace httputil {

namespace {

// A failure that url2str and url2file report to the user: a run-time error number and its description.
struct RaisedFailure {
    long number;
    const wchar_t* description;
};

const RaisedFailure kOutOfMemory{7, L"Out of memory"};

RaisedFailure fileFailure(DWORD code) {
    switch (code) {
    case ERROR_PATH_NOT_FOUND:
        return {76, L"Path not found"};
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return {70, L"Permission denied"};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return {61, L"Disk full"};
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return kOutOfMemory;
    default: // a read-only file, a folder, a bad name
        return {75, L"Path/File access error"};
    }
}

void reportFailure(const RaisedFailure& failure) {
    std::wstring text = L"Error " + std::to_wstring(failure.number) + L"\r\n" + failure.description;
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_ICONERROR | MB_OK);
}

std::string ansiUrl(const std::wstring& url) {
    return hv::toCp1252(std::u16string(url.begin(), url.end()));
}

std::wstring bodyText(const Body& body) {
    std::wstring text;
    text.reserve(body.size());
    for (const std::string& block : body.blocks()) {
        std::u16string chars = hv::fromCp1252(block);
        text.append(chars.begin(), chars.end());
    }
    return text;
}

// Writes the body from the file's first byte and cuts off whatever an older, longer file held beyond it.
// OPEN_ALWAYS rather than CREATE_ALWAYS: a hidden or system file is overwritten as well.
void writeBodyFile(const std::wstring& fn, const Body& body) {
    hv::UniqueFile file(CreateFileW(fn.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw fileFailure(GetLastError());
    if (!SetEndOfFile(file.get()))
        throw fileFailure(GetLastError());
    for (const std::string& block : body.blocks()) {
        DWORD written = 0;
        if (!WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr))
            throw fileFailure(GetLastError());
        if (written != block.size())
            throw fileFailure(ERROR_DISK_FULL);
    }
}

} // namespace

bool Http2File::url2str(const std::wstring& url, std::wstring& str) {
    try {
        Body body;
        fetchInto(ansiUrl(url), DontUseCache, body);
        str = bodyText(body);
        return true;
    } catch (const std::bad_alloc&) {
        reportFailure(kOutOfMemory);
        return false;
    }
}

bool Http2File::url2file(const std::wstring& url, const std::wstring& fn) {
    try {
        Body body;
        fetchInto(ansiUrl(url), DontUseCache, body);
        writeBodyFile(fn, body);
        return true;
    } catch (const RaisedFailure& failure) {
        reportFailure(failure);
        return false;
    } catch (const std::bad_alloc&) {
        reportFailure(kOutOfMemory);
        return false;
    }
}

} // namespace httputil
