#include "MibStore.h"

#include <arpa/inet.h>
#include <stdexcept>

namespace testbed {

Oid ToOid(const std::string& text)
{
    Oid oid;
    if (!ParseOidText(text, oid))
        throw std::invalid_argument("not an OID: " + text);
    return oid;
}

bool OidStartsWith(const Oid& oid, const Oid& prefix)
{
    return oid.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

namespace {
MibValue Valued(int syntax, int64_t number, const std::string& bytes = {})
{
    MibValue m;
    m.syntax = syntax;
    m.number = number;
    m.bytes = bytes;
    return m;
}
} // namespace

MibValue MibValue::Integer(int32_t v) { return Valued(sNMP_SYNTAX_INT, v); }
MibValue MibValue::String(const std::string& v) { return Valued(sNMP_SYNTAX_OCTETS, 0, v); }
MibValue MibValue::Counter32(uint32_t v) { return Valued(sNMP_SYNTAX_CNTR32, v); }
MibValue MibValue::Gauge32(uint32_t v) { return Valued(sNMP_SYNTAX_GAUGE32, v); }
MibValue MibValue::TimeTicks(uint32_t v) { return Valued(sNMP_SYNTAX_TIMETICKS, v); }

MibValue MibValue::IpAddress(const std::string& dotted)
{
    in_addr a;
    if (inet_pton(AF_INET, dotted.c_str(), &a) != 1)
        throw std::invalid_argument("not an IPv4 address: " + dotted);
    return Valued(sNMP_SYNTAX_IPADDR, 0, std::string(reinterpret_cast<const char*>(&a.s_addr), 4));
}

MibValue MibValue::ObjectId(const std::string& dotted)
{
    MibValue m;
    m.syntax = sNMP_SYNTAX_OID;
    m.oid = ToOid(dotted);
    return m;
}

MibValue MibValue::Opaque(const std::string& v) { return Valued(sNMP_SYNTAX_OPAQUE, 0, v); }

std::string MibValue::Text() const
{
    Vb vb;
    vb.syntax = syntax;
    vb.number = number;
    vb.octets = syntax == sNMP_SYNTAX_OID ? OidToText(oid) : bytes;
    return vb.GetPrintable();
}

void MibStore::Set(const Oid& oid, const MibValue& value)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_objects[oid] = value;
    }
    Notify(oid, value);
}

std::optional<MibValue> MibStore::Get(const Oid& oid) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_objects.find(oid);
    if (it == m_objects.end())
        return std::nullopt;
    return it->second;
}

bool MibStore::Next(const Oid& oid, Oid& next, MibValue& value) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_objects.upper_bound(oid);
    if (it == m_objects.end())
        return false;
    next = it->first;
    value = it->second;
    return true;
}

bool MibStore::Erase(const Oid& oid)
{
    size_t n;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        n = m_objects.erase(oid);
    }
    if (n)
        Notify(oid, std::nullopt);
    return n != 0;
}

size_t MibStore::EraseRow(const Oid& entry, const Oid& row)
{
    std::vector<Oid> gone;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (auto it = m_objects.lower_bound(entry); it != m_objects.end() && OidStartsWith(it->first, entry);) {
            const Oid& o = it->first;
            if (o.size() == entry.size() + 1 + row.size() &&
                std::equal(row.begin(), row.end(), o.end() - static_cast<long>(row.size()))) {
                gone.push_back(o);
                it = m_objects.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Oid& o : gone)
        Notify(o, std::nullopt);
    return gone.size();
}

std::vector<std::pair<Oid, MibValue>> MibStore::Subtree(const Oid& prefix) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::pair<Oid, MibValue>> out;
    for (auto it = m_objects.lower_bound(prefix); it != m_objects.end() && OidStartsWith(it->first, prefix); ++it)
        out.emplace_back(it->first, it->second);
    return out;
}

std::vector<std::string> MibStore::Rows(const std::string& column) const
{
    Oid col = ToOid(column);
    std::vector<std::string> rows;
    for (const auto& [oid, value] : Subtree(col)) {
        (void)value;
        rows.push_back(OidToText(Oid(oid.begin() + static_cast<long>(col.size()), oid.end())));
    }
    return rows;
}

size_t MibStore::Size() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_objects.size();
}

void MibStore::Clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_objects.clear();
}

void MibStore::SetChangeHook(ChangeHook hook)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_hook = std::move(hook);
}

void MibStore::Notify(const Oid& oid, const std::optional<MibValue>& value) const
{
    ChangeHook hook;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        hook = m_hook;
    }
    if (hook)
        hook(oid, value);
}

} // namespace testbed
