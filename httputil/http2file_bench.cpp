// url2file against the platform's own URLDownloadToFileA, for one large body from a loopback server, with
// two bare WinINet read loops beside them that show what the read size alone costs. Each download runs in
// a child process of its own, so that the peak memory it reports is its own.
//
//   httputil_bench [MiB [rounds]]         the comparison (defaults: 64 MiB, 3 rounds)
//   httputil_bench --one KIND URL FILE    one download (KIND: component, platform, loop-2k or loop-64k);
//                                         prints its figures
#include "httputil/http2file.h"
#include "httputil/internet_handle.h"
#include "httputil/local_server.h"

#include "common/win32_handles.h"

#include <psapi.h>
#include <urlmon.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Contestant {
    const wchar_t* kind;
    const char* name;
};

constexpr Contestant kContestants[] = {
    {L"component", "url2file"},
    {L"platform", "URLDownloadToFileA"},
    {L"loop-2k", "bare WinINet loop, 2048-byte reads"},
    {L"loop-64k", "bare WinINet loop, 65536-byte reads"},
};

struct Figures {
    double seconds = 0;
    double peakMiB = 0; // peak working set above what the process held before the download
    double bytes = 0;
};

double mebibytes(SIZE_T bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// The least any WinINet download into a file can do: reads of `chunk` bytes, each written straight out.
// With 2048-byte reads it is the floor for url2file, whose read size is fixed.
bool bareLoop(const std::string& url, const std::wstring& file, DWORD chunk) {
    httputil::UniqueInternet root(InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    httputil::UniqueInternet request(
        InternetOpenUrlA(root.get(), url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0));
    hv::UniqueFile out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!request || !out)
        return false;
    std::vector<char> buffer(chunk);
    DWORD read = 0, written = 0;
    while (InternetReadFile(request.get(), buffer.data(), chunk, &read) && read > 0)
        if (!WriteFile(out.get(), buffer.data(), read, &written, nullptr))
            return false;
    return true;
}

bool download(const std::wstring& kind, const std::wstring& url, const std::wstring& file) {
    std::string ansiUrl(url.begin(), url.end()), ansiFile(file.begin(), file.end());
    if (kind == L"component")
        return httputil::Http2File().url2file(url, file);
    if (kind == L"platform")
        return SUCCEEDED(URLDownloadToFileA(nullptr, ansiUrl.c_str(), ansiFile.c_str(), 0, nullptr));
    if (kind == L"loop-2k")
        return bareLoop(ansiUrl, file, 2048);
    if (kind == L"loop-64k")
        return bareLoop(ansiUrl, file, 65536);
    return false;
}

int downloadOnce(const std::wstring& kind, const std::wstring& url, const std::wstring& file) {
    PROCESS_MEMORY_COUNTERS before{}, after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    auto start = std::chrono::steady_clock::now();
    bool ok = download(kind, url, file);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
    double bytes =
        static_cast<double>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    // The working set, not the page-file usage: Wine fills only the former from the system's figures.
    std::printf("%d %.6f %.3f %.0f\n", ok ? 1 : 0, seconds,
                mebibytes(after.PeakWorkingSetSize) - mebibytes(before.WorkingSetSize), bytes);
    return ok ? 0 : 1;
}

// Runs this program with --one in a child process and reads back its figures.
bool runChild(const std::wstring& kind, const std::wstring& url, const std::wstring& file, Figures& figures) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --one " + kind + L" " + url + L" \"" + file + L"\"";

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    hv::UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0))
        return false;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    hv::UniqueHandle ownProcess(process.hProcess), ownThread(process.hThread);
    writeEnd.reset();

    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        output.append(buffer, read);
    WaitForSingleObject(ownProcess.get(), INFINITE);
    int ok = 0;
    return std::sscanf(output.c_str(), "%d %lf %lf %lf", &ok, &figures.seconds, &figures.peakMiB,
                       &figures.bytes) == 4 &&
           ok == 1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int compare(int mebibytesOfBody, int rounds) {
    httputil::testing::LocalServer server;
    const long long bodyBytes = mebibytesOfBody * 1024LL * 1024LL;
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    const std::wstring file = std::wstring(tempFolder) + L"hv-httputil-bench.bin";

    constexpr std::size_t kCount = std::size(kContestants);
    std::vector<double> speed[kCount], peak[kCount];
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < kCount; ++k) {
            // A distinct URL each time, so that no cache can answer.
            std::wstring url = server.wideUrl("/sized?n=" + std::to_string(bodyBytes) +
                                              "&round=" + std::to_string(round) + "&k=" + std::to_string(k));
            Figures figures;
            DeleteFileW(file.c_str());
            if (!runChild(kContestants[k].kind, url, file, figures) ||
                figures.bytes != static_cast<double>(bodyBytes)) {
                std::fprintf(stderr, "the %s download failed\n", kContestants[k].name);
                return 1;
            }
            double mbPerSecond = static_cast<double>(bodyBytes) / 1e6 / figures.seconds;
            std::printf("round %d  %-36s %8.1f MB/s  peak %6.1f MiB\n", round + 1, kContestants[k].name,
                        mbPerSecond, figures.peakMiB);
            std::fflush(stdout);
            speed[k].push_back(mbPerSecond);
            peak[k].push_back(figures.peakMiB);
        }
    }
    DeleteFileW(file.c_str());

    std::printf("\nbody %d MiB, %d rounds, medians (peak: working set above the start):\n", mebibytesOfBody,
                rounds);
    for (std::size_t k = 0; k < kCount; ++k)
        std::printf("  %-36s %8.1f MB/s  peak %6.1f MiB (%.2f x body)\n", kContestants[k].name,
                    median(speed[k]), median(peak[k]), median(peak[k]) / mebibytesOfBody);
    std::printf("  url2file / URLDownloadToFileA        %8.2f  (aim: at least 0.9)\n",
                median(speed[0]) / median(speed[1]));
    std::printf("  url2file / bare loop, 2048-byte reads %7.2f\n", median(speed[0]) / median(speed[2]));
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wcscmp(argv[1], L"--one") == 0)
        return downloadOnce(argv[2], argv[3], argv[4]);
    int mebibytesOfBody = argc > 1 ? std::max(1, _wtoi(argv[1])) : 64;
    int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
    return compare(mebibytesOfBody, rounds);
}
