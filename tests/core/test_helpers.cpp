#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Process.h"
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

namespace {

// What a stand-in child has open besides its standard descriptors, from its
// own listing of /proc/self/fd (that listing's descriptor left out): one
// "number -> target" line each; "" when nothing. out receives the listing.
std::string ChildsOtherDescriptors(const std::string& out)
{
    ::unlink(out.c_str());
    platform::Process child;
    std::string why;
    if (!child.Start({"ls", "-l", "/proc/self/fd"}, &why, out) || !child.Wait(10000) || child.ExitCode() != 0)
        return "the listing did not run: " + why;
    std::istringstream lines(testsupport::ReadFile(out));
    std::string others;
    for (std::string line; std::getline(lines, line);) {
        const size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos)
            continue;
        const std::string fd = line.substr(line.rfind(' ', arrow - 1) + 1, arrow - line.rfind(' ', arrow - 1) - 1);
        const std::string target = line.substr(arrow + 4);
        const bool listing =
            target.rfind("/proc/", 0) == 0 && target.size() > 3 && target.compare(target.size() - 3, 3, "/fd") == 0;
        if (std::stoi(fd) > 2 && !listing)
            others += fd + " -> " + target + "\n";
    }
    return others;
}

// Makes close_range fail with EINVAL in this process and its children, as
// a kernel before 5.11 refuses its close-on-exec flag.
bool RefuseCloseRange()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_close_range, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

} // namespace

// A child started by the program inherits its standard descriptors and
// nothing else: not a socket a library opened without close-on-exec, not a
// file, even at a high number; a program that cannot be started still says
// why. The same when the kernel refuses close_range's flag.
TEST(Process, ChildInheritsOnlyTheStandardDescriptors)
{
    testsupport::TempDir dir;
    const int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(socket, 0);
    ASSERT_EQ(::dup2(socket, 900), 900);
    testsupport::WriteFile(dir / "held", "x");
    const int file = ::open((dir / "held").c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::fcntl(900, F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_EQ(::fcntl(file, F_GETFD) & FD_CLOEXEC, 0);

    const std::string out = (dir / "fds.txt").string();
    EXPECT_EQ(ChildsOtherDescriptors(out), "") << testsupport::ReadFile(out);
    platform::Process missing;
    std::string why;
    EXPECT_FALSE(missing.Start({(dir / "no such program").string()}, &why));
    EXPECT_EQ(why, std::strerror(ENOENT));

    const pid_t refused = ::fork();
    if (refused == 0) {
        if (!RefuseCloseRange() || ::close_range(3, 3, CLOSE_RANGE_CLOEXEC) == 0)
            _exit(2);
        std::string whyRefused;
        platform::Process again;
        const bool reported =
            !again.Start({(dir / "no such program").string()}, &whyRefused) && whyRefused == std::strerror(ENOENT);
        _exit(ChildsOtherDescriptors(out).empty() && reported ? 0 : 1);
    }
    ASSERT_GT(refused, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(refused, &status, 0), refused);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << testsupport::ReadFile(out);
    ::close(900);
    ::close(socket);
    ::close(file);
}
