#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "TestSupport.h"
#include "stdafx.h"

TEST(Base64, Rfc4648Vectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (auto [plain, coded] : vectors) {
        char out[32];
        EXPECT_EQ(Base64Encode(out, sizeof out, plain, 0), static_cast<int>(std::strlen(coded)));
        EXPECT_STREQ(out, coded);
        EXPECT_EQ(Base64Encode(plain), coded);
        if (*coded) {
            char back[32];
            EXPECT_EQ(Base64Decode(back, sizeof back, coded), static_cast<int>(std::strlen(plain)));
            EXPECT_STREQ(back, plain);
        }
    }
}

TEST(Base64, EncodeNeedsRoomAndWritesNothingOtherwise)
{
    char out[5];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(Base64Encode(out, 4, "abc", 0), -1);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(Base64Encode(out, 5, "abc", 0), 4);
    EXPECT_STREQ(out, "YWJj");
    // An explicit length takes bytes past a NUL.
    char bin[16];
    EXPECT_EQ(Base64Encode(bin, sizeof bin, "a\0b", 3), 4);
    EXPECT_STREQ(bin, "YQBi");
}

TEST(Base64, DecodeRefusesBadTextAndLeavesTheBuffer)
{
    const char* bad[] = {"", "Zg=", "Zm9", "Zm*v", "Z=9v", "Zg==Zg==", "=Zg=", "Zm9v====", "Zg= "};
    for (const char* text : bad) {
        char out[16];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(Base64Decode(out, sizeof out, text), -1) << text;
        EXPECT_EQ(out[0], '#') << text;
        EXPECT_EQ(Base64Decode(std::string(text)), "") << text;
    }
}

TEST(Base64, DecodeNeedsRoomForBytesNulAndASpare)
{
    char out[4];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(Base64Decode(out, 3, "Zm8="), -1);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(Base64Decode(out, 4, "Zm8="), 2);
    EXPECT_STREQ(out, "fo");
}

TEST(Base64, BinaryRoundTripAgreesWithCoreutils)
{
    testsupport::TempDir dir;
    std::mt19937 rng(1234);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(rng() % 200, '\0');
        for (auto& c : bytes)
            c = static_cast<char>(rng() & 0xFF);
        std::string coded = Base64Encode(bytes);
        EXPECT_EQ(Base64Decode(coded), bytes);
        testsupport::WriteFile(dir / "in.bin", bytes);
        int status = -1;
        std::string theirs = testsupport::RunCommand("base64 -w0 " + (dir / "in.bin").string(), &status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(coded, theirs);
    }
}

TEST(Mac, ToAndFromText)
{
    const unsigned char mac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(MacToString(mac), "00:11:22:AA:BB:CC");
    unsigned char back[6] = {};
    ASSERT_TRUE(StringToMac("0:11:22:aa:bb:cc", back));
    EXPECT_EQ(std::memcmp(back, mac, 6), 0);
    ASSERT_TRUE(StringToMac("100:11:22:aa:bb:1cc", back)); // low byte of each number
    EXPECT_EQ(back[0], 0x00);
    EXPECT_EQ(back[5], 0xCC);
}

TEST(Mac, MalformedTextIsRefusedAndLeavesTheBytes)
{
    for (const char* text : {"", "00:11:22:AA:BB", "00:11:22:AA:BB:CC:DD", "00-11-22-AA-BB-CC", "00:11::AA:BB:CC",
                             "00:11:22:AA:BB:CG", "xx:11:22:AA:BB:CC", "00:11:22:AA:BB:CC "}) {
        unsigned char mac[6] = {1, 2, 3, 4, 5, 6};
        EXPECT_FALSE(StringToMac(text, mac)) << text;
        EXPECT_EQ(mac[0], 1) << text;
        EXPECT_EQ(mac[5], 6) << text;
    }
}

TEST(Ip, ToAndFromText)
{
    uint32_t ip = 0;
    ASSERT_TRUE(StringToIp("198.18.0.1", ip));
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&ip);
    EXPECT_EQ(b[0], 198); // network order in memory
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(IpToString(ip), "198.18.0.1");
    EXPECT_FALSE(StringToIp("198.18.0", ip));
    EXPECT_FALSE(StringToIp("256.1.1.1", ip));
}

TEST(FormatDiskSize, Boundaries)
{
    EXPECT_EQ(FormatDiskSize(0), "0 MB");
    EXPECT_EQ(FormatDiskSize(500), "500 MB");
    EXPECT_EQ(FormatDiskSize(1023), "1023 MB");
    EXPECT_EQ(FormatDiskSize(1024), "1 GB");
    EXPECT_EQ(FormatDiskSize(1100), "1.07 GB");
    EXPECT_EQ(FormatDiskSize(1536), "1.5 GB");
    EXPECT_EQ(FormatDiskSize(1034), "1 GB");    // 1.0097: two decimals are 00
    EXPECT_EQ(FormatDiskSize(1126), "1.09 GB"); // 1.0996: truncated, not rounded
    EXPECT_EQ(FormatDiskSize(1048575), "1023.99 GB");
    EXPECT_EQ(FormatDiskSize(1048576), "1 TB");
    EXPECT_EQ(FormatDiskSize(2097152), "2 TB");
    EXPECT_EQ(FormatDiskSize(1572864), "1.5 TB");
    EXPECT_EQ(FormatDiskSize(4294967295u), "4095.99 TB");
}

TEST(OsVersion, RecordIsFilledFromTheRunningSystem)
{
    const OsVersionInfo* info = GetOsVersionInfo();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->size, sizeof(OsVersionInfo));
    EXPECT_GT(info->majorVersion, 0u);
}
