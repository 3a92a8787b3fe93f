// Malformed SNMP datagrams into the emulator's agent: it answers or drops,
// never crashes, and what it answers is a well-formed version 1 message.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "MibStore.h"
#include "NasMibSeed.h"
#include "SnmpAgent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static testbed::MibStore store;
    static testbed::SnmpAgent* agent = [] {
        auto* a = new testbed::SnmpAgent(store);
        testbed::AddNasRowRemovals(*a);
        return a;
    }();
    static const testbed::NasDescription nas = testbed::NasDescription::Default();
    // SETs change the tables; every input starts from the same device.
    testbed::SeedNasMib(store, nas);

    std::string reply;
    if (!agent->HandleDatagram(data, size, reply))
        return 0;

    // The answer must decode again as a version 1 response.
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_1;
    auto* pdu = static_cast<netsnmp_pdu*>(calloc(1, sizeof(netsnmp_pdu)));
    std::string copy = reply;
    int rc = snmp_parse(nullptr, &session, pdu, reinterpret_cast<u_char*>(copy.data()), copy.size());
    if (rc != 0 || pdu->command != SNMP_MSG_RESPONSE || pdu->version != SNMP_VERSION_1)
        std::abort();
    snmp_free_pdu(pdu);
    return 0;
}
