#pragma once
// Disk quotas of users and groups: the device keeps one row per (name, disk)
// in its quota table; the program writes a row by posting the form
// "QuotaManagement.shtml" (one post per disk) and removes it by setting the
// row's status to 6. Users' rows carry the type "0", groups' rows "1".
#include <cstdint>
#include <string>
#include <vector>

#include "Job.h"
#include "stdafx.h"

class CSnmpEngine;

inline constexpr char kQuotaTypeUser[] = "0";
inline constexpr char kQuotaTypeGroup[] = "1";

// What the user and group dialogs know about the disks.
struct DiskQuotaInfo {
    int disk1Size = 0;    // MB, 0 when unread or absent
    int disk2Size = 0;    // MB
    int noQuotaDisk2 = 0; // non-zero: disk 2 takes no quota
    bool Disk1Usable() const { return disk1Size > 0; }
    bool Disk2Usable() const { return disk2Size > 0 && noQuotaDisk2 == 0; }
};
// Reads the two disk sizes and the disk-2 switch (each stays 0 when its read
// fails three times).
DiskQuotaInfo ReadDiskQuotaInfo(const LoginCopy& login);

// The quota fields of a user or group dialog.
struct QuotaInput {
    bool enabled = false; // "Enable" of the quota section checked
    bool remove = false;  // "Quota Remove" checked
    std::string disk1;    // as typed
    std::string disk2;
};

// A quota text as a number of MB: decimal digits only, no overflow.
// False for "" or anything else; value then undefined.
bool ParseQuotaMb(const std::string& text, uint64_t& value);

// Whether the size the device holds is the size that was sent, read as
// numbers ("0100" is stored as 100).
bool QuotaSizeMatches(const std::string& sent, const std::string& stored);

// The quota checks of both dialogs (0 valid, 1 refused after a box).
int ValidateQuotas(const QuotaInput& in, const DiskQuotaInfo& disks);

// FindQuotaRows when the table's row numbers leave no room for the two rows
// a save may add (the rows of the name are found all the same).
inline constexpr int kQuotaTableFull = -4;

// Walks the quota names; for each row of that name and type reads its disk
// and keeps the row as disk 1 or disk 2 row. Returns the last row index of
// the table (0 when empty), kQuotaTableFull, or -3 after three failed tries
// of one step or when a row number is no number.
int FindQuotaRows(const LoginCopy& login, const std::string& name, const char* type, std::string& disk1Index,
                  std::string& disk2Index);

// Removes the rows (row status 6), the higher index first; the rows that
// could not be removed, in that order.
std::vector<std::string> QuotaRowsNotRemoved(const LoginCopy& login, std::string disk1Index, std::string disk2Index);
// The same with "Timeout" for each row that could not be removed. False
// when one of them failed.
bool RemoveQuotaRows(const LoginCopy& login, std::string disk1Index, std::string disk2Index);

// One quota of a user or group as the quota table lists it.
struct QuotaEntry {
    std::string name;
    std::string disk; // "1" or "2"
    std::string size; // MB
};
// Walks the quota table with engine and reads each row's name, disk, size
// and type together; a row the device keeps answering busy is asked again
// for at most the busy-row limit, then counts as gone. The entries of that
// type, in table order.
std::vector<QuotaEntry> ReadQuotaEntries(const platform::JobControl& job, CSnmpEngine& engine, const char* type);
// Puts each entry's size into the disk 1 or disk 2 quota of the first list
// row (a user or group row) of that name.
template <class Row> void ApplyQuotaEntries(const std::vector<QuotaEntry>& entries, std::vector<Row>& rows)
{
    for (const QuotaEntry& entry : entries)
        for (Row& row : rows)
            if (row.name == entry.name) {
                (entry.disk == "1" ? row.disk1Quota : row.disk2Quota) = entry.size;
                break;
            }
}

// The whole request of one quota row: mode 1 a new row, 2 an existing one.
// escapedName is already escaped for the form.
std::string BuildQuotaRequest(const std::string& index, const std::string& escapedName, const std::string& size,
                              const std::string& address, const std::string& authorization, const std::string& disk,
                              int mode, const char* type);

// Writes or removes the quotas of a user (type "0") or group (type "1") as
// the dialog's quota fields say. Each disk's post is read back from the
// quota table; a post that the device did not confirm or did not apply is
// reported with "Quota setting of Disk%d failed!". True when everything
// asked for is on the device (or nothing was asked).
bool SendQuotaSettings(const platform::JobControl& job, const LoginCopy& login, const std::string& name,
                       const char* type, const QuotaInput& in, const DiskQuotaInfo& disks);

// How long a read-back of a form post keeps looking for the device's change.
inline constexpr int64_t kReadBackLimitMs = 20000;
inline constexpr int64_t kReadBackPauseMs = 1000;
// How long a row that the device answers with no-such-name (busy) is asked
// again before it counts as gone.
inline constexpr int64_t kBusyRowLimitMs = 10000;
inline constexpr int64_t kBusyRowPauseMs = 500;
