#include "EmulatedNas.h"

#include <gtest/gtest.h>

#include <cstring>
#include <list>

#include "Clock.h"
#include "NasFinder.h"
#include "SnmpHelpers.h"
#include "stdafx.h"

namespace testsupport {
namespace {

// The test's own exchanges with the device wait in real time, whatever clock
// the test runs the program on.
struct RealTime {
    platform::SystemClock clock;
    platform::ScopedClock scoped{clock};
};

} // namespace

EmulatedNas::EmulatedNas(const std::string& config, const std::vector<std::string>& options)
{
    link = net.AddLink({std::string(kPcAddress) + "/24"});
    host = net.AddHost(link, std::string(kAddress) + "/24");
    dev = net.StartEmulator(host, config, options);
}

EmulatedNas::~EmulatedNas() { FinderCleanup(); }

bool EmulatedNas::Discover(NasInfo& out, int timeoutMs)
{
    const RealTime realTime;
    std::list<NasInfo> found;
    FinderCleanup();
    if (FinderInit() != 0)
        return false;
    FinderDiscover(found, timeoutMs, nullptr);
    FinderCleanup();
    if (found.empty())
        return false;
    out = found.front();
    m_info = out;
    m_known = true;
    return true;
}

bool EmulatedNas::Known(NasInfo& info)
{
    if (!m_known && !Discover(info))
        return false;
    info = m_info;
    return true;
}

NasInfo EmulatedNas::Find()
{
    NasInfo info{};
    EXPECT_TRUE(Discover(info)) << "the device does not answer discovery";
    return info;
}

int EmulatedNas::Login(const std::string& user, const std::string& password, std::string* community)
{
    char text[256] = {};
    int rc = Ask([&](NasInfo* info) {
        return user == "admin" ? FinderQuery(info, password.c_str(), 2000, text)
                               : FinderQuery2(info, user.c_str(), password.c_str(), 2000, text);
    });
    if (rc == 0 && community)
        *community = text;
    return rc;
}

int EmulatedNas::Ask(const std::function<int(NasInfo*)>& request)
{
    NasInfo info{};
    if (!Known(info))
        return FINDER_ERR_TIMEOUT;
    const RealTime realTime;
    if (FinderInit() != 0)
        return FINDER_ERR_SOCKET;
    int rc = request(&info);
    FinderCleanup();
    return rc;
}

int EmulatedNas::Progress(unsigned* done, unsigned* total, int timeoutMs)
{
    return Ask([&](NasInfo* info) { return FinderGetProgress(info, done, total, timeoutMs); });
}

int EmulatedNas::Status(int timeoutMs)
{
    return Ask([&](NasInfo* info) { return FinderPollStatus(info, timeoutMs); });
}

void EmulatedNas::LogInContext(const std::string& user, const std::string& password)
{
    std::string community;
    ASSERT_EQ(Login(user, password, &community), 0) << user;
    NasInfo info = m_info;
    CNasContext* ctx = GetNasContext();
    ctx->Lock();
    ctx->m_deviceAddress = IpToString(info.deviceAddress);
    ctx->m_macText = MacToString(info.mac);
    ctx->m_user = user;
    ctx->m_password = password;
    ctx->m_community = community;
    ctx->Unlock();
}

std::string DiskRoots(const std::filesystem::path& dir)
{
    return "disk1_root = " + (dir / "disk1").string() + "\ndisk2_root = " + (dir / "disk2").string() + "\n";
}

CSnmpEngine EmulatedNas::Engine(const std::string& community) const
{
    CSnmpEngine engine = DeviceEngine(kAddress, community);
    engine.SetTimeout(50);
    engine.SetRetries(0);
    return engine;
}

std::string EmulatedNas::Tool(const std::string& tool, const std::string& community, const std::string& args,
                              int* status, const std::string& timing) const
{
    return RunCommand(tool + " -v1 -c '" + community + "' -On " + timing + " " + kAddress + " " + args + " 2>&1",
                      status);
}

} // namespace testsupport
