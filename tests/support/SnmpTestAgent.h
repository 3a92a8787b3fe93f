#pragma once
// An emulator SNMP agent inside the test process, on 127.0.0.1 and an
// ephemeral port, seeded with the device's tables.
#include <cstdint>
#include <string>

#include "MibStore.h"
#include "NasMibSeed.h"
#include "SnmpAgent.h"
#include "y_snmp.h"

namespace testsupport {

class SnmpTestAgent {
public:
    explicit SnmpTestAgent(const testbed::NasDescription& nas = testbed::NasDescription::Default(),
                           const std::string& community = "c0mm");
    ~SnmpTestAgent();

    uint16_t Port() const { return agent.Port(); }
    const std::string& Community() const { return m_community; }
    // An engine aimed at the agent: short time-out (0.3 s), no retries.
    CSnmpEngine Engine() const;
    // Points the program-wide context (address, community) and the engines'
    // default port at the agent, for the helpers that read the context.
    void PointContext() const;

    testbed::MibStore store;
    testbed::SnmpAgent agent{store};

private:
    std::string m_community;
    uint16_t m_oldDefaultPort;
};

} // namespace testsupport
