#pragma once
// Device access shared by the dialogs: a GET and a SET that retry, the row of
// a value in a table column, and three device checks. Each call builds its own
// CSnmpEngine; all block and are meant for worker threads. The login they use
// is the job's own copy (CopyLogin), never the context's live fields.
#include <functional>
#include <string>

#include "stdafx.h"
#include "y_snmp.h"

// Pause between tries of the retrying helpers.
inline constexpr int kSnmpRetryPauseMs = 2000;

// Pauses the calling thread on the program's clock (for other retry loops).
void SnmpPause(int milliseconds);

// An engine aimed at a device: its address, and the community for reading
// and writing.
CSnmpEngine DeviceEngine(const std::string& address, const std::string& community);
// The same for the device of a login.
CSnmpEngine DeviceEngine(const LoginCopy& login);

// Up to 3 SimpleGet tries with the login's address and community, a pause
// after every failed try. 0 with value set, or -3 (value untouched).
int SnmpGetWithRetry(const LoginCopy& login, const std::string& oid, std::string& value);
// The same with SimpleSet (which learns the object's syntax first).
int SnmpSetWithRetry(const LoginCopy& login, const std::string& oid, const std::string& value);
// Walks column to its end; index := the row (text after the last ".") of the
// last row whose value equals value exactly, untouched when none does.
// 0 when the end of the column was reached, -3 after three failed tries of
// one step.
int SnmpFindIndex(const LoginCopy& login, const std::string& column, const std::string& value, std::string& index);

// One step of a walk down column: the row after `from` (its full OID, and its
// value cut at kSnmpWalkValueSize - 1 characters). A failed step is tried
// again until it has failed tries times in a row. 0 with the row, 1 at the
// column's end, else the code of the last failed try.
inline constexpr unsigned kSnmpWalkValueSize = 260;
int SnmpWalkStep(CSnmpEngine& engine, const std::string& column, const std::string& from, int tries, std::string& oid,
                 std::string& value);
// Walks column step by step with one engine, calling visit with each row's
// full OID and value until visit returns false or the column ends. 0 when the
// column ended or visit stopped the walk, else the code of the step that
// failed (tries times in a row).
int SnmpWalkColumn(CSnmpEngine& engine, const std::string& column, int tries,
                   const std::function<bool(const std::string& oid, const std::string& value)>& visit);
// Where a new row named name goes in a name column (users, groups): its
// index, the last row's + 1 (1 when empty); -1 when a row holds the name
// already (existingIndex := that row), -2 when the column holds maxRows rows
// (0: no limit), -3 after three failed tries of one step or when a row
// number of the column is no number or leaves no room for one more row.
int SnmpNewRowIndex(const LoginCopy& login, const std::string& column, const std::string& name, int maxRows,
                    int& existingIndex);
// A row number as the device gives it (the text after the last "." of an
// OID): decimal digits only, within 0 .. INT_MAX. False for anything else.
bool ParseRowIndex(const std::string& text, int& value);
// The stored password of a user of the login's device, or "" after the box
// "Timeout!".
std::string GetUserPassword(const LoginCopy& login, const std::string& user);
// The device's web port (1-65535), or -1; *status := the last read's code.
int GetNasWebPort(const LoginCopy& login, int* status);
// Both disks' states (2 ready, -2 not formatted, -1 formatting, 1 not
// installed, 0 none) in one GET; the engine's result code.
int GetDiskStatus(const std::string& address, const std::string& community, int* disk1, int* disk2);
