#pragma once
// What the SNMP benchmarks share: the emulator's agent in this process on
// 127.0.0.1 (a free port), serving a device with numbered share folders.
#include <cstdio>
#include <cstdlib>

#include "MibStore.h"
#include "NasMibSeed.h"
#include "SnmpAgent.h"

namespace bench {

struct Agent {
    testbed::MibStore store;
    testbed::SnmpAgent agent{store};
    // nas with its folders replaced by rows copies of row, numbered from 1
    // and named "share0001" on; exits when the agent does not start.
    Agent(testbed::NasDescription nas, int rows, testbed::NasDescription::Folder row, const char* community)
    {
        nas.folders.clear();
        for (int i = 1; i <= rows; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "share%04d", i);
            row.index = i;
            row.shareName = name;
            nas.folders.push_back(row);
        }
        testbed::SeedNasMib(store, nas);
        agent.SetCommunity(community);
        if (!agent.Start("127.0.0.1", 0)) {
            std::fprintf(stderr, "agent does not start\n");
            std::exit(1);
        }
    }
};

} // namespace bench
