#include "NasFinder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <ifaddrs.h>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Clock.h"
#include "stdafx.h"

namespace {

struct FinderTable {
    int socket = -1;
    std::vector<FinderInterface> entries;

    FinderTable() = default;
    FinderTable(const FinderTable&) = delete;
    FinderTable& operator=(const FinderTable&) = delete;
    ~FinderTable()
    {
        if (socket >= 0)
            close(socket);
    }
};

// The table and whether FinderInit is building one. Operations take a
// reference to the table under the lock, so a FinderCleanup from another
// thread never closes the socket under a running request.
std::mutex g_tableLock;
std::shared_ptr<FinderTable> g_table;
bool g_building = false;

std::shared_ptr<FinderTable> CurrentTable()
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    return g_table;
}

uint32_t LoopbackAddress() { return htonl(INADDR_LOOPBACK); }

// A byte of a reply that holds a small signed number (two's complement).
int32_t SignedByte(unsigned char b) { return b < 0x80 ? b : b - 256; }

// Milliseconds since start on the wrapping tick.
uint32_t Elapsed(uint32_t start)
{
    return FinderTick() - start; // unsigned: a wrap counts the distance across it
}

// Remaining wait of a time-out, 0 when none is left.
int Remaining(uint32_t start, int timeoutMs)
{
    if (timeoutMs <= 0)
        return 0;
    uint32_t elapsed = Elapsed(start);
    if (elapsed >= static_cast<uint32_t>(timeoutMs))
        return 0;
    return timeoutMs - static_cast<int>(elapsed);
}

