#pragma once
// The emulator's SNMP version 1 agent: serves a MibStore over UDP. Messages
// are decoded and encoded by net-snmp; what the agent answers is decided
// here. One thread receives and answers requests in turn.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MibStore.h"

namespace testbed {

class SnmpAgent {
public:
    explicit SnmpAgent(MibStore& store);
    ~SnmpAgent();
    SnmpAgent(const SnmpAgent&) = delete;
    SnmpAgent& operator=(const SnmpAgent&) = delete;

    // Binds UDP address:port (port 0: an ephemeral one, see Port()) and starts
    // answering. False, with the reason in *error, when the socket cannot be
    // bound or the agent already runs.
    bool Start(const std::string& address = "127.0.0.1", uint16_t port = 0, std::string* error = nullptr);
    // Stops answering and closes the socket; Start may be called again.
    void Stop();
    bool Running() const { return m_fd >= 0; }
    uint16_t Port() const { return m_port; }

    // The only community answered; requests with any other are dropped
    // without an answer, as an agent does. Default "public".
    void SetCommunity(const std::string& community);
    std::string Community() const;

    // A SET of value on a cell of column removes the cell's whole row
    // (entry = column without its last sub-identifier), e.g. a row status set
    // to 6 or a USB eject request set to 2.
    void AddRowRemoval(const std::string& column, int32_t value);

    // ---- Fault switches (for tests and the control channel) ----
    // The next n requests are dropped unanswered (also ones with a wrong
    // community). Adds to what is left of an earlier call.
    void DropNextRequests(int n);
    int PendingDrops() const { return m_drops.load(); }
    // Any request touching an object under prefix (asked for, or the object
    // a GETNEXT would answer) gets noSuchName.
    void AddNoSuchNamePrefix(const std::string& prefix);
    void ClearNoSuchNamePrefixes();
    // After the next `skip` requests, the following `count` ones are answered
    // with noSuchName whatever they ask (a busy device). Replaces an earlier call.
    void FailRequests(int count, int skip = 0);
    // GETNEXT answers the OID it was asked for instead of the next one.
    void SetNonIncreasingNext(bool on) { m_nonIncreasing = on; }
    // Every request is dropped unanswered while on (a device that is
    // rebooting). Not touched by ClearFaults.
    void SetSilent(bool on) { m_silent = on; }
    bool Silent() const { return m_silent.load(); }
    // Every answer is sent twice while on (a network that repeats datagrams).
    void SetRepeatedAnswers(bool on) { m_repeat = on; }
    void ClearFaults();

    // Requests received (dropped ones included) and answers sent.
    uint64_t RequestCount() const { return m_requests.load(); }
    uint64_t AnswerCount() const { return m_answers.load(); }

    // The objects written by accepted SETs, in order (a row removal is
    // recorded as the SET that asked for it). The last kKeptWrites are kept;
    // index counts from 0 over all writes, -1 is the last one.
    static constexpr size_t kKeptWrites = 256;
    struct Write {
        Oid oid;
        MibValue value;
    };
    uint64_t WriteCount() const;
    std::optional<Write> RecordedWrite(long index) const;

    // Decodes one datagram and works out the answer. False when nothing is to
    // be sent back (dropped, undecodable, wrong version or community, not a
    // request). Used by the receive thread and by the fuzz target.
    bool HandleDatagram(const uint8_t* data, size_t length, std::string& reply);

private:
    void Run();
    bool UnderFaultPrefix(const Oid& oid) const;

    MibStore& m_store;
    mutable std::mutex m_lock; // community, prefixes, removal rules
    std::string m_community = "public";
    std::vector<Oid> m_noSuchNamePrefixes;
    struct Removal {
        Oid column;
        int32_t value;
    };
    std::vector<Removal> m_removals;

    std::atomic<int> m_drops{0};
    int m_failSkip = 0;  // guarded by m_lock
    int m_failCount = 0; // guarded by m_lock
    std::atomic<bool> m_nonIncreasing{false};
    std::atomic<bool> m_silent{false};
    std::atomic<bool> m_repeat{false};
    std::atomic<uint64_t> m_requests{0};
    std::atomic<uint64_t> m_answers{0};
    std::deque<Write> m_writes; // guarded by m_lock
    uint64_t m_writeCount = 0;  // guarded by m_lock

    int m_fd = -1;
    int m_wake = -1; // eventfd that ends the receive loop
    uint16_t m_port = 0;
    std::thread m_thread;
};

} // namespace testbed
