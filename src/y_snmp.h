#pragma once
// CSnmpEngine: blocking SNMP version 1 requests to the device, OIDs and values
// as text. An engine opens a session for its first request and keeps it for
// the next ones to the same agent with the same community, time-out and
// retries (a walk of n rows is one session, not n). The session is closed
// when the engine goes, when those settings change, and after a request that
// got no answer or an unusable one, so a late answer never meets a later
// request. A copy of an engine starts without a session, so engines on
// different threads never share anything. Built on net-snmp's single-session
// API.
#include <cstdint>
#include <list>
#include <string>
#include <vector>

// Result codes of every engine operation.
enum : int {
    SNMP_ENGINE_OK = 0,
    // GetNext: the agent's next OID lies outside the root, or is not greater
    // than the OID asked (a broken agent), so the walk is over.
    SNMP_ENGINE_END_OF_ROOT = 1,
    // Agent error-status values are passed on unchanged (2 noSuchName,
    // 3 badValue, 4 readOnly, 5 genErr, ...), except tooBig (1), which would
    // read as "end of walk" and is reported as SNMP_ENGINE_FAILURE.
    SNMP_ENGINE_NO_SUCH_NAME = 2,
    SNMP_ENGINE_FAILURE = -1,      // session not opened, send failed, answer unusable
    SNMP_ENGINE_TIMEOUT = -5,      // no answer after the retries
    SNMP_ENGINE_BAD_VALUE = -11,   // the text cannot be converted to the syntax
    SNMP_ENGINE_BAD_OID = -17,     // an OID text is not an OID
    SNMP_ENGINE_BAD_ADDRESS = -18, // the address is not a dotted IPv4 address
};

// Value syntaxes (the ASN.1 / SNMP type tags).
enum : int {
    sNMP_SYNTAX_INT = 0x02,
    sNMP_SYNTAX_OCTETS = 0x04,
    sNMP_SYNTAX_NULL = 0x05,
    sNMP_SYNTAX_OID = 0x06,
    sNMP_SYNTAX_IPADDR = 0x40,
    sNMP_SYNTAX_CNTR32 = 0x41,
    sNMP_SYNTAX_GAUGE32 = 0x42,
    sNMP_SYNTAX_TIMETICKS = 0x43,
    sNMP_SYNTAX_OPAQUE = 0x44,
    sNMP_SYNTAX_CNTR64 = 0x46,
};

// One variable binding: an OID and a typed value.
struct Vb {
    std::string oid;               // dotted text
    int syntax = sNMP_SYNTAX_NULL; // sNMP_SYNTAX_*
    int64_t number = 0;            // INTEGER, Counter32, Gauge32, TimeTicks, Counter64
    std::string octets;            // OCTET STRING and Opaque bytes, IpAddress's 4 bytes,
                                   // an OBJECT IDENTIFIER value as dotted text

    // The value as text: an OCTET STRING is its own bytes (UTF-8 names come
    // back as they are), numbers in decimal, IpAddress and OBJECT IDENTIFIER
    // dotted, Opaque as hexadecimal bytes, NULL as "".
    std::string GetPrintable() const;
};

// Converts text to a value of the syntax (INTEGER, Counter32, Gauge32 and
// TimeTicks as atol reads it, clamped to 32 bits; OCTET STRING as the bytes;
// OBJECT IDENTIFIER and IpAddress as dotted text). False, vb unchanged, when
// the text does not fit the syntax or the syntax is not one of those.
bool SetVbValueFromString(Vb& vb, int syntax, const char* text);

// Dotted OID text ("1.3.6.1" or ".1.3.6.1") to sub-identifiers: at least two,
// at most 128, each below 2^32. False when it is not one.
bool ParseOidText(const std::string& text, std::vector<uint32_t>& oid);
std::string OidToText(const std::vector<uint32_t>& oid);

// Prepares net-snmp once per process (thread-safe): no configuration file,
// MIB or persistent state is read or written. Every engine call does it; the
// emulator's agent calls it too.
void InitSnmpLibrary();

