#include "SnmpAgent.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "FormApply.h"

namespace testbed {

namespace {

struct PduHolder {
    netsnmp_pdu* pdu = nullptr;
    ~PduHolder()
    {
        if (pdu)
            snmp_free_pdu(pdu);
    }
};

// A request's value as the store keeps it; false for syntaxes the store does
// not hold.
bool ValueOf(const netsnmp_variable_list* var, MibValue& out)
{
    MibValue v;
    v.syntax = var->type;
    switch (var->type) {
    case ASN_INTEGER:
        if (!var->val.integer)
            return false;
        v.number = static_cast<int32_t>(*var->val.integer);
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
        if (!var->val.integer)
            return false;
        v.number = static_cast<uint32_t>(*var->val.integer);
        break;
    case ASN_OCTET_STR:
    case ASN_OPAQUE:
    case ASN_IPADDRESS:
        if (var->val_len && !var->val.string)
            return false;
        if (var->val_len)
            v.bytes.assign(reinterpret_cast<const char*>(var->val.string), var->val_len);
        if (var->type == ASN_IPADDRESS && v.bytes.size() != 4)
            return false;
        break;
    case ASN_OBJECT_ID:
        if (!var->val.objid)
            return false;
        v.oid.assign(var->val.objid, var->val.objid + var->val_len / sizeof(oid));
        break;
    case ASN_NULL: break;
    default: return false;
    }
    out = std::move(v);
    return true;
}

bool AddValue(netsnmp_pdu* pdu, const Oid& name, const MibValue& value)
{
    std::vector<oid> n(name.begin(), name.end());
    switch (value.syntax) {
    case sNMP_SYNTAX_INT:
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS: {
        long v = static_cast<long>(value.number);
        return snmp_pdu_add_variable(pdu, n.data(), n.size(), static_cast<u_char>(value.syntax), &v, sizeof v);
    }
    case sNMP_SYNTAX_OID: {
        std::vector<oid> v(value.oid.begin(), value.oid.end());
        return snmp_pdu_add_variable(pdu, n.data(), n.size(), ASN_OBJECT_ID, v.data(), v.size() * sizeof(oid));
    }
    case sNMP_SYNTAX_NULL: return snmp_add_null_var(pdu, n.data(), n.size());
    default:
        return snmp_pdu_add_variable(pdu, n.data(), n.size(), static_cast<u_char>(value.syntax), value.bytes.data(),
                                     value.bytes.size());
    }
}

Oid NameOf(const netsnmp_variable_list* var) { return Oid(var->name, var->name + var->name_length); }

// Copies the request's bindings unchanged (the body of a version 1 error).
bool CopyBindings(netsnmp_pdu* to, const netsnmp_pdu* from)
{
    for (const netsnmp_variable_list* v = from->variables; v; v = v->next_variable) {
        if (!snmp_pdu_add_variable(to, v->name, v->name_length, v->type, v->val.string, v->val_len))
            return false;
    }
    return true;
}

} // namespace

SnmpAgent::SnmpAgent(MibStore& store) : m_store(store) { InitSnmpLibrary(); }

SnmpAgent::~SnmpAgent() { Stop(); }

bool SnmpAgent::Start(const std::string& address, uint16_t port, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        if (m_fd >= 0)
            close(m_fd);
        if (m_wake >= 0)
            close(m_wake);
        m_fd = m_wake = -1;
        return false;
    };
    if (m_fd >= 0)
        return fail("already running");
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        return fail("not an IPv4 address: " + address);
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return fail(std::string("socket: ") + std::strerror(errno));
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return fail("bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno));
    socklen_t len = sizeof sa;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    m_wake = eventfd(0, EFD_CLOEXEC);
    if (m_wake < 0)
        return fail(std::string("eventfd: ") + std::strerror(errno));
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SnmpAgent::Stop()
{
    if (m_fd < 0)
        return;
    uint64_t one = 1;
    if (write(m_wake, &one, sizeof one) < 0) {
        // The loop also wakes on its poll time-out.
    }
    if (m_thread.joinable())
        m_thread.join();
    close(m_fd);
    close(m_wake);
    m_fd = m_wake = -1;
}

void SnmpAgent::Run()
{
    std::vector<uint8_t> buf(65536);
    std::string reply;
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        int n = poll(fds, 2, 1000);
        if (n < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (n <= 0 || !(fds[0].revents & POLLIN))
            continue;
        sockaddr_storage from{};
        socklen_t fromLen = sizeof from;
        ssize_t got = recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 0)
            continue;
        if (HandleDatagram(buf.data(), static_cast<size_t>(got), reply)) {
            for (int copies = m_repeat ? 2 : 1; copies > 0; --copies) {
                if (sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen) >= 0)
                    ++m_answers;
            }
        }
    }
}

