#include "y_snmp.h"

#include "BlockingCalls.h"
#include "Clock.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <utility>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "stdafx.h"

namespace {

std::atomic<uint16_t> g_defaultPort{161};

// net-snmp is built without its own locking: the request-id counter behind
// snmp_pdu_create is shared by every session of the process.
std::mutex g_pduMutex;

netsnmp_pdu* CreatePdu(int command)
{
    std::lock_guard<std::mutex> lock(g_pduMutex);
    return snmp_pdu_create(command);
}

// The single place where net-snmp's outcome of a request becomes an engine
// result code.
int MapResult(int status, const netsnmp_pdu* response)
{
    if (status == STAT_TIMEOUT)
        return SNMP_ENGINE_TIMEOUT;
    if (status != STAT_SUCCESS || !response)
        return SNMP_ENGINE_FAILURE;
    if (response->errstat == SNMP_ERR_NOERROR)
        return SNMP_ENGINE_OK;
    if (response->errstat == SNMP_ERR_TOOBIG || response->errstat < 0)
        return SNMP_ENGINE_FAILURE;
    return static_cast<int>(response->errstat);
}

// Cuts bytes to at most max without splitting a UTF-8 sequence.
size_t Utf8Cut(const std::string& bytes, size_t max)
{
    if (bytes.size() <= max)
        return bytes.size();
    auto continuation = [&](size_t i) { return (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80; };
    // bytes[max] is the first byte left out; when it continues a sequence,
    // the sequence's lead byte (at most 3 bytes back) goes too. Text that is
    // not UTF-8 is cut at max.
    size_t k = max;
    while (k > 0 && max - k < 3 && continuation(k))
        --k;
    return continuation(k) ? max : k;
}

// Clears buf to its full size and copies what fits of text (size - 1 bytes at
// most) followed by a NUL. False when text had to be cut.
bool CopyToBuffer(char* buf, unsigned size, const std::string& text)
{
    if (!buf || size == 0)
        return text.empty();
    std::memset(buf, 0, size);
    size_t n = Utf8Cut(text, size - 1);
    std::memcpy(buf, text.data(), n);
    return n == text.size();
}

struct PduFree {
    netsnmp_pdu* pdu = nullptr;
    ~PduFree()
    {
        if (pdu)
            snmp_free_pdu(pdu);
    }
};

Vb FromVariable(const netsnmp_variable_list* var)
{
    Vb vb;
    std::vector<uint32_t> name(var->name, var->name + var->name_length);
    vb.oid = OidToText(name);
    vb.syntax = var->type;
    switch (var->type) {
    case ASN_INTEGER: vb.number = var->val.integer ? static_cast<int32_t>(*var->val.integer) : 0; break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS: vb.number = var->val.integer ? static_cast<uint32_t>(*var->val.integer) : 0; break;
    case ASN_COUNTER64:
        if (var->val.counter64)
            vb.number = static_cast<int64_t>((static_cast<uint64_t>(var->val.counter64->high) << 32) |
                                             (var->val.counter64->low & 0xFFFFFFFFu));
        break;
    case ASN_OBJECT_ID:
        if (var->val.objid) {
            size_t n = var->val_len / sizeof(oid);
            std::vector<uint32_t> value(var->val.objid, var->val.objid + n);
            vb.octets = OidToText(value);
        }
        break;
    case ASN_NULL: break;
    default: // OCTET STRING, IpAddress, Opaque and anything else: the raw bytes
        if (var->val.string && var->val_len > 0)
            vb.octets.assign(reinterpret_cast<const char*>(var->val.string), var->val_len);
        break;
    }
    return vb;
}

bool AddVariable(netsnmp_pdu* pdu, const std::vector<oid>& name, const Vb* value)
{
    if (!value)
        return snmp_add_null_var(pdu, name.data(), name.size()) != nullptr;
    switch (value->syntax) {
    case sNMP_SYNTAX_INT:
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS: {
        long n = static_cast<long>(value->number);
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), static_cast<u_char>(value->syntax), &n, sizeof n) !=
               nullptr;
    }
    case sNMP_SYNTAX_CNTR64: {
        counter64 c;
        c.high = static_cast<uint64_t>(value->number) >> 32;
        c.low = static_cast<uint64_t>(value->number) & 0xFFFFFFFFu;
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_COUNTER64, &c, sizeof c) != nullptr;
    }
    case sNMP_SYNTAX_OID: {
        std::vector<uint32_t> v;
        if (!ParseOidText(value->octets, v))
            return false;
        std::vector<oid> o(v.begin(), v.end());
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OBJECT_ID, o.data(), o.size() * sizeof(oid)) !=
               nullptr;
    }
    case sNMP_SYNTAX_NULL: return snmp_add_null_var(pdu, name.data(), name.size()) != nullptr;
    case sNMP_SYNTAX_IPADDR:
        if (value->octets.size() != 4)
            return false;
        [[fallthrough]];
    default:
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), static_cast<u_char>(value->syntax),
                                     value->octets.data(), value->octets.size()) != nullptr;
    }
}

