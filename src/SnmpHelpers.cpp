#include "SnmpHelpers.h"

#include <climits>
#include <cstdlib>

#include "Clock.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "stdafx.h"
#include "y_snmp.h"

namespace {

void Pause(int ms) { platform::SleepMs(ms); }

void SetUpFromContext(CSnmpEngine& engine) { SetEngineFromContext(engine); }

const int kTries = 3;

} // namespace

void SetEngineFromContext(CSnmpEngine& engine)
{
    CNasContext* ctx = GetNasContext();
    engine.SetAddress(ctx->m_deviceAddress);
    engine.SetReadCommunity(ctx->m_community);
    engine.SetWriteCommunity(ctx->m_community);
}

void SnmpPause(int milliseconds) { Pause(milliseconds); }

int SnmpGetWithRetry(const std::string& oid, std::string& value)
{
    CNasContext* ctx = GetNasContext();
    return SnmpGetWithRetry(ctx->m_deviceAddress, ctx->m_community, oid, value);
}

int SnmpGetWithRetry(const std::string& address, const std::string& community, const std::string& oid,
                     std::string& value)
{
    CSnmpEngine engine;
    engine.SetAddress(address);
    engine.SetReadCommunity(community);
    engine.SetWriteCommunity(community);
    for (int i = 0; i < kTries; ++i) {
        std::string tmp;
        if (engine.SimpleGet(oid, tmp) == 0) {
            value = tmp;
            return 0;
        }
        Pause(kSnmpRetryPauseMs);
    }
    return -3;
}

int SnmpSetWithRetry(const std::string& oid, const std::string& value)
{
    CSnmpEngine engine;
    SetUpFromContext(engine);
    for (int i = 0; i < kTries; ++i) {
        if (engine.SimpleSet(oid.c_str(), value.c_str()) == 0)
            return 0;
        Pause(kSnmpRetryPauseMs);
    }
    return -3;
}

int SnmpFindIndex(const std::string& column, const std::string& value, std::string& index)
{
    CSnmpEngine engine;
    SetUpFromContext(engine);
    std::string current = column;
    // Only failed steps use up tries: a value met several times on the way
    // is not a reason to give up before the end of the column.
    for (int failures = 0; failures < kTries;) {
        char next[128];
        char text[128];
        int rc = engine.GetNext(current.c_str(), next, sizeof next, text, sizeof text, column.c_str());
        if (rc == 1)
            return 0;
        if (rc != 0) {
            ++failures;
            continue;
        }
        current = next;
        if (value == text)
            index = NasRowOf(current);
    }
    return -3;
}

int SnmpWalkColumn(CSnmpEngine& engine, const std::string& column, int tries,
                   const std::function<bool(const std::string& oid, const std::string& value)>& visit)
{
    std::string current = column;
    for (int failures = 0;;) {
        char next[128];
        char value[260];
        const int rc = engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, column.c_str());
        if (rc == 1)
            return 0;
        if (rc != 0) {
            if (++failures >= tries)
                return rc;
            continue;
        }
        failures = 0;
        current = next;
        if (!visit(current, value))
            return 0;
    }
}

bool ParseRowIndex(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

int SnmpNewRowIndex(const std::string& column, const std::string& name, int maxRows, int& existingIndex)
{
    CSnmpEngine engine;
    SetUpFromContext(engine);
    int last = 0;
    int count = 0, refused = 0;
    bool bad = false;
    const int rc = SnmpWalkColumn(engine, column, kTries, [&](const std::string& oid, const std::string& value) {
        // A row number that is no number is no row of ours: the table is
        // refused rather than guessed at.
        if (!ParseRowIndex(NasRowOf(oid), last)) {
            bad = true;
            return false;
        }
        if (name == value) {
            existingIndex = last;
            refused = -1;
        } else if (maxRows > 0 && ++count >= maxRows) {
            refused = -2;
        }
        return refused == 0;
    });
    // The last row number there is leaves no index for a new row.
    if (!bad && refused == 0 && last == INT_MAX)
        bad = true;
    if (bad)
        DebugTrace("row numbers of %s out of range\n", column.c_str());
    if (rc != 0 || bad)
        return -3;
    return refused != 0 ? refused : last + 1;
}

std::string GetUserPassword(const std::string& user)
{
    std::string index;
    if (SnmpFindIndex(nasmib::kUserName, user, index) == -3) {
        platform::MessageBox("Timeout!");
        return std::string();
    }
    std::string value;
    // A user who is not in the table has no row to read: that read could
    // only fail three times over.
    if (index.empty() || SnmpGetWithRetry(NasCell(nasmib::kUserPassword, index), value) == -3) {
        platform::MessageBox("Timeout!");
        return std::string();
    }
    return value;
}

int GetNasWebPort(int* status)
{
    CSnmpEngine engine;
    SetUpFromContext(engine);
    std::string value;
    int rc = engine.SimpleGet(nasmib::kWebPort, value);
    if (rc != 0)
        rc = engine.SimpleGet(nasmib::kWebPort, value);
    value = Trim(value);
    if (status)
        *status = rc;
    if (value.empty())
        return -1;
    int port = std::atoi(value.c_str());
    // Anything that is no TCP port would end up in a URL or a connect call.
    if (port < 1 || port > 65535)
        return -1;
    return port;
}

int GetDiskStatus(const std::string& address, const std::string& community, int* disk1, int* disk2)
{
    CSnmpEngine engine;
    engine.SetAddress(address);
    engine.SetReadCommunity(community);
    engine.SetWriteCommunity(community);
    std::string oid1 = NasCell(nasmib::kDiskStatus, "1");
    std::string oid2 = NasCell(nasmib::kDiskStatus, "2");
    const char* oids[2] = {oid1.c_str(), oid2.c_str()};
    char v1[64], v2[64];
    char* values[2] = {v1, v2};
    int rc = engine.MultiGet(2, oids, values, 64);
    if (rc == 0) {
        if (disk1)
            *disk1 = std::atoi(v1);
        if (disk2)
            *disk2 = std::atoi(v2);
    }
    return rc;
}