void SnmpAgent::SetCommunity(const std::string& community)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_community = community;
}

std::string SnmpAgent::Community() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_community;
}

void SnmpAgent::AddRowRemoval(const std::string& column, int32_t value)
{
    Oid col = ToOid(column);
    std::lock_guard<std::mutex> lock(m_lock);
    m_removals.push_back({col, value});
}

void SnmpAgent::DropNextRequests(int n) { m_drops += n; }

void SnmpAgent::AddNoSuchNamePrefix(const std::string& prefix)
{
    Oid p = ToOid(prefix);
    std::lock_guard<std::mutex> lock(m_lock);
    m_noSuchNamePrefixes.push_back(p);
}

void SnmpAgent::ClearNoSuchNamePrefixes()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_noSuchNamePrefixes.clear();
}

void SnmpAgent::FailRequests(int count, int skip)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_failCount = count;
    m_failSkip = skip;
}

void SnmpAgent::ClearFaults()
{
    FailRequests(0, 0);
    m_drops = 0;
    m_nonIncreasing = false;
    m_repeat = false;
    ClearNoSuchNamePrefixes();
}

bool SnmpAgent::UnderFaultPrefix(const Oid& oid) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    for (const Oid& p : m_noSuchNamePrefixes) {
        if (OidStartsWith(oid, p))
            return true;
    }
    return false;
}