long AtolClamped(const char* text)
{
    // As the Windows C library reads it: a 32-bit long that saturates.
    errno = 0;
    long long v = std::strtoll(text ? text : "", nullptr, 10);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<long>(v);
}

// net-snmp's own complaints (undecodable packets and the like) go to the
// developer trace, not to the user's terminal.
int LogToTrace(int, int, void* message, void*)
{
    auto* m = static_cast<snmp_log_message*>(message);
    if (m && m->msg)
        DebugTrace("net-snmp: %s", m->msg);
    return SNMP_ERR_NOERROR;
}

} // namespace

// ---------------------------------------------------------------------------

void InitSnmpLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // No snmp.conf, no MIB files, nothing persistent: the engine only
        // speaks numeric OIDs to one device.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE, 1);
        // Not init_snmp, which would load MIBs: the first snmp_sess_init
        // sets up the transports (UDP) and the request-id seeds. Done here,
        // on one thread, rather than by whichever engine comes first.
        snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, LogToTrace, nullptr);
        snmp_enable_calllog();
        netsnmp_session dummy;
        snmp_sess_init(&dummy);
    });
}

bool ParseOidText(const std::string& text, std::vector<uint32_t>& out)
{
    std::vector<uint32_t> parts;
    size_t i = 0;
    if (!text.empty() && text[0] == '.')
        i = 1;
    if (i >= text.size())
        return false;
    while (i < text.size()) {
        uint64_t v = 0;
        size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            if (v > UINT32_MAX)
                return false;
            ++i;
        }
        if (i == start)
            return false;
        parts.push_back(static_cast<uint32_t>(v));
        if (parts.size() > MAX_OID_LEN)
            return false;
        if (i < text.size()) {
            if (text[i] != '.' || i + 1 == text.size())
                return false;
            ++i;
        }
    }
    if (parts.size() < 2)
        return false;
    out = std::move(parts);
    return true;
}

std::string OidToText(const std::vector<uint32_t>& oid)
{
    // Every answer's OIDs pass through here: to_chars, not a formatted print.
    std::string s;
    s.reserve(oid.size() * 4);
    char buf[16];
    for (size_t i = 0; i < oid.size(); ++i) {
        char* end = std::to_chars(buf, buf + sizeof buf, oid[i]).ptr;
        if (i)
            s.push_back('.');
        s.append(buf, end);
    }
    return s;
}

std::string Vb::GetPrintable() const
{
    char buf[64];
    switch (syntax) {
    case sNMP_SYNTAX_INT:
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS: return std::string(buf, std::to_chars(buf, buf + sizeof buf, number).ptr);
    case sNMP_SYNTAX_CNTR64:
        return std::string(buf, std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(number)).ptr);
    case sNMP_SYNTAX_IPADDR:
        if (octets.size() == 4) {
            std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", static_cast<unsigned char>(octets[0]),
                          static_cast<unsigned char>(octets[1]), static_cast<unsigned char>(octets[2]),
                          static_cast<unsigned char>(octets[3]));
            return buf;
        }
        return std::string();
    case sNMP_SYNTAX_OCTETS:
    case sNMP_SYNTAX_OID: return octets;
    case sNMP_SYNTAX_NULL: return std::string();
    default: {
        std::string hex;
        for (size_t i = 0; i < octets.size(); ++i) {
            std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", static_cast<unsigned char>(octets[i]));
            hex += buf;
        }
        return hex;
    }
    }
}

