#pragma once
#include <cstdint>

// One device's answer to discovery: who answered, from where, and on which
// local interface. A plain record copied by value.
struct NasInfo {
    uint32_t deviceAddress; // network order: source of the discovery reply
    unsigned char mac[6];
    uint32_t localAddress; // network order: the local interface that reaches the device
    uint32_t localMask;    // network order
    int32_t disk1State;    // reply byte 11, sign-extended
    int32_t disk2State;    // reply byte 12, sign-extended
    char name[256];        // NUL-terminated device name

    bool IsSameSubnet() const { return (deviceAddress & localMask) == (localAddress & localMask); }
    uint32_t GetLocalNetwork() const { return localAddress & localMask; }
};

static_assert(sizeof(NasInfo) == 284, "NasInfo keeps the layout of the device record");