bool SnmpAgent::HandleDatagram(const uint8_t* data, size_t length, std::string& reply)
{
    reply.clear();
    ++m_requests;
    if (m_silent)
        return false;
    for (int left = m_drops.load(); left > 0;) {
        if (m_drops.compare_exchange_weak(left, left - 1))
            return false;
    }
    if (!data || length == 0 || length > 65535)
        return false;

    // net-snmp's decoder works on a writable buffer.
    std::vector<u_char> packet(data, data + length);
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    PduHolder request;
    request.pdu = static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu)));
    if (!request.pdu)
        return false;
    if (snmp_parse(nullptr, &session, request.pdu, packet.data(), packet.size()) != 0)
        return false;
    netsnmp_pdu* req = request.pdu;
    if (req->version != SNMP_VERSION_1)
        return false;
    {
        std::string community = Community();
        if (!req->community || req->community_len != community.size() ||
            std::memcmp(req->community, community.data(), community.size()) != 0)
            return false;
    }
    if (req->command != SNMP_MSG_GET && req->command != SNMP_MSG_GETNEXT && req->command != SNMP_MSG_SET)
        return false;

    PduHolder response;
    // Not snmp_pdu_create: that draws from the library's unlocked request-id
    // counter, which engines on other threads use; an answer has its own id.
    response.pdu = static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu)));
    if (!response.pdu)
        return false;
    netsnmp_pdu* resp = response.pdu;
    resp->command = SNMP_MSG_RESPONSE;
    resp->version = SNMP_VERSION_1;
    resp->reqid = req->reqid;
    resp->errstat = SNMP_ERR_NOERROR;
    resp->errindex = 0;

    long errstat = SNMP_ERR_NOERROR;
    long errindex = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_failSkip > 0) {
            --m_failSkip;
        } else if (m_failCount > 0) {
            --m_failCount;
            errstat = SNMP_ERR_NOSUCHNAME;
            errindex = 1;
        }
    }
    auto error = [&](long status, long index) {
        if (errstat == SNMP_ERR_NOERROR) {
            errstat = status;
            errindex = index;
        }
    };

    long i = 0;
    if (errstat != SNMP_ERR_NOERROR) {
        // A failing device: the answer below.
    } else if (req->command == SNMP_MSG_GET || req->command == SNMP_MSG_GETNEXT) {
        for (const netsnmp_variable_list* v = req->variables; v && errstat == SNMP_ERR_NOERROR; v = v->next_variable) {
            ++i;
            Oid name = NameOf(v);
            if (UnderFaultPrefix(name)) {
                error(SNMP_ERR_NOSUCHNAME, i);
                break;
            }
            Oid found = name;
            MibValue value;
            if (req->command == SNMP_MSG_GET) {
                auto got = m_store.Get(name);
                if (!got) {
                    error(SNMP_ERR_NOSUCHNAME, i);
                    break;
                }
                value = *got;
            } else {
                Oid next;
                if (!m_store.Next(name, next, value) || UnderFaultPrefix(next)) {
                    error(SNMP_ERR_NOSUCHNAME, i);
                    break;
                }
                if (!m_nonIncreasing)
                    found = next;
            }
            if (!AddValue(resp, found, value)) {
                error(SNMP_ERR_GENERR, i);
                break;
            }
        }
    } else {
        // SET: every binding is checked before anything is written.
        struct Pending {
            Oid name;
            MibValue value;
        };
        std::vector<Pending> writes;
        for (const netsnmp_variable_list* v = req->variables; v; v = v->next_variable) {
            ++i;
            Oid name = NameOf(v);
            auto current = m_store.Get(name);
            if (!current || UnderFaultPrefix(name)) {
                error(SNMP_ERR_NOSUCHNAME, i);
                break;
            }
            MibValue value;
            if (!ValueOf(v, value) || value.syntax != current->syntax) {
                error(SNMP_ERR_BADVALUE, i);
                break;
            }
            writes.push_back({std::move(name), std::move(value)});
        }
        if (errstat == SNMP_ERR_NOERROR) {
            std::vector<Removal> removals;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                removals = m_removals;
            }
            for (const Pending& w : writes) {
                bool removed = false;
                for (const Removal& r : removals) {
                    if (w.name.size() > r.column.size() && OidStartsWith(w.name, r.column) &&
                        w.value.syntax == sNMP_SYNTAX_INT && w.value.number == r.value) {
                        Oid entry(r.column.begin(), r.column.end() - 1);
                        Oid row(w.name.begin() + static_cast<long>(r.column.size()), w.name.end());
                        DropMemberships(m_store, entry, row);
                        m_store.EraseRow(entry, row);
                        removed = true;
                        break;
                    }
                }
                if (!removed)
                    m_store.Set(w.name, w.value);
            }
            {
                std::lock_guard<std::mutex> lock(m_lock);
                for (const Pending& w : writes) {
                    m_writes.push_back({w.name, w.value});
                    if (m_writes.size() > kKeptWrites)
                        m_writes.pop_front();
                    ++m_writeCount;
                }
            }
            if (!CopyBindings(resp, req))
                return false;
        }
    }

    if (errstat != SNMP_ERR_NOERROR) {
        // Version 1: an error answer carries the request's bindings as sent.
        snmp_free_varbind(resp->variables);
        resp->variables = nullptr;
        resp->errstat = errstat;
        resp->errindex = errindex;
        if (!CopyBindings(resp, req))
            return false;
    }

    // Encoded back to front, as the library is set up to; the message ends
    // the buffer.
    size_t size = 2048, offset = 0;
    u_char* out = static_cast<u_char*>(malloc(size));
    if (!out)
        return false;
    session.community = req->community;
    session.community_len = req->community_len;
    int rc = snmp_build(&out, &size, &offset, &session, resp);
    if (rc == 0 && offset <= size)
        reply.assign(reinterpret_cast<const char*>(out + size - offset), offset);
    free(out);
    return rc == 0 && !reply.empty();
}

uint64_t SnmpAgent::WriteCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_writeCount;
}

std::optional<SnmpAgent::Write> SnmpAgent::RecordedWrite(long index) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    const long total = static_cast<long>(m_writeCount);
    if (index < 0)
        index += total;
    const long first = total - static_cast<long>(m_writes.size());
    if (index < first || index >= total)
        return std::nullopt;
    return m_writes[static_cast<size_t>(index - first)];
}

} // namespace testbed