bool SetVbValueFromString(Vb& vb, int syntax, const char* text)
{
    if (!text)
        text = "";
    switch (syntax) {
    case sNMP_SYNTAX_INT:
        DebugTrace("sNMP_SYNTAX_INT\n");
        vb.syntax = syntax;
        vb.number = AtolClamped(text);
        vb.octets.clear();
        return true;
    case sNMP_SYNTAX_OCTETS:
        DebugTrace("sNMP_SYNTAX_OCTETS\n");
        vb.syntax = syntax;
        vb.octets = text;
        vb.number = 0;
        return true;
    case sNMP_SYNTAX_OID: {
        DebugTrace("sNMP_SYNTAX_OID\n");
        std::vector<uint32_t> o;
        if (!ParseOidText(text, o))
            return false;
        vb.syntax = syntax;
        vb.octets = OidToText(o);
        vb.number = 0;
        return true;
    }
    case sNMP_SYNTAX_IPADDR: {
        DebugTrace("sNMP_SYNTAX_IPADDR\n");
        in_addr a;
        if (inet_pton(AF_INET, text, &a) != 1)
            return false;
        vb.syntax = syntax;
        vb.octets.assign(reinterpret_cast<const char*>(&a.s_addr), 4);
        vb.number = 0;
        return true;
    }
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS:
        DebugTrace(syntax == sNMP_SYNTAX_CNTR32    ? "sNMP_SYNTAX_CNTR32\n"
                   : syntax == sNMP_SYNTAX_GAUGE32 ? "sNMP_SYNTAX_GAUGE32\n"
                                                   : "sNMP_SYNTAX_TIMETICKS\n");
        vb.syntax = syntax;
        // An unsigned 32-bit value; a negative reading wraps as it does on
        // the 32-bit long of the original platform.
        vb.number = static_cast<uint32_t>(static_cast<int32_t>(AtolClamped(text)));
        vb.octets.clear();
        return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------

CSnmpEngine::CSnmpEngine()
    : m_readCommunity("quesmet")
    , m_writeCommunity("quesmet")
    , m_timeout(400)
    , m_retries(1)
    , m_port(g_defaultPort.load())
{
    std::memset(m_address, 0, sizeof m_address);
    std::strcpy(m_address, "127.0.0.1");
}

void CSnmpEngine::SetAddress(const char* address)
{
    std::memset(m_address, 0, sizeof m_address);
    if (address)
        std::strncpy(m_address, address, 19);
}

void CSnmpEngine::SetAddress(const std::string& address) { SetAddress(address.c_str()); }
void CSnmpEngine::SetReadCommunity(const std::string& community) { m_readCommunity = community; }
void CSnmpEngine::SetWriteCommunity(const std::string& community) { m_writeCommunity = community; }
void CSnmpEngine::SetDefaultPort(uint16_t port) { g_defaultPort = port; }
uint16_t CSnmpEngine::DefaultPort() { return g_defaultPort.load(); }

CSnmpEngine::Channel& CSnmpEngine::Channel::operator=(const Channel& other)
{
    if (this != &other)
        Close();
    return *this;
}

CSnmpEngine::Channel::Channel(Channel&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr))
    , m_peer(std::move(other.m_peer))
    , m_community(std::move(other.m_community))
    , m_timeoutUs(other.m_timeoutUs)
    , m_retries(other.m_retries)
{}

CSnmpEngine::Channel& CSnmpEngine::Channel::operator=(Channel&& other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_peer = std::move(other.m_peer);
        m_community = std::move(other.m_community);
        m_timeoutUs = other.m_timeoutUs;
        m_retries = other.m_retries;
    }
    return *this;
}

void* CSnmpEngine::Channel::Open(const char* peer, const std::string& community, long timeoutUs, int retries)
{
    if (m_handle && m_peer == peer && m_community == community && m_timeoutUs == timeoutUs && m_retries == retries)
        return m_handle;
    Close();
    netsnmp_session setup;
    snmp_sess_init(&setup);
    setup.version = SNMP_VERSION_1;
    setup.peername = const_cast<char*>(peer);
    setup.community = reinterpret_cast<u_char*>(const_cast<char*>(community.data()));
    setup.community_len = community.size();
    setup.timeout = timeoutUs;
    setup.retries = retries;
    m_handle = snmp_sess_open(&setup);
    if (!m_handle)
        return nullptr;
    // The socket lives as long as the engine: programs started meanwhile
    // (rsync) must not inherit it.
    const netsnmp_transport* transport = snmp_sess_transport(m_handle);
    if (transport && transport->sock >= 0)
        fcntl(transport->sock, F_SETFD, FD_CLOEXEC);
    m_peer = peer;
    m_community = community;
    m_timeoutUs = timeoutUs;
    m_retries = retries;
    return m_handle;
}

void CSnmpEngine::Channel::Close()
{
    if (m_handle)
        snmp_sess_close(m_handle);
    m_handle = nullptr;
}

