#include "UdpResponder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "NasFinder.h"
#include "WakeablePoll.h"
#include "stdafx.h"

namespace testbed {

namespace {

constexpr uint16_t kPcPort = 26214;

uint32_t Ip(const char* text)
{
    uint32_t a = 0;
    StringToIp(text, a);
    return a;
}

void PutBe32(std::vector<unsigned char>& out, uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

// Common reply head: opcode, MAC, the PC's interface address.
std::vector<unsigned char> Head(unsigned char op, const unsigned char mac[6], uint32_t pcAddress)
{
    std::vector<unsigned char> out{op};
    out.insert(out.end(), mac, mac + 6);
    const unsigned char* a = reinterpret_cast<const unsigned char*>(&pcAddress);
    out.insert(out.end(), a, a + 4);
    return out;
}

// Whether source shares a subnet with an address of adapter ifIndex.
bool SameSubnetOnInterface(uint32_t source, int ifIndex)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool same = false;
    char name[IF_NAMESIZE] = {};
    if (if_indextoname(static_cast<unsigned>(ifIndex), name)) {
        for (ifaddrs* a = list; a && !same; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask)
                continue;
            std::string n = a->ifa_name;
            if (n.substr(0, n.find(':')) != name)
                continue;
            uint32_t addr = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
            uint32_t mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
            same = (addr & mask) == (source & mask);
        }
    }
    freeifaddrs(list);
    return same;
}

int PrefixLength(uint32_t mask) { return __builtin_popcount(ntohl(mask)); }

// Runs a program without a shell and waits for it.
int RunProgram(const std::vector<std::string>& args)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

bool DecodePayloadLines(const unsigned char* data, size_t len, std::vector<std::string>& lines)
{
    std::string decoded = Base64Decode(std::string(reinterpret_cast<const char*>(data), len));
    if (decoded.empty())
        return false;
    lines.clear();
    size_t start = 0;
    for (;;) {
        size_t nl = decoded.find('\n', start);
        lines.push_back(decoded.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return true;
}

UdpResponder::UdpResponder(DeviceState& state, uint16_t port) : m_state(state), m_port(port) {}

UdpResponder::~UdpResponder() { Stop(); }

bool UdpResponder::Start(std::string* error)
{
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        Stop();
        return false;
    };
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
        return fail("socket");
    int on = 1, off = 0, ttl = 30;
    setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off);
    setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(m_port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return fail("bind");
    struct if_nameindex* names = if_nameindex();
    for (struct if_nameindex* n = names; n && n->if_index != 0; ++n) {
        for (const char* group : {"239.255.9.10", "224.0.0.1"}) {
            ip_mreqn req{};
            req.imr_multiaddr.s_addr = Ip(group);
            req.imr_ifindex = static_cast<int>(n->if_index);
            setsockopt(m_socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req); // fails on lo: fine
        }
    }
    if (names)
        if_freenameindex(names);
    if (pipe2(m_wake, O_CLOEXEC) != 0)
        return fail("pipe");
    m_thread = std::thread([this] { Run(); });
    return true;
}

void UdpResponder::Stop()
{
    if (m_thread.joinable()) {
        char c = 0;
        (void)!write(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (int* fd : {&m_socket, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void UdpResponder::Run()
{
    while (WaitForInput(m_socket, m_wake[0])) {
        unsigned char buf[1500];
        FinderDatagram d = FinderReceive(m_socket, buf, sizeof buf);
        if (d.length <= 0)
            continue;
        Handle(buf, static_cast<size_t>(d.length), d.source, d.sourcePort, d.destination, d.arrivalIndex);
    }
}

std::vector<unsigned char> UdpResponder::Answer(const unsigned char* req, size_t len, uint32_t source,
                                                NetworkChange* change)
{
    std::vector<unsigned char> out;
    if (len < 7)
        return out;
    DeviceData d = m_state.Snapshot();
    static const unsigned char kAll[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    bool forMe = std::memcmp(req + 1, d.mac, 6) == 0;
    unsigned char op = req[0];
    std::optional<UserAccount> admin = m_state.FindUser("admin");
    std::vector<std::string> lines;
    switch (op) {
    case 0: {
        if (!forMe && std::memcmp(req + 1, kAll, 6) != 0)
            return out;
        out = Head(1, d.mac, source);
        out.push_back(static_cast<unsigned char>(static_cast<signed char>(d.disk1)));
        out.push_back(static_cast<unsigned char>(static_cast<signed char>(d.disk2)));
        size_t l = std::min<size_t>(d.name.size(), 255);
        out.push_back(static_cast<unsigned char>(l));
        out.insert(out.end(), d.name.begin(), d.name.begin() + static_cast<long>(l));
        return out;
    }
    case 2: {
        if (!forMe || len < 20 || len < 20u + req[19])
            return out;
        bool ok =
            DecodePayloadLines(req + 20, req[19], lines) && lines.size() == 2 && admin && lines[1] == admin->password;
        out = Head(3, d.mac, source);
        out.push_back(ok ? 0 : 1);
        if (ok && change) {
            change->requested = true;
            std::memcpy(&change->ip, req + 7, 4);
            std::memcpy(&change->mask, req + 11, 4);
            std::memcpy(&change->gateway, req + 15, 4);
        }
        return out;
    }
    case 4:
    case 10: {
        if (!forMe || len < 8 || len < 8u + req[7])
            return out;
        bool ok = DecodePayloadLines(req + 8, req[7], lines);
        if (op == 4)
            ok = ok && lines.size() == 2 && admin && lines[1] == admin->password;
        else if (ok && lines.size() == 3) {
            std::optional<UserAccount> user = m_state.FindUser(lines[1]);
            ok = user && user->password == lines[2];
        } else
            ok = false;
        out = Head(op + 1, d.mac, source);
        if (!ok) {
            out.push_back(1);
            out.push_back(0);
            return out;
        }
        std::string text = d.faults.rawLoginText ? d.faults.loginText : Base64Encode(d.community);
        if (text.size() > 255)
            text.resize(255);
        out.push_back(0);
        out.push_back(static_cast<unsigned char>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
        return out;
    }
    case 6: {
        if (!forMe)
            return out;
        ProgressAnswer p = m_state.NextProgress();
        out = Head(7, d.mac, source);
        out.push_back(static_cast<unsigned char>(p.status));
        PutBe32(out, p.done);
        PutBe32(out, p.total);
        return out;
    }
    case 8: {
        if (!forMe)
            return out;
        out = Head(9, d.mac, source);
        out.push_back(static_cast<unsigned char>(m_state.NextInstallStatus()));
        return out;
    }
    default: return out;
    }
}

void UdpResponder::Handle(const unsigned char* req, size_t len, uint32_t source, uint16_t sourcePort,
                          uint32_t destination, int ifIndex)
{
    bool multicast = IN_MULTICAST(ntohl(destination));
    DeviceData before = m_state.Snapshot();
    if (multicast &&
        std::find(before.answerGroups.begin(), before.answerGroups.end(), destination) == before.answerGroups.end())
        return;

    RequestRecord record;
    record.op = len > 0 ? req[0] : -1;
    record.source = source;
    record.destination = destination;
    if (len >= 7)
        std::memcpy(record.mac, req + 1, 6);
    if (len >= 20 && record.op == 2) {
        std::memcpy(&record.ip, req + 7, 4);
        std::memcpy(&record.mask, req + 11, 4);
        std::memcpy(&record.gateway, req + 15, 4);
        record.payload.assign(reinterpret_cast<const char*>(req + 20), std::min<size_t>(req[19], len - 20));
    } else if (len >= 8 && (record.op == 4 || record.op == 10)) {
        record.payload.assign(reinterpret_cast<const char*>(req + 8), std::min<size_t>(req[7], len - 8));
    }

    NetworkChange change;
    std::vector<unsigned char> reply;
    const UdpFaults& faults = before.faults;
    if (!faults.silent && !before.rebooting)
        reply = Answer(req, len, source, &change);
    record.answered = !reply.empty();
    m_state.With([&](DeviceData& d) { d.requests.push_back(record); });
    if (reply.empty())
        return;

    if (faults.otherMac)
        std::memcpy(reply.data() + 1, faults.mac, 6);
    if (faults.otherInterface)
        std::memcpy(reply.data() + 7, &faults.interfaceAddress, 4);
    if (faults.status >= 0 && reply.size() > 11 && reply[0] != 1)
        reply[11] = static_cast<unsigned char>(faults.status);
    if (faults.shortLength >= 0 && reply.size() > static_cast<size_t>(faults.shortLength))
        reply.resize(static_cast<size_t>(faults.shortLength));
    reply.resize(reply.size() + static_cast<size_t>(faults.padBytes));
    if (faults.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults.delayMs));

    ssize_t sent;
    uint32_t to = source;
    if (SameSubnetOnInterface(source, ifIndex)) {
        sent = FinderSend(m_socket, source, sourcePort, reply.data(), reply.size(), nullptr);
    } else {
        // No route back to the PC's subnet: answer to all hosts on the link.
        to = Ip("224.0.0.1");
        in_pktinfo info{};
        info.ipi_ifindex = ifIndex;
        sent = FinderSend(m_socket, to, kPcPort, reply.data(), reply.size(), &info);
    }
    if (sent < 0)
        DebugTrace("testbed: reply to %s failed: %s\n", IpToString(to).c_str(), std::strerror(errno));

    if (change.requested)
        ApplyNetwork(change, ifIndex);
}

void UdpResponder::ApplyNetwork(const NetworkChange& change, int ifIndex)
{
    DeviceData d = m_state.Snapshot();
    if (m_state.Setting("ignore_network") == "1")
        return; // answers, and stays where it is
    uint32_t ip = change.ip, mask = change.mask, gateway = change.gateway;
    if (ip == 0 && mask == 0 && gateway == 0) {
        // DHCP: takes what the configured server would hand out, if anything.
        if (d.dhcpAddress == 0)
            return;
        ip = d.dhcpAddress;
        mask = d.dhcpMask ? d.dhcpMask : htonl(0xFFFFFF00u);
        gateway = d.dhcpGateway;
    }
    m_state.SetNetwork(ip, mask, gateway);
    char name[IF_NAMESIZE] = {};
    if (!d.applyNetwork || !if_indextoname(static_cast<unsigned>(ifIndex), name))
        return;
    std::string cidr = IpToString(ip) + "/" + std::to_string(PrefixLength(mask));
    RunProgram({"ip", "addr", "flush", "dev", name});
    RunProgram({"ip", "addr", "add", cidr, "dev", name});
    if (gateway != 0)
        RunProgram({"ip", "route", "replace", "default", "via", IpToString(gateway), "dev", name});
}

} // namespace testbed
