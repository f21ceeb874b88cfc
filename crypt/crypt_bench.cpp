// The cipher against nettle's implementation of the published cipher, measured in the same run: bulk ECB
// throughput on 1 MiB, and whole texts per second with a key schedule per text, as the component works.
// After the usual table, a summary gives each pair side by side with the ratio.
#include "crypt/cipher_core.h"
#include "crypt/text_cipher.h"

#include <nettle/twofish.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

namespace {

using hvcrypt::Bytes;

constexpr std::size_t kBulkSize = 1 << 20;
const std::u16string kText = u"Meet me at the usual place at 9."; // 32 characters
const std::u16string kPassword = u"a password of 16";

Bytes randomBytes(std::size_t n) {
    std::mt19937 random(7);
    Bytes bytes(n);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

void bulkEncryptHvcrypt(benchmark::State& state) {
    const Bytes data = randomBytes(kBulkSize - 16); // with its length field, exactly 1 MiB of blocks
    hvcrypt::Cipher cipher;
    cipher.SetKey(randomBytes(16));
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.EncryptBytes(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBulkSize));
}

void bulkDecryptHvcrypt(benchmark::State& state) {
    hvcrypt::Cipher cipher;
    cipher.SetKey(randomBytes(16));
    const Bytes cipherText = cipher.EncryptBytes(randomBytes(kBulkSize - 16));
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.DecryptBytes(cipherText));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBulkSize));
}

void bulkEncryptNettle(benchmark::State& state) {
    const Bytes data = randomBytes(kBulkSize);
    const Bytes key = randomBytes(16);
    twofish_ctx context;
    twofish_set_key(&context, key.size(), key.data());
    Bytes out(kBulkSize);
    for (auto _ : state) {
        twofish_encrypt(&context, data.size(), out.data(), data.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBulkSize));
}

void bulkDecryptNettle(benchmark::State& state) {
    const Bytes data = randomBytes(kBulkSize);
    const Bytes key = randomBytes(16);
    twofish_ctx context;
    twofish_set_key(&context, key.size(), key.data());
    Bytes out(kBulkSize);
    for (auto _ : state) {
        twofish_decrypt(&context, data.size(), out.data(), data.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBulkSize));
}

// A whole EncryptText: code page conversion, key schedule, three blocks, hexadecimal text.
void textsHvcrypt(benchmark::State& state) {
    hvcrypt::TextCipher cipher;
    for (auto _ : state)
        benchmark::DoNotOptimize(cipher.EncryptText(kText, kPassword));
    state.SetItemsProcessed(state.iterations());
}

// The peer's share of the same work: a key schedule and the three blocks of a 32-character text.
void textsNettle(benchmark::State& state) {
    const Bytes key(kPassword.begin(), kPassword.end());
    Bytes buffer(48, 0);
    std::copy(kText.begin(), kText.end(), buffer.begin() + 4);
    Bytes out(48);
    for (auto _ : state) {
        twofish_ctx context;
        twofish_set_key(&context, key.size(), key.data());
        twofish_encrypt(&context, buffer.size(), out.data(), buffer.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(bulkEncryptHvcrypt)->Name("bulk_encrypt_1MiB/hvcrypt")->Unit(benchmark::kMillisecond);
BENCHMARK(bulkEncryptNettle)->Name("bulk_encrypt_1MiB/nettle")->Unit(benchmark::kMillisecond);
BENCHMARK(bulkDecryptHvcrypt)->Name("bulk_decrypt_1MiB/hvcrypt")->Unit(benchmark::kMillisecond);
BENCHMARK(bulkDecryptNettle)->Name("bulk_decrypt_1MiB/nettle")->Unit(benchmark::kMillisecond);
BENCHMARK(textsHvcrypt)->Name("texts_32_chars/hvcrypt");
BENCHMARK(textsNettle)->Name("texts_32_chars/nettle");

// Keeps each benchmark's rate for the summary: the median of the repetitions, or the single run.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            const std::string& name = run.run_name.function_name;
            const auto slash = name.find('/');
            const auto rate =
                run.counters.find(name.starts_with("texts") ? "items_per_second" : "bytes_per_second");
            if (slash != std::string::npos && rate != run.counters.end())
                rates_[name.substr(0, slash)][name.substr(slash + 1)] = rate->second.value;
        }
    }

    void printSummary() const {
        std::printf("\n%-20s %16s %16s %8s\n", "", "hvcrypt", "nettle", "ratio");
        for (const auto& [test, byImplementation] : rates_) {
            const bool texts = test.starts_with("texts");
            const double scale = texts ? 1.0 : 1e6; // texts per second, or MB/s
            const double ours = byImplementation.count("hvcrypt") ? byImplementation.at("hvcrypt") : 0;
            const double theirs = byImplementation.count("nettle") ? byImplementation.at("nettle") : 0;
            std::printf("%-20s %12.1f %-3s %12.1f %-3s %8.2f\n", test.c_str(), ours / scale,
                        texts ? "/s" : "MB/s", theirs / scale, texts ? "/s" : "MB/s",
                        theirs > 0 ? ours / theirs : 0.0);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> rates_;
};

} // namespace

// Both sides of a pair run in the same process, repeated and interleaved at random, so that the load of
// the machine weighs on them alike; the medians are compared.
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=5";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1,
                {repetitions, interleaving, aggregatesOnly}); // the command line can override
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