// Sends one datagram from the table's socket with the entry's address as
// source; multicast leaves through the entry's adapter.
bool SendFrom(const FinderTable& table, const FinderInterface& entry, uint32_t destination, const unsigned char* data,
              size_t len)
{
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = entry.address;
    if (IN_MULTICAST(ntohl(destination)))
        info.ipi_ifindex = static_cast<int>(entry.interfaceIndex);
    if (FinderSend(table.socket, destination, FINDER_DEVICE_PORT, data, len, &info) != static_cast<ssize_t>(len)) {
        DebugTrace("finder: send to %s from %s failed: %s\n", IpToString(destination).c_str(),
                   IpToString(entry.address).c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// A datagram for the table: one longer than the buffer is no reply of ours
// (its cut head must not pass for a short one), and one without IP_PKTINFO
// cannot be placed on an entry; both count as nothing received.
FinderDatagram ReceiveOne(const FinderTable& table, unsigned char* buf, size_t size)
{
    FinderDatagram d = FinderReceive(table.socket, buf, size);
    if (d.truncated || !d.havePktinfo)
        d.length = -1;
    return d;
}

// The entry a datagram was accepted on: among the entries that received it
// (the owner of its unicast destination, or every entry of the adapter a
// multicast came in on), the one whose address stands in bytes 7-10.
// -1 when none.
int AcceptingEntry(const FinderTable& table, const FinderDatagram& d, const unsigned char* buf)
{
    if (d.length < 11)
        return -1;
    uint32_t named;
    std::memcpy(&named, buf + 7, 4);
    bool multicast = IN_MULTICAST(ntohl(d.destination));
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const FinderInterface& e = table.entries[i];
        bool received =
            multicast ? e.interfaceIndex == static_cast<uint32_t>(d.arrivalIndex) : e.address == d.destination;
        if (received && e.address == named)
            return static_cast<int>(i);
    }
    return -1;
}

uint32_t GroupAddress(const char* text)
{
    uint32_t a = 0;
    StringToIp(text, a);
    return a;
}

// Interface for a unicast operation: the entry with the record's local
// address, else the first on the record's local network; null when none.
const FinderInterface* SelectInterface(const FinderTable& table, const NasInfo* dev)
{
    for (const FinderInterface& e : table.entries)
        if (e.address == dev->localAddress)
            return &e;
    for (const FinderInterface& e : table.entries)
        if ((e.address & e.mask) == dev->GetLocalNetwork())
            return &e;
    return nullptr;
}

// Sends a unicast-operation request and waits for its reply. Returns the
// reply length (>= minimum) or a negative code.
int Exchange(const FinderTable& table, const FinderInterface& entry, const NasInfo* dev, const unsigned char* request,
             size_t requestLen, unsigned char replyOp, size_t minimum, unsigned char* buf, size_t bufSize,
             int timeoutMs)
{
    uint32_t destination = GroupAddress(FINDER_GROUP_ALL_HOSTS);
    if ((entry.address & entry.mask) == (dev->deviceAddress & entry.mask))
        destination = dev->deviceAddress;
    if (!SendFrom(table, entry, destination, request, requestLen))
        return FINDER_ERR_SOCKET;
    uint32_t start = FinderTick();
    for (;;) {
        int left = Remaining(start, timeoutMs);
        if (left <= 0)
            return FINDER_ERR_TIMEOUT;
        pollfd p{table.socket, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(platform::RealMs(left)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return FINDER_ERR_SOCKET;
        }
        if (r == 0)
            return FINDER_ERR_TIMEOUT;
        FinderDatagram d = ReceiveOne(table, buf, bufSize);
        if (d.length < 0)
            continue;
        // A request sent to the device itself is answered by the device
        // itself: other hosts on the LAN cannot slip in a reply. Over
        // multicast the MAC is all there is to check.
        if (destination == dev->deviceAddress && d.source != destination)
            continue;
        int index = AcceptingEntry(table, d, buf);
        if (index < 0 || table.entries[static_cast<size_t>(index)].address != entry.address)
            continue;
        if (!FinderReplyMatches(buf, static_cast<size_t>(d.length), replyOp, minimum, entry.address, dev->mac))
            continue;
        return static_cast<int>(d.length);
    }
}

int BuildPayloadLines(char* out, unsigned interfaceAddress, const char* const* texts, int count)
{
    std::string joined = IpToString(interfaceAddress);
    for (int i = 0; i < count; ++i) {
        joined += '\n';
        joined += texts[i] ? texts[i] : "";
    }
    if (joined.size() > FINDER_MAX_PAYLOAD_TEXT)
        return FINDER_ERR_TOO_LONG;
    int n = Base64Encode(out, FINDER_PAYLOAD_BUFFER, joined.data(), static_cast<int>(joined.size()));
    return n < 0 ? FINDER_ERR_TOO_LONG : n;
}

// The interface table and its entry that reaches the device, for the
// requests sent to one device; FINDER_OK or the code that stops the request.
int Route(const NasInfo* dev, std::shared_ptr<FinderTable>& table, const FinderInterface*& entry)
{
    table = CurrentTable();
    if (!table)
        return FINDER_ERR_NOT_INIT;
    entry = dev ? SelectInterface(*table, dev) : nullptr;
    return entry ? FINDER_OK : FINDER_ERR_NO_INTERFACE;
}

// A unicast request to one device: the opcode, the device's MAC, the fixed
// `fields`, then, when `payload` is given, a length byte and the payload it
// writes for the address of the interface that reaches the device. The
// reply's length (>= minimum), or a negative code.
int DeviceRequest(const NasInfo* dev, unsigned char op, const void* fields, size_t fieldsLen,
                  const std::function<int(char* out, unsigned interfaceAddress)>& payload, size_t minimum,
                  unsigned char* reply, size_t replySize, int timeoutMs)
{
    std::shared_ptr<FinderTable> table;
    const FinderInterface* entry = nullptr;
    if (int rc = Route(dev, table, entry); rc != FINDER_OK)
        return rc;
    unsigned char request[7 + 12 + 1 + FINDER_PAYLOAD_BUFFER];
    if (fieldsLen > 12)
        return FINDER_ERR_TOO_LONG;
    request[0] = op;
    std::memcpy(request + 1, dev->mac, 6);
    size_t length = 7;
    if (fieldsLen)
        std::memcpy(request + length, fields, fieldsLen);
    length += fieldsLen;
    if (payload) {
        int n = payload(reinterpret_cast<char*>(request + length + 1), entry->address);
        if (n < 0)
            return n;
        request[length] = static_cast<unsigned char>(n);
        length += 1 + static_cast<size_t>(n);
    }
    return Exchange(*table, *entry, dev, request, length, static_cast<unsigned char>(op + 1), minimum, reply, replySize,
                    timeoutMs);
}

// Opcodes 4 and 10 share everything but the request.
int Login(const NasInfo* dev, unsigned char op, const char* user, const char* password, int timeoutMs, char* community)
{
    unsigned char reply[269];
    size_t size = op == FINDER_OP_ADMIN_LOGIN ? 264 : 269;
    int len = DeviceRequest(
        dev, op, nullptr, 0,
        [&](char* out, unsigned address) {
            return op == FINDER_OP_ADMIN_LOGIN ? FinderBuildPayload(out, address, password)
                                               : FinderBuildPayload2(out, address, user, password);
        },
        13, reply, size, timeoutMs);
    if (len < 0)
        return len;
    char scratch[256];
    return FinderParseLoginReply(reply, static_cast<size_t>(len), community ? community : scratch);
}

} // namespace

uint32_t FinderTick() { return static_cast<uint32_t>(platform::TickMs()); }

FinderDatagram FinderReceive(int socket, unsigned char* buf, size_t size)
{
    FinderDatagram d;
    sockaddr_in from{};
    iovec iov{buf, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + 64];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(socket, &msg, MSG_DONTWAIT);
    if (n < 0)
        return d;
    for (cmsghdr* cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level == IPPROTO_IP && cm->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(cm), sizeof info);
            d.destination = info.ipi_addr.s_addr;
            d.arrivalIndex = info.ipi_ifindex;
            d.havePktinfo = true;
        }
    }
    d.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
    d.length = std::min<ssize_t>(n, static_cast<ssize_t>(size));
    d.source = from.sin_addr.s_addr;
    d.sourcePort = ntohs(from.sin_port);
    return d;
}

