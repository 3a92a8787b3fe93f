#include "SnmpTestAgent.h"

#include <stdexcept>

#include "SnmpHelpers.h"
#include "stdafx.h"

namespace testsupport {

SnmpTestAgent::SnmpTestAgent(const testbed::NasDescription& nas, const std::string& community)
    : m_community(community)
    , m_oldDefaultPort(CSnmpEngine::DefaultPort())
{
    testbed::SeedNasMib(store, nas);
    testbed::AddNasRowRemovals(agent);
    agent.SetCommunity(community);
    std::string error;
    if (!agent.Start("127.0.0.1", 0, &error))
        throw std::runtime_error("SNMP agent: " + error);
}

SnmpTestAgent::~SnmpTestAgent()
{
    agent.Stop();
    CSnmpEngine::SetDefaultPort(m_oldDefaultPort);
}

CSnmpEngine SnmpTestAgent::Engine() const
{
    CSnmpEngine engine = DeviceEngine("127.0.0.1", m_community);
    engine.SetPort(Port());
    engine.SetTimeout(30);
    engine.SetRetries(0);
    return engine;
}

void SnmpTestAgent::PointContext() const
{
    CNasContext* ctx = GetNasContext();
    ctx->m_deviceAddress = "127.0.0.1";
    ctx->m_community = m_community;
    CSnmpEngine::SetDefaultPort(Port());
}

} // namespace testsupport