int CSnmpEngine::Request(Op op, const std::vector<Vb>& bindings, const std::string& community, std::vector<Vb>& answer)
{
    NoteBlockingCall(BlockingCall::Snmp);
    InitSnmpLibrary();
    answer.clear();

    in_addr a;
    if (inet_pton(AF_INET, m_address, &a) != 1)
        return SNMP_ENGINE_BAD_ADDRESS;

    char peer[64];
    std::snprintf(peer, sizeof peer, "udp:%s:%u", m_address, static_cast<unsigned>(m_port));
    // The wait per try runs on the program's clock (a test's fast clock
    // shortens it).
    const long timeoutUs =
        static_cast<long>(platform::RealMs(static_cast<int64_t>(m_timeout < 0 ? 0 : m_timeout) * 10)) * 1000L;
    void* session = m_channel.Open(peer, community, timeoutUs, m_retries < 0 ? 0 : m_retries);
    if (!session)
        return SNMP_ENGINE_FAILURE;

    std::vector<std::vector<oid>> names;
    names.reserve(bindings.size());
    for (const Vb& vb : bindings) {
        std::vector<uint32_t> o;
        if (!ParseOidText(vb.oid, o))
            return SNMP_ENGINE_BAD_OID;
        names.emplace_back(o.begin(), o.end());
    }
    if (names.empty())
        return SNMP_ENGINE_BAD_OID;

    int command = op == Op::Get ? SNMP_MSG_GET : op == Op::GetNext ? SNMP_MSG_GETNEXT : SNMP_MSG_SET;
    netsnmp_pdu* pdu = CreatePdu(command);
    if (!pdu)
        return SNMP_ENGINE_FAILURE;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!AddVariable(pdu, names[i], op == Op::Set ? &bindings[i] : nullptr)) {
            snmp_free_pdu(pdu);
            return SNMP_ENGINE_BAD_VALUE;
        }
    }

    PduFree response;
    // snmp_sess_synch_response takes the request PDU over in every case.
    int status = snmp_sess_synch_response(session, pdu, &response.pdu);
    // Only a session whose request was answered is kept: after a time-out or
    // a failure the next request starts on a new one.
    if (status != STAT_SUCCESS || !response.pdu)
        m_channel.Close();
    int rc = MapResult(status, response.pdu);
    if (rc != SNMP_ENGINE_OK)
        return rc;

    for (const netsnmp_variable_list* v = response.pdu->variables; v; v = v->next_variable)
        answer.push_back(FromVariable(v));
    if (answer.size() != bindings.size()) {
        answer.clear();
        return SNMP_ENGINE_FAILURE;
    }
    // An agent speaking SNMPv2 exceptions where version 1 has noSuchName.
    for (const Vb& vb : answer) {
        if (vb.syntax == SNMP_NOSUCHOBJECT || vb.syntax == SNMP_NOSUCHINSTANCE)
            return SNMP_ENGINE_NO_SUCH_NAME;
        if (vb.syntax == SNMP_ENDOFMIBVIEW)
            return op == Op::GetNext ? SNMP_ENGINE_END_OF_ROOT : SNMP_ENGINE_NO_SUCH_NAME;
    }
    return SNMP_ENGINE_OK;
}

int CSnmpEngine::GetNext(const char* oidText, char* nextOid, unsigned nextOidSize, char* value, unsigned valueSize,
                         const char* root)
{
    std::vector<uint32_t> start, rootOid;
    if (!oidText || !root)
        return SNMP_ENGINE_BAD_OID;
    {
        in_addr a;
        if (inet_pton(AF_INET, m_address, &a) != 1)
            return SNMP_ENGINE_BAD_ADDRESS;
    }
    if (!ParseOidText(oidText, start) || !ParseOidText(root, rootOid))
        return SNMP_ENGINE_BAD_OID;

    std::vector<Vb> request(1), answer;
    request[0].oid = oidText;
    int rc = Request(Op::GetNext, request, m_readCommunity, answer);
    if (rc == SNMP_ENGINE_END_OF_ROOT) {
        // End of the agent's view: nothing follows.
        CopyToBuffer(nextOid, nextOidSize, std::string());
        CopyToBuffer(value, valueSize, std::string());
        return rc;
    }
    if (rc != SNMP_ENGINE_OK)
        return rc;

    const Vb& got = answer[0];
    bool fits = CopyToBuffer(nextOid, nextOidSize, got.oid);
    CopyToBuffer(value, valueSize, got.GetPrintable());
    if (!fits)
        return SNMP_ENGINE_FAILURE;

    std::vector<uint32_t> next;
    if (!ParseOidText(got.oid, next))
        return SNMP_ENGINE_FAILURE;
    // An agent that answers an OID not after the one asked would make every
    // walk loop forever: that is the end of the walk.
    if (!(start < next))
        return SNMP_ENGINE_END_OF_ROOT;
    if (next.size() < rootOid.size() || !std::equal(rootOid.begin(), rootOid.end(), next.begin()))
        return SNMP_ENGINE_END_OF_ROOT;
    return SNMP_ENGINE_OK;
}

