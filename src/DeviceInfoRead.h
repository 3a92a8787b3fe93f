#pragma once
// The read behind the "Device Information" dialog: the device's system values
// and its disks and USB disks, over SNMP. No widgets; runs on a worker.
#include <functional>
#include <string>
#include <vector>

#include "Job.h"

class CSnmpEngine;

// One row of the storage table.
struct DeviceStorageRow {
    std::string name; // "Disk1", "Disk2", "USB" + index
    int fileSystem = 0;
    int totalMb = 0;
    int usedMb = 0;
};

// Everything one read gets.
struct DeviceInfoValues {
    std::string name;
    std::string firmwareVersion;
    std::string packageVersion;
    std::string bootTime;
    std::string lanInterface;
    int diskMode = 0;
    std::vector<DeviceStorageRow> rows;
};

// Tries of one request that the device answers with noSuchName (busy)
// before the read gives up with that answer, and the pause between them.
inline constexpr int kDeviceInfoBusyTries = 3;
inline constexpr int kDeviceInfoBusyPauseMs = 500;
// More USB rows than any device has; the table walk stops there.
inline constexpr int kDeviceInfoMaxUsbRows = 64;

// Test seam: called with every engine a read makes, after it was aimed at the
// device (time-outs, retries). Returns the old hook.
using DeviceInfoEngineHook = std::function<void(CSnmpEngine&)>;
DeviceInfoEngineHook SetDeviceInfoEngineHook(DeviceInfoEngineHook hook);

// Reads everything from the device at address; 0, or the engine's result of
// the failing request (SNMP_ENGINE_FAILURE when stopped).
int ReadDeviceInfo(const std::string& address, const std::string& community, DeviceInfoValues& values,
                   const platform::JobControl& job);

// The device's file-system type text as a number: "1" ... "3", or the names
// "vfat"/"fat32" (1), "ext2" (2), "ext3" (3); 0 otherwise.
int ParseFileSystemType(const std::string& text);
