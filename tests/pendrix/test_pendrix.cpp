#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>

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