ssize_t FinderSend(int socket, uint32_t destination, uint16_t port, const void* data, size_t len,
                   const in_pktinfo* pktinfo)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = destination;
    iovec iov{const_cast<void*>(data), len};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (pktinfo) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cm = CMSG_FIRSTHDR(&msg);
        cm->cmsg_level = IPPROTO_IP;
        cm->cmsg_type = IP_PKTINFO;
        cm->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        std::memcpy(CMSG_DATA(cm), pktinfo, sizeof *pktinfo);
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &msg, 0);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

std::list<FinderInterface> FinderGetInterfaces()
{
    std::shared_ptr<FinderTable> table = CurrentTable();
    if (!table)
        return {};
    return {table->entries.begin(), table->entries.end()};
}

int FinderInit()
{
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        if (g_table || g_building)
            return FINDER_ERR_ALREADY_INIT;
        g_building = true;
    }
    // Whatever happens below, the building mark goes and only a complete
    // table is published.
    auto table = std::make_shared<FinderTable>();
    auto finish = [&](int code) {
        std::lock_guard<std::mutex> lock(g_tableLock);
        g_building = false;
        if (code == FINDER_OK)
            g_table = table;
        return code;
    };

    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return finish(FINDER_ERR_SOCKET);
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask)
            continue;
        if (!(a->ifa_flags & IFF_UP) || !(a->ifa_flags & IFF_MULTICAST))
            continue;
        uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        uint32_t mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
        if ((address & mask) == 0 || address == LoopbackAddress())
            continue;
        // Secondary addresses carry labels such as "eth0:1".
        std::string name = a->ifa_name;
        name = name.substr(0, name.find(':'));
        unsigned index = if_nametoindex(name.c_str());
        if (index == 0)
            continue;
        table->entries.push_back(FinderInterface{-1, address, mask, index});
    }
    freeifaddrs(list);
    if (table->entries.empty())
        return finish(FINDER_ERR_NO_INTERFACE);

    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return finish(FINDER_ERR_SOCKET);
    table->socket = s;
    int on = 1, off = 0, ttl = FINDER_MULTICAST_TTL;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(FINDER_LOCAL_PORT);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &off, sizeof off) != 0 ||
        setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
        DebugTrace("finder: socket set-up failed: %s\n", std::strerror(errno));
        return finish(FINDER_ERR_SOCKET);
    }
    const uint32_t groups[2] = {GroupAddress(FINDER_GROUP_NAS), GroupAddress(FINDER_GROUP_ALL_HOSTS)};
    for (FinderInterface& e : table->entries) {
        e.socket = s;
        for (uint32_t group : groups) {
            ip_mreqn req{};
            req.imr_multiaddr.s_addr = group;
            req.imr_address.s_addr = e.address;
            req.imr_ifindex = static_cast<int>(e.interfaceIndex);
            // Several addresses of one adapter share one membership.
            if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) != 0 && errno != EADDRINUSE) {
                DebugTrace("finder: joining a group on %s failed: %s\n", IpToString(e.address).c_str(),
                           std::strerror(errno));
                return finish(FINDER_ERR_SOCKET);
            }
        }
        // Give the membership reports time to go out before the first request.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return finish(FINDER_OK);
}

