#include "QuotaForm.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Clock.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include "y_snmp.h"

namespace {

// Tries of one step of the quota table's walk, and of one of its cells.
constexpr int kQuotaTries = 3;

// One cell of a quota row; a disk cell holds "1" or "2".
bool ReadQuotaCell(CSnmpEngine& engine, const std::string& oid, std::string& value, bool disk)
{
    for (int i = 0; i < kQuotaTries; ++i)
        if (engine.SimpleGet(oid, value) == 0 && (!disk || value == "1" || value == "2"))
            return true;
    return false;
}

bool AllDigits(const std::string& text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string Format(const char* format, int value)
{
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A quota text within 1 .. size (the text holds digits only).
bool InRange(const std::string& text, int size)
{
    uint64_t value = 0;
    return ParseQuotaMb(text, value) && value >= 1 && value <= static_cast<uint64_t>(size);
}

// Reads back the quota row of (name, type, disk): true once it holds size.
// Looks again after a pause while the device has not got there yet.
bool QuotaRowReadsBack(const platform::JobControl& job, const LoginCopy& login, const std::string& name,
                       const char* type, int disk, const std::string& size)
{
    const int64_t start = platform::TickMs();
    for (;;) {
        std::string d1, d2;
        if (FindQuotaRows(login, name, type, d1, d2) != -3) {
            const std::string& row = disk == 1 ? d1 : d2;
            std::string value;
            if (!row.empty() && DeviceEngine(login).SimpleGet(NasCell(nasmib::kQuotaSize, row), value) == 0 &&
                QuotaSizeMatches(size, value))
                return true;
        }
        if (platform::TickMs() - start > kReadBackLimitMs || !job.Pause(kReadBackPauseMs))
            return false;
    }
}

// A row number as an OID may carry it: digits, at most 2^32 - 1.
bool ParseRowNumber(const std::string& text, uint64_t& value)
{
    return ParseQuotaMb(text, value) && value <= UINT32_MAX;
}

} // namespace

DiskQuotaInfo ReadDiskQuotaInfo(const LoginCopy& login)
{
    DiskQuotaInfo info;
    std::string value;
    if (SnmpGetWithRetry(login, NasCell(nasmib::kDiskTotalSize, "1"), value) == 0)
        info.disk1Size = std::atoi(value.c_str());
    if (SnmpGetWithRetry(login, NasCell(nasmib::kDiskTotalSize, "2"), value) == 0)
        info.disk2Size = std::atoi(value.c_str());
    if (SnmpGetWithRetry(login, nasmib::kNoQuotaDisk2, value) == 0)
        info.noQuotaDisk2 = std::atoi(value.c_str());
    return info;
}

bool ParseQuotaMb(const std::string& text, uint64_t& value)
{
    if (text.empty() || !AllDigits(text))
        return false;
    value = 0;
    for (char c : text) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool QuotaSizeMatches(const std::string& sent, const std::string& stored)
{
    uint64_t a = 0, b = 0;
    return ParseQuotaMb(sent, a) && ParseQuotaMb(Trim(stored), b) && a == b;
}

int ValidateQuotas(const QuotaInput& in, const DiskQuotaInfo& disks)
{
    if (in.remove || !in.enabled)
        return 0;
    if (!AllDigits(in.disk1)) {
        platform::MessageBox("Please input Disk1 quota with integer.");
        return 1;
    }
    if (!AllDigits(in.disk2)) {
        platform::MessageBox("Please input Disk2 quota with integer.");
        return 1;
    }
    // A number too large for any counter is out of range too, never taken
    // for what is left of it after an overflow.
    if (!in.disk1.empty() && disks.disk1Size > 0 && !InRange(in.disk1, disks.disk1Size)) {
        platform::MessageBox(Format("Disk1 Quota out of range (1 ~ %d).", disks.disk1Size));
        return 1;
    }
    if (!in.disk2.empty() && disks.Disk2Usable() && !InRange(in.disk2, disks.disk2Size)) {
        platform::MessageBox(Format("Disk2 Quota out of range (1 ~ %d).", disks.disk2Size));
        return 1;
    }
    return 0;
}

int FindQuotaRows(const LoginCopy& login, const std::string& name, const char* type, std::string& disk1Index,
                  std::string& disk2Index)
{
    CSnmpEngine engine = DeviceEngine(login);
    int last = 0;
    bool full = false, refused = false;
    const int rc =
        SnmpWalkColumn(engine, nasmib::kQuotaName, kQuotaTries, [&](const std::string& oid, const std::string& value) {
            const std::string row = NasRowOf(oid);
            // A row number that is no number refuses the table; one that leaves
            // no room for the two rows a save may add after it fills it.
            uint64_t number = 0;
            if (!ParseRowNumber(row, number)) {
                DebugTrace("quota row %s out of range\n", row.c_str());
                refused = true;
                return false;
            }
            if (name == value) {
                std::string rowType, disk;
                if (!ReadQuotaCell(engine, NasCell(nasmib::kQuotaType, row), rowType, false)) {
                    refused = true;
                    return false;
                }
                if (rowType == type) {
                    if (!ReadQuotaCell(engine, NasCell(nasmib::kQuotaDisk, row), disk, true)) {
                        refused = true;
                        return false;
                    }
                    (disk == "1" ? disk1Index : disk2Index) = row;
                }
            }
            if (number > INT_MAX - 2)
                full = true;
            else
                last = static_cast<int>(number);
            return true;
        });
    if (rc != 0 || refused)
        return -3;
    return full ? kQuotaTableFull : last;
}

std::vector<QuotaEntry> ReadQuotaEntries(const platform::JobControl& job, CSnmpEngine& engine, const char* type)
{
    std::vector<QuotaEntry> entries;
    SnmpWalkColumn(engine, nasmib::kQuotaIndex, 1, [&](const std::string& oid, const std::string&) {
        const std::string row = NasRowOf(oid);
        std::string n = NasCell(nasmib::kQuotaName, row), d = NasCell(nasmib::kQuotaDisk, row),
                    s = NasCell(nasmib::kQuotaSize, row), t = NasCell(nasmib::kQuotaType, row);
        const char* oids[4] = {n.c_str(), d.c_str(), s.c_str(), t.c_str()};
        char v[4][64];
        char* values[4] = {v[0], v[1], v[2], v[3]};
        // A row the device keeps answering with no-such-name is gone.
        const int64_t start = platform::TickMs();
        int rc;
        while ((rc = engine.MultiGet(4, oids, values, 64)) == 2) {
            if (platform::TickMs() - start > kBusyRowLimitMs || !job.Pause(kBusyRowPauseMs))
                break;
        }
        if (rc == 0 && std::strcmp(v[3], type) == 0)
            entries.push_back({v[0], v[1], v[2]});
        return true;
    });
    return entries;
}

std::vector<std::string> QuotaRowsNotRemoved(const LoginCopy& login, std::string disk1Index, std::string disk2Index)
{
    if (std::atol(disk1Index.c_str()) < std::atol(disk2Index.c_str()))
        std::swap(disk1Index, disk2Index);
    std::vector<std::string> left;
    for (const std::string& index : {disk1Index, disk2Index})
        if (!index.empty() && SnmpSetWithRetry(login, NasCell(nasmib::kQuotaRowStatus, index),
                                               std::to_string(nasmib::kRowStatusDestroy)) == -3)
            left.push_back(index);
    return left;
}

bool RemoveQuotaRows(const LoginCopy& login, std::string disk1Index, std::string disk2Index)
{
    const std::vector<std::string> left = QuotaRowsNotRemoved(login, std::move(disk1Index), std::move(disk2Index));
    for (size_t i = 0; i < left.size(); ++i)
        platform::MessageBox("Timeout");
    return left.empty();
}

std::string BuildQuotaRequest(const std::string& index, const std::string& escapedName, const std::string& size,
                              const std::string& address, const std::string& authorization, const std::string& disk,
                              int mode, const char* type)
{
    CSetObjectBody body;
    if (mode == 1)
        body.RowStart("QuotaStart", nasmib::kQuotaRowStatus, index);
    else
        body.Ignore("QuotaStart");
    body.Integer("QuotaIndex", nasmib::kQuotaIndex, index, index)
        .String("QuotaName", nasmib::kQuotaName, index, escapedName, CSetObjectBody::kAsIs)
        .Integer("QuotaDisk", nasmib::kQuotaDisk, index, disk)
        .Integer("QuotaSize", nasmib::kQuotaSize, index, size)
        .Integer("QuotaType", nasmib::kQuotaType, index, type)
        .Ignore("QuotaRowFlag");
    if (mode == 1)
        body.RowEnd("QuotaEnd", nasmib::kQuotaRowStatus, index);
    else
        body.Ignore("QuotaEnd");

    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "QuotaManagement";
    post.referer = mode == 1 ? "AddGroupQuota.shtml?-1" : "AddGroupQuota.shtml?1";
    post.accept = kHttpAcceptA2;
    post.userAgent = kHttpUserAgentU1;
    post.host = address;
    post.authorization = authorization;
    post.body = body.Text();
    return BuildFormPostRequest(post);
}

bool SendQuotaSettings(const platform::JobControl& job, const LoginCopy& login, const std::string& name,
                       const char* type, const QuotaInput& in, const DiskQuotaInfo& disks)
{
    const bool user = std::string(type) == kQuotaTypeUser;
    // A user's quota section does nothing while it is off; a group's
    // "Quota Remove" acts on its own.
    if (user ? !in.enabled : (!in.enabled && !in.remove))
        return true;
    const int port = GetNasWebPort(login, nullptr);
    if (port == -1) {
        platform::MessageBox("NAS is busy or disconnected.");
        return false;
    }
    std::string d1, d2;
    int last = FindQuotaRows(login, name, type, d1, d2);
    if (last == -3) {
        platform::MessageBox("Timeout!");
        return false;
    }
    // Every form post authorises with the password the device holds.
    const std::string authorization = MakeDeviceAuthorization(login);
    if (authorization.empty())
        return false;
    if (in.remove)
        return RemoveQuotaRows(login, d1, d2);

    const std::string& address = login.address;
    const std::string escaped = EscapeFormValue(name);
    bool ok = true;
    struct Disk {
        int number;
        const std::string& size;
        const std::string& row;
        bool usable;
        HttpWaitLimits limits;
    };
    const Disk list[2] = {
        {1, in.disk1, d1, in.disk1.empty() ? false : (user ? disks.disk1Size >= 1 : true),
         user ? kHttpLimitsOneTry : kHttpLimitsShort},
        {2, in.disk2, d2, !in.disk2.empty() && disks.noQuotaDisk2 == 0 && (user ? disks.disk2Size >= 1 : true),
         user ? kHttpLimitsOneTry : kHttpLimitsStandard},
    };
    // A table whose row numbers are used up takes no new row; the rows a
    // name has already can still be changed.
    for (const Disk& disk : list)
        if (last == kQuotaTableFull && in.enabled && disk.usable && disk.row.empty()) {
            platform::MessageBox("The device's quota table is full.");
            return false;
        }
    for (const Disk& disk : list) {
        if (!in.enabled || !disk.usable)
            continue;
        if (job.Stopped())
            return false;
        std::string index = disk.row;
        int mode = 2;
        if (index.empty()) {
            index = std::to_string(++last);
            mode = 1;
        }
        const std::string request = BuildQuotaRequest(index, escaped, disk.size, address, authorization,
                                                      std::to_string(disk.number), mode, type);
        HttpSendOptions options;
        options.limits = disk.limits;
        if (user) {
            // A user's failed send is shown and the next disk still tried.
            options.sendFailureText = "Header send failed last packet!";
            options.distinctSendFailure = true;
        }
        const int rc = SendHttpRequestWithOptions(address, static_cast<unsigned>(port), request, options);
        if (rc == kHttpSocketFailed)
            return false; // already shown; the other disk is not tried
        if (rc == kHttpSendFailed) {
            ok = false;
            continue;
        }
        // With or without the device's "200 OK", its quota table decides.
        if (!QuotaRowReadsBack(job, login, name, type, disk.number, disk.size)) {
            platform::MessageBox(Format("Quota setting of Disk%d failed!", disk.number));
            ok = false;
        }
    }
    return ok;
}
