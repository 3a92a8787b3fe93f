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

const int kTries = 3;

} // namespace

CSnmpEngine DeviceEngine(const std::string& address, const std::string& community)
{
    CSnmpEngine engine;
    engine.SetAddress(address);
    engine.SetReadCommunity(community);
    engine.SetWriteCommunity(community);
    return engine;
}

CSnmpEngine DeviceEngine(const LoginCopy& login) { return DeviceEngine(login.address, login.community); }

void SnmpPause(int milliseconds) { Pause(milliseconds); }

int SnmpGetWithRetry(const LoginCopy& login, const std::string& oid, std::string& value)
{
    CSnmpEngine engine = DeviceEngine(login);
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

int SnmpSetWithRetry(const LoginCopy& login, const std::string& oid, const std::string& value)
{
    CSnmpEngine engine = DeviceEngine(login);
    for (int i = 0; i < kTries; ++i) {
        if (engine.SimpleSet(oid.c_str(), value.c_str()) == 0)
            return 0;
        Pause(kSnmpRetryPauseMs);
    }
    return -3;
}

int SnmpFindIndex(const LoginCopy& login, const std::string& column, const std::string& value, std::string& index)
{
    CSnmpEngine engine = DeviceEngine(login);
    // Every row is walked: a value met several times names its last row.
    const int rc = SnmpWalkColumn(engine, column, kTries, [&](const std::string& oid, const std::string& text) {
        if (value == text)
            index = NasRowOf(oid);
        return true;
    });
    return rc == 0 ? 0 : -3;
}

int SnmpWalkStep(CSnmpEngine& engine, const std::string& column, const std::string& from, int tries, std::string& oid,
                 std::string& value)
{
    for (int failures = 0;;) {
        char next[128];
        char text[kSnmpWalkValueSize];
        const int rc = engine.GetNext(from.c_str(), next, sizeof next, text, sizeof text, column.c_str());
        if (rc == 0) {
            oid = next;
            value = text;
        }
        if (rc == 0 || rc == 1 || ++failures >= tries)
            return rc;
    }
}

int SnmpWalkColumn(CSnmpEngine& engine, const std::string& column, int tries,
                   const std::function<bool(const std::string& oid, const std::string& value)>& visit)
{
    std::string current = column;
    for (;;) {
        std::string next, value;
        const int rc = SnmpWalkStep(engine, column, current, tries, next, value);
        if (rc != 0)
            return rc == 1 ? 0 : rc;
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

int SnmpNewRowIndex(const LoginCopy& login, const std::string& column, const std::string& name, int maxRows,
                    int& existingIndex)
{
    CSnmpEngine engine = DeviceEngine(login);
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

std::string GetUserPassword(const LoginCopy& login, const std::string& user)
{
    std::string index;
    if (SnmpFindIndex(login, nasmib::kUserName, user, index) == -3) {
        platform::MessageBox("Timeout!");
        return std::string();
    }
    std::string value;
    // A user who is not in the table has no row to read: that read could
    // only fail three times over.
    if (index.empty() || SnmpGetWithRetry(login, NasCell(nasmib::kUserPassword, index), value) == -3) {
        platform::MessageBox("Timeout!");
        return std::string();
    }
    return value;
}

int GetNasWebPort(const LoginCopy& login, int* status)
{
    CSnmpEngine engine = DeviceEngine(login);
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
    CSnmpEngine engine = DeviceEngine(address, community);
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
