// Malformed answers into CSnmpEngine: a fake agent on loopback answers each
// request either with the input's raw bytes (followed by a proper error
// answer, so nobody waits for a time-out), or with the input decoded as an
// SNMP message and re-addressed to the request, so that arbitrary bindings,
// types, lengths and error codes reach the engine's answer handling. The
// engine must return a code and keep every text inside its buffer.
#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "y_snmp.h"

namespace {

std::mutex g_lock;
std::vector<uint8_t> g_input;
int g_fd = -1;
uint16_t g_port = 0;

netsnmp_pdu* Parse(const uint8_t* data, size_t size)
{
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    auto* pdu = static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu)));
    std::vector<u_char> copy(data, data + size);
    if (snmp_parse(nullptr, &session, pdu, copy.data(), copy.size()) != 0) {
        snmp_free_pdu(pdu);
        return nullptr;
    }
    return pdu;
}

std::string Build(netsnmp_pdu* pdu, const netsnmp_pdu* request)
{
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    session.community = request->community;
    session.community_len = request->community_len;
    pdu->version = SNMP_VERSION_1;
    pdu->command = SNMP_MSG_RESPONSE;
    pdu->reqid = request->reqid;
    SNMP_FREE(pdu->community);
    pdu->community_len = 0;
    size_t size = 2048, offset = 0;
    auto* out = static_cast<u_char*>(malloc(size));
    std::string bytes;
    if (snmp_build(&out, &size, &offset, &session, pdu) == 0)
        bytes.assign(reinterpret_cast<char*>(out + size - offset), offset);
    free(out);
    return bytes;
}

void Serve()
{
    std::vector<uint8_t> buf(65536);
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(g_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0)
            continue;
        netsnmp_pdu* request = Parse(buf.data(), static_cast<size_t>(n));
        if (!request)
            continue;
        std::vector<uint8_t> input;
        {
            std::lock_guard<std::mutex> lock(g_lock);
            input = g_input;
        }
        auto send = [&](const std::string& bytes) {
            if (!bytes.empty())
                sendto(g_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        };
        bool decoded = false;
        if (!input.empty() && (input[0] & 1)) {
            if (netsnmp_pdu* answer = Parse(input.data() + 1, input.size() - 1)) {
                send(Build(answer, request));
                snmp_free_pdu(answer);
                decoded = true;
            }
        } else if (!input.empty()) {
            send(std::string(reinterpret_cast<const char*>(input.data()) + 1, input.size() - 1));
        }
        if (!decoded) {
            auto* error = static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu)));
            error->errstat = SNMP_ERR_GENERR;
            error->errindex = 1;
            send(Build(error, request));
            snmp_free_pdu(error);
        }
        snmp_free_pdu(request);
    }
}

void Check(const char* buf, unsigned size)
{
    if (std::memchr(buf, 0, size) == nullptr)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool started = [] {
        InitSnmpLibrary();
        g_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(g_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t len = sizeof sa;
        getsockname(g_fd, reinterpret_cast<sockaddr*>(&sa), &len);
        g_port = ntohs(sa.sin_port);
        std::thread(Serve).detach();
        return true;
    }();
    (void)started;
    if (size < 1 || size > 4096)
        return 0;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_input.assign(data, data + size);
    }
    CSnmpEngine engine;
    engine.SetAddress("127.0.0.1");
    engine.SetPort(g_port);
    engine.SetTimeout(20);
    engine.SetRetries(0);

    int rc = 0;
    switch ((data[0] >> 1) % 4) {
    case 0: {
        char next[24] = {}, value[16] = {}; // left as they are on failures
        rc = engine.GetNext("1.3.6.1.2.1.21.5.1.5", next, sizeof next, value, sizeof value, "1.3.6.1.2.1.21.5.1.5");
        Check(next, sizeof next);
        Check(value, sizeof value);
        break;
    }
    case 1: {
        const char* oids[2] = {"1.3.6.1.2.1.21.1.1.10.1", "1.3.6.1.2.1.21.1.1.10.2"};
        char v1[8], v2[8];
        char* values[2] = {v1, v2};
        std::memset(v1, 0, sizeof v1);
        std::memset(v2, 0, sizeof v2);
        rc = engine.MultiGet(2, oids, values, sizeof v1);
        Check(v1, sizeof v1);
        Check(v2, sizeof v2);
        break;
    }
    case 2: {
        std::list<std::string> oids{"1.3.6.1.2.1.19.1.0"}, values;
        rc = engine.MultiGet(oids, values);
        for (const auto& v : values) {
            if (v.size() > 254)
                std::abort();
        }
        break;
    }
    default: rc = engine.SimpleSet("1.3.6.1.2.1.19.1.0", "name"); break;
    }
    if (rc == 1 && (data[0] >> 1) % 4 != 0)
        std::abort(); // 1 only ever means "end of the walk"
    return 0;
}
