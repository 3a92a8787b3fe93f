#pragma once
// The emulator's management objects: an ordered map from OID to typed value,
// safe to use from several threads (the SNMP agent, the web CGI, the control
// channel, tests).
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "y_snmp.h" // sNMP_SYNTAX_* tags, ParseOidText, OidToText

namespace testbed {

using Oid = std::vector<uint32_t>;

// Dotted text to OID; throws std::invalid_argument when it is not one (the
// emulator's own tables are written by developers, so a typo is a bug).
Oid ToOid(const std::string& text);
// Whether prefix is a prefix of oid (equal counts).
bool OidStartsWith(const Oid& oid, const Oid& prefix);

struct MibValue {
    int syntax = sNMP_SYNTAX_NULL; // sNMP_SYNTAX_*
    int64_t number = 0;            // INTEGER (signed 32), Counter32/Gauge32/TimeTicks (unsigned 32)
    std::string bytes;             // OCTET STRING, Opaque, IpAddress (4 bytes)
    Oid oid;                       // OBJECT IDENTIFIER value

    static MibValue Integer(int32_t v);
    static MibValue String(const std::string& v);
    static MibValue Counter32(uint32_t v);
    static MibValue Gauge32(uint32_t v);
    static MibValue TimeTicks(uint32_t v);
    static MibValue IpAddress(const std::string& dotted); // throws when not IPv4
    static MibValue ObjectId(const std::string& dotted);
    static MibValue Opaque(const std::string& v);

    // Printable text as the program reads it (see Vb::GetPrintable).
    std::string Text() const;
    bool operator==(const MibValue& other) const = default;
};

class MibStore {
public:
    // Called after every change made through Set/Erase/EraseRow by the agent
    // or anybody else (oid, new value or nullopt when removed); runs with the
    // store's lock released.
    using ChangeHook = std::function<void(const Oid& oid, const std::optional<MibValue>& value)>;

    void Set(const Oid& oid, const MibValue& value);
    void Set(const std::string& oid, const MibValue& value) { Set(ToOid(oid), value); }
    std::optional<MibValue> Get(const Oid& oid) const;
    std::optional<MibValue> Get(const std::string& oid) const { return Get(ToOid(oid)); }
    // The first object after oid (strictly greater); false when there is none.
    bool Next(const Oid& oid, Oid& next, MibValue& value) const;
    bool Erase(const Oid& oid);
    // Removes every column of one row of a table: the objects entry.column.row
    // for any column. Returns how many objects went.
    size_t EraseRow(const Oid& entry, const Oid& row);
    // Copies of every object under prefix, in order.
    std::vector<std::pair<Oid, MibValue>> Subtree(const Oid& prefix) const;
    // Row indexes of a table column (text after the column), in order.
    std::vector<std::string> Rows(const std::string& column) const;
    size_t Size() const;
    void Clear();

    void SetChangeHook(ChangeHook hook);

private:
    void Notify(const Oid& oid, const std::optional<MibValue>& value) const;

    mutable std::mutex m_lock;
    std::map<Oid, MibValue> m_objects;
    ChangeHook m_hook;
};

} // namespace testbed