void FinderCleanup()
{
    std::shared_ptr<FinderTable> old;
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        old.swap(g_table);
    }
    // The socket closes when the last running operation lets go of it.
}

int FinderDiscover(std::list<NasInfo>& out, int timeoutMs, const unsigned char* mac)
{
    out.clear();
    std::shared_ptr<FinderTable> table = CurrentTable();
    if (!table)
        return FINDER_ERR_NOT_INIT;
    unsigned char request[7];
    request[0] = FINDER_OP_DISCOVER;
    if (mac)
        std::memcpy(request + 1, mac, 6);
    else
        std::memset(request + 1, 0xFF, 6);
    for (const FinderInterface& e : table->entries) {
        if (!SendFrom(*table, e, GroupAddress(FINDER_GROUP_ALL_HOSTS), request, sizeof request) ||
            !SendFrom(*table, e, GroupAddress(FINDER_GROUP_NAS), request, sizeof request))
            return FINDER_ERR_SOCKET;
    }
    uint32_t start = FinderTick();
    for (;;) {
        int left = Remaining(start, timeoutMs);
        if (left <= 0)
            break;
        pollfd p{table->socket, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(platform::RealMs(left)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            out.clear();
            return FINDER_ERR_SOCKET;
        }
        if (r == 0)
            break;
        unsigned char buf[FINDER_DISCOVER_BUFFER];
        FinderDatagram d = ReceiveOne(*table, buf, sizeof buf);
        if (d.length < 0)
            continue;
        int index = AcceptingEntry(*table, d, buf);
        if (index < 0)
            continue;
        const FinderInterface& entry = table->entries[static_cast<size_t>(index)];
        // A targeted scan keeps only the answers of its device.
        if (!FinderReplyMatches(buf, static_cast<size_t>(d.length), FINDER_OP_DISCOVER + 1, 15, entry.address, mac))
            continue;
        NasInfo info{};
        if (!FinderParseDiscoverReply(buf, static_cast<size_t>(d.length), info))
            continue;
        info.deviceAddress = d.source;
        info.localAddress = entry.address;
        info.localMask = entry.mask;
        if (!info.IsSameSubnet()) {
            // Another address of the same adapter may share the device's subnet.
            for (const FinderInterface& other : table->entries) {
                if (other.interfaceIndex == entry.interfaceIndex &&
                    (other.address & other.mask) == (info.deviceAddress & other.mask)) {
                    info.localAddress = other.address;
                    info.localMask = other.mask;
                    break;
                }
            }
        }
        out.push_back(info);
        if (mac && info.IsSameSubnet())
            break;
    }
    return static_cast<int>(out.size());
}

int FinderSetNetwork(const NasInfo* dev, unsigned ip, unsigned mask, unsigned gateway, const char* password,
                     int timeoutMs)
{
    unsigned char fields[12];
    std::memcpy(fields, &ip, 4);
    std::memcpy(fields + 4, &mask, 4);
    std::memcpy(fields + 8, &gateway, 4);
    unsigned char reply[276];
    int len = DeviceRequest(
        dev, FINDER_OP_SET_NETWORK, fields, sizeof fields,
        [password](char* out, unsigned address) { return FinderBuildPayload(out, address, password); }, 12, reply,
        sizeof reply, timeoutMs);
    if (len < 0)
        return len;
    return reply[11] == 1 ? FINDER_ERR_REFUSED : FINDER_OK;
}

int FinderQuery(const NasInfo* dev, const char* password, int timeoutMs, char* community)
{
    return Login(dev, FINDER_OP_ADMIN_LOGIN, nullptr, password, timeoutMs, community);
}

int FinderQuery2(const NasInfo* dev, const char* user, const char* password, int timeoutMs, char* community)
{
    return Login(dev, FINDER_OP_USER_LOGIN, user, password, timeoutMs, community);
}

namespace {

// Requests that carry only the opcode and the MAC (progress, status): the
// reply's length, or a negative code.
int MacOnlyRequest(const NasInfo* dev, unsigned char op, unsigned char* reply, size_t replySize, int timeoutMs)
{
    return DeviceRequest(dev, op, nullptr, 0, nullptr, replySize, reply, replySize, timeoutMs);
}

} // namespace

int FinderGetProgress(const NasInfo* dev, unsigned* value1, unsigned* value2, int timeoutMs)
{
    unsigned char reply[20];
    int len = MacOnlyRequest(dev, FINDER_OP_PROGRESS, reply, sizeof reply, timeoutMs);
    if (len < 0)
        return len;
    unsigned v1 = 0, v2 = 0;
    int status = FinderParseProgressReply(reply, static_cast<size_t>(len), &v1, &v2);
    if (value1)
        *value1 = v1;
    if (value2)
        *value2 = v2;
    return status;
}

int FinderPollStatus(const NasInfo* dev, int timeoutMs)
{
    unsigned char reply[12];
    int len = MacOnlyRequest(dev, FINDER_OP_STATUS, reply, sizeof reply, timeoutMs);
    if (len < 0)
        return len;
    return reply[11];
}

int FinderBuildPayload(char* out, unsigned interfaceAddress, const char* text)
{
    const char* texts[1] = {text};
    return BuildPayloadLines(out, interfaceAddress, texts, 1);
}

int FinderBuildPayload2(char* out, unsigned interfaceAddress, const char* text1, const char* text2)
{
    const char* texts[2] = {text1, text2};
    return BuildPayloadLines(out, interfaceAddress, texts, 2);
}

bool FinderReplyMatches(const unsigned char* data, size_t len, unsigned char replyOp, size_t minimum,
                        uint32_t ifAddress, const unsigned char* mac)
{
    if (len < minimum || len < 11 || data[0] != replyOp)
        return false;
    if (std::memcmp(data + 7, &ifAddress, 4) != 0)
        return false;
    return !mac || std::memcmp(data + 1, mac, 6) == 0;
}

bool FinderParseDiscoverReply(const unsigned char* data, size_t len, NasInfo& info)
{
    if (len < 15)
        return false;
    std::memcpy(info.mac, data + 1, 6);
    info.disk1State = SignedByte(data[11]);
    info.disk2State = SignedByte(data[12]);
    size_t nameLen = std::min<size_t>(data[13], len - 14);
    std::memcpy(info.name, data + 14, nameLen);
    info.name[nameLen] = '\0';
    return true;
}

int FinderParseLoginReply(const unsigned char* data, size_t len, char* community)
{
    if (len < 13)
        return FINDER_ERR_TIMEOUT; // never accepted by the operations
    if (data[11] == 1)
        return FINDER_ERR_REFUSED;
    size_t textLen = std::min<size_t>(data[12], len - 13);
    char text[256];
    std::memcpy(text, data + 13, textLen);
    text[textLen] = '\0';
    char decoded[256];
    int n = Base64Decode(decoded, sizeof decoded, text);
    if (n < 0)
        return FINDER_ERR_BAD_REPLY;
    std::memcpy(community, decoded, static_cast<size_t>(n) + 1);
    return FINDER_OK;
}

int FinderParseProgressReply(const unsigned char* data, size_t len, unsigned* value1, unsigned* value2)
{
    if (len < 20)
        return FINDER_ERR_TIMEOUT; // never accepted by the operations
    auto be32 = [](const unsigned char* p) {
        return (static_cast<unsigned>(p[0]) << 24) | (static_cast<unsigned>(p[1]) << 16) |
               (static_cast<unsigned>(p[2]) << 8) | p[3];
    };
    *value1 = be32(data + 12);
    *value2 = be32(data + 16);
    return data[11];
}
