#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Pendrix.h"
#include "TestSupport.h"

TEST(MD5Generate, Rfc1321VectorsInUpperCase)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (auto [text, digest] : vectors) {
        char out[256];
        EXPECT_EQ(MD5Generate(text, out), 0);
        EXPECT_STREQ(out, digest) << text;
    }
    // A null text digests as the empty one.
    char out[256];
    EXPECT_EQ(MD5Generate(nullptr, out), 0);
    EXPECT_STREQ(out, "D41D8CD98F00B204E9800998ECF8427E");
}

namespace {

std::string Upper(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

// Texts of every length around the padding limit (55/56) and the block size
// (64), made of every byte value but NUL, also those above 127, which go in
// as bytes without any conversion; openssl digests the same bytes from files.
TEST(MD5Generate, PaddingBoundariesAndHighBytesAgreeWithOpenssl)
{
    std::mt19937 rng(1321);
    testsupport::TempDir dir;
    std::vector<std::string> texts;
    std::string command = "openssl dgst -md5 -r";
    for (size_t n : {1, 54, 55, 56, 57, 63, 64, 65, 119, 120, 128, 300}) {
        std::string text(n, '\0');
        for (auto& c : text)
            c = static_cast<char>(1 + rng() % 255);
        text[0] = static_cast<char>(0xff - n % 64); // always a byte above 127
        auto file = dir / ("t" + std::to_string(texts.size()));
        testsupport::WriteFile(file, text);
        command += " " + file.string();
        texts.push_back(text);
    }
    // UTF-8 text stays UTF-8: "é" is the two bytes C3 A9.
    texts.push_back("\xc3\xa9");
    auto file = dir / ("t" + std::to_string(texts.size() - 1));
    testsupport::WriteFile(file, texts.back());
    command += " " + file.string();

    int status = -1;
    std::istringstream peer(testsupport::RunCommand(command, &status));
    ASSERT_EQ(status, 0);
    for (const auto& text : texts) {
        std::string expected, name;
        ASSERT_TRUE(peer >> expected >> name);
        char out[256];
        EXPECT_EQ(MD5Generate(text.c_str(), out), 0);
        EXPECT_EQ(out, Upper(expected)) << text.size() << " bytes";
    }
}

TEST(MD5Generate, WritesExactly33BytesAndIsFoundByName)
{
    testsupport::TempDir dir;
    void* lib = dlopen((testsupport::BinDir() / "libpendrix.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using Fn = int (*)(const char*, char*);
    auto fn = reinterpret_cast<Fn>(dlsym(lib, "MD5Generate"));
    ASSERT_NE(fn, nullptr);
    char guarded[64];
    std::memset(guarded, 0x5A, sizeof guarded);
    EXPECT_EQ(fn("abc", guarded), 0);
    EXPECT_STREQ(guarded, "900150983CD24FB0D6963F7D28E17F72");
    for (size_t i = 33; i < sizeof guarded; ++i)
        EXPECT_EQ(guarded[i], 0x5A) << "byte " << i;
    dlclose(lib);
}

TEST(MD5Generate, ExportsOnlyItsPlainName)
{
    int status = -1;
    std::string symbols =
        testsupport::RunCommand("nm -D --defined-only " + (testsupport::BinDir() / "libpendrix.so").string(), &status);
    ASSERT_EQ(status, 0);
    std::istringstream lines(symbols);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (name == "MD5Generate") {
            found = true;
            EXPECT_EQ(type, "T");
        }
        EXPECT_NE(name.rfind("_Z", 0), 0u) << "C++ symbol exported: " << line;
    }
    EXPECT_TRUE(found) << symbols;
}

namespace {

// Captures what is written to standard error while fn runs.
template <typename Fn> std::string CaptureStderr(Fn fn)
{
    testsupport::TempDir dir;
    auto file = dir / "stderr";
    std::fflush(stderr);
    int saved = ::dup(2);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 2);
    ::close(fd);
    fn();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    return testsupport::ReadFile(file);
}

} // namespace

TEST(MD5Generate, TracesToStandardErrorOnlyWhenDebugging)
{
    char out[64];
    const char* old = std::getenv("TOLVANE_DEBUG");
    std::string saved = old ? old : "";
    ::unsetenv("TOLVANE_DEBUG");
    EXPECT_EQ(CaptureStderr([&] { MD5Generate("quiet", out); }), "");
    ::setenv("TOLVANE_DEBUG", "1", 1);
    EXPECT_EQ(CaptureStderr([&] { MD5Generate("C:\\Data\\Photos", out); }), "MD5Generate\nC:\\Data\\Photos\n");
    if (old)
        ::setenv("TOLVANE_DEBUG", saved.c_str(), 1);
    else
        ::unsetenv("TOLVANE_DEBUG");
    EXPECT_STREQ(out, "F71FC4FEB2A8F1585CD7B35A3889ED87"); // tracing does not change the result
}

TEST(MD5Generate, ConcurrentCallsGiveCorrectDigests)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                auto [text, digest] = vectors[(t + i) % 4];
                char out[256];
                if (MD5Generate(text, out) != 0 || std::strcmp(out, digest) != 0)
                    ++wrong;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}