class CSnmpEngine {
public:
    CSnmpEngine();

    // At most 19 characters of the text are kept.
    void SetAddress(const char* address);
    void SetAddress(const std::string& address);
    void SetReadCommunity(const std::string& community);
    void SetWriteCommunity(const std::string& community);
    void SetTimeout(int hundredths) { m_timeout = hundredths; }
    void SetRetries(int retries) { m_retries = retries; }
    // UDP port of the agent, 161 unless set (or unless a test changed the
    // process default).
    void SetPort(uint16_t port) { m_port = port; }

    const char* GetAddress() const { return m_address; }
    int GetTimeout() const { return m_timeout; }
    int GetRetries() const { return m_retries; }
    uint16_t GetPort() const { return m_port; }

    // Test seam: the port new engines start with (161).
    static void SetDefaultPort(uint16_t port);
    static uint16_t DefaultPort();

    // One GETNEXT. nextOid and value are cleared and filled (texts cut to
    // their buffer's size - 1). 0 when the next OID lies inside root, 1 when it
    // lies outside or is not greater than oid, else an error code. A next OID
    // that does not fit its buffer is a failure (SNMP_ENGINE_FAILURE), so a
    // walk never resumes from a cut OID.
    int GetNext(const char* oid, char* nextOid, unsigned nextOidSize, char* value, unsigned valueSize,
                const char* root);

    // One GET of count OIDs; value i goes to values[i] (each valueSize bytes).
    int MultiGet(int count, const char** oids, char** values, unsigned valueSize);
    // The same for lists; the values (whole) are appended to values in the
    // order of the answer.
    int MultiGet(std::list<std::string>& oids, std::list<std::string>& values);
    // One GET of several OIDs; the typed answers in order.
    int MultiGet(const std::vector<std::string>& oids, std::vector<Vb>& answer);
    // GET of one OID; on 0, value receives its text.
    int SimpleGet(std::string oid, std::string& value);
    // GET of one OID whose value may be long (lists of names, which the
    // program posts back whole): on 0, value receives the text uncut.
    int GetWhole(const std::string& oid, std::string& value);

    // GET (write community) to learn the object's syntax, then SET of the text
    // converted to it. The GET's status when it fails (no SET is sent), -11
    // when the text does not convert, else the SET's status.
    int SimpleSet(const char* oid, const char* value);
    // SET with the caller's syntax, no GET first. 0 on success; a failed SET
    // returns its status like every other operation (-5 time-out, the agent's
    // error-status such as 2, ...), never 0 or 1.
    int SetTyped(int syntax, const char* oid, const char* value);
    // One SET of several bindings; the same codes as SetTyped.
    int MultiSet(const std::vector<Vb>& bindings);

private:
    enum class Op { Get, GetNext, Set };
    // The common frame: address check, session, OIDs, request, answer.
    int Request(Op op, const std::vector<Vb>& bindings, const std::string& community, std::vector<Vb>& answer);

    // The session kept between requests, with what it was opened for.
    class Channel {
    public:
        Channel() = default;
        Channel(const Channel&) {}
        Channel& operator=(const Channel& other);
        Channel(Channel&& other) noexcept;
        Channel& operator=(Channel&& other) noexcept;
        ~Channel() { Close(); }
        // The open session for these settings: the kept one when they match,
        // else a new one (the old one closed). Null when none can be opened.
        void* Open(const char* peer, const std::string& community, long timeoutUs, int retries);
        void Close();

    private:
        void* m_handle = nullptr;
        std::string m_peer;
        std::string m_community;
        long m_timeoutUs = 0;
        int m_retries = 0;
    };

    char m_address[24];
    std::string m_readCommunity;
    std::string m_writeCommunity;
    int m_timeout; // hundredths of a second per try
    int m_retries; // after the first try
    uint16_t m_port;
    Channel m_channel;
};
