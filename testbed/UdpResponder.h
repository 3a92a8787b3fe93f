#pragma once
// The device's side of the UDP protocol: listens on 0.0.0.0:26215, joined to
// 239.255.9.10 and 224.0.0.1 on every multicast interface, and answers every
// opcode from the device state.
//
// A reply names, in bytes 7-10, the address the request came from (the PC's
// interface). It goes back by unicast when that address shares a subnet with
// the interface the request came in on, else to 224.0.0.1:26214 through that
// interface. Requests that name another device's MAC are not answered;
// multicast requests are answered only when sent to one of the state's
// answer_groups (so a PC that sends a discovery to both groups hears one
// answer).
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "DeviceState.h"

namespace testbed {

class UdpResponder {
public:
    explicit UdpResponder(DeviceState& state, uint16_t port = 26215);
    ~UdpResponder();
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    bool Start(std::string* error);
    void Stop();

    // The reply to one request that came from source (network order), before
    // faults; empty when the device does not answer it. *networkChange tells
    // that an accepted set-network request asks for ip/mask/gateway.
    struct NetworkChange {
        bool requested = false;
        uint32_t ip = 0, mask = 0, gateway = 0;
    };
    std::vector<unsigned char> Answer(const unsigned char* request, size_t len, uint32_t source,
                                      NetworkChange* networkChange);

private:
    void Run();
    void Handle(const unsigned char* request, size_t len, uint32_t source, uint16_t sourcePort, uint32_t destination,
                int ifIndex);
    void ApplyNetwork(const NetworkChange& change, int ifIndex);

    DeviceState& m_state;
    uint16_t m_port;
    int m_socket = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

// Splits a Base64 payload into its lines; false when it does not decode.
bool DecodePayloadLines(const unsigned char* data, size_t len, std::vector<std::string>& lines);

} // namespace testbed