int CSnmpEngine::MultiGet(int count, const char** oids, char** values, unsigned valueSize)
{
    if (count <= 0 || !oids || !values)
        return SNMP_ENGINE_BAD_OID;
    std::vector<Vb> request(static_cast<size_t>(count)), answer;
    for (int i = 0; i < count; ++i) {
        if (!oids[i])
            return SNMP_ENGINE_BAD_OID;
        request[static_cast<size_t>(i)].oid = oids[i];
    }
    int rc = Request(Op::Get, request, m_readCommunity, answer);
    if (rc != SNMP_ENGINE_OK)
        return rc;
    for (int i = 0; i < count; ++i)
        CopyToBuffer(values[i], valueSize, answer[static_cast<size_t>(i)].GetPrintable());
    return SNMP_ENGINE_OK;
}

int CSnmpEngine::MultiGet(std::list<std::string>& oids, std::list<std::string>& values)
{
    std::vector<Vb> request, answer;
    for (const std::string& o : oids) {
        request.emplace_back();
        request.back().oid = o;
    }
    int rc = Request(Op::Get, request, m_readCommunity, answer);
    if (rc != SNMP_ENGINE_OK)
        return rc;
    // Values come whole: a long allow-list that is cut here would be cut on
    // the device too when it is posted back.
    for (const Vb& vb : answer)
        values.push_back(vb.GetPrintable());
    return SNMP_ENGINE_OK;
}

int CSnmpEngine::MultiGet(const std::vector<std::string>& oids, std::vector<Vb>& answer)
{
    std::vector<Vb> request(oids.size());
    for (size_t i = 0; i < oids.size(); ++i)
        request[i].oid = oids[i];
    return Request(Op::Get, request, m_readCommunity, answer);
}

int CSnmpEngine::SimpleGet(std::string oid, std::string& value)
{
    std::list<std::string> oids{std::move(oid)}, values;
    int rc = MultiGet(oids, values);
    if (rc == SNMP_ENGINE_OK)
        value = values.empty() ? std::string() : values.front();
    return rc;
}

int CSnmpEngine::GetWhole(const std::string& oid, std::string& value)
{
    std::vector<Vb> request(1), answer;
    request[0].oid = oid;
    int rc = Request(Op::Get, request, m_readCommunity, answer);
    if (rc == SNMP_ENGINE_OK)
        value = answer[0].GetPrintable();
    return rc;
}

int CSnmpEngine::SimpleSet(const char* oid, const char* value)
{
    if (!oid)
        return SNMP_ENGINE_BAD_OID;
    std::vector<Vb> request(1), answer;
    request[0].oid = oid;
    // The GET goes with the write community too: it is the SET's own check.
    int rc = Request(Op::Get, request, m_writeCommunity, answer);
    if (rc != SNMP_ENGINE_OK)
        return rc;
    Vb vb = answer[0];
    vb.oid = oid;
    if (!SetVbValueFromString(vb, vb.syntax, value))
        return SNMP_ENGINE_BAD_VALUE;
    std::vector<Vb> set{vb};
    return Request(Op::Set, set, m_writeCommunity, answer);
}

int CSnmpEngine::SetTyped(int syntax, const char* oid, const char* value)
{
    if (!oid)
        return SNMP_ENGINE_BAD_OID;
    {
        in_addr a;
        if (inet_pton(AF_INET, m_address, &a) != 1)
            return SNMP_ENGINE_BAD_ADDRESS;
    }
    std::vector<uint32_t> o;
    if (!ParseOidText(oid, o))
        return SNMP_ENGINE_BAD_OID;
    Vb vb;
    vb.oid = oid;
    if (!SetVbValueFromString(vb, syntax, value))
        return SNMP_ENGINE_BAD_VALUE;
    std::vector<Vb> set{vb}, answer;
    return Request(Op::Set, set, m_writeCommunity, answer);
}

int CSnmpEngine::MultiSet(const std::vector<Vb>& bindings)
{
    std::vector<Vb> answer;
    return Request(Op::Set, bindings, m_writeCommunity, answer);
}
