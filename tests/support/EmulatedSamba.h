#pragma once
// The emulated device's shares over Samba, and the PC's session bus with the
// desktop's mount daemon (gvfsd), for tests that connect to the shares for
// real.
//
//   testsupport::SessionBus bus;           // before the first GIO call
//   testsupport::EmulatedSamba samba(nas); // smbd in the device's namespace
//
// EmulatedSamba writes an smb.conf with one share per folder row of the
// emulator (open folders are guest shares, private ones take their lists'
// users and groups) and the accounts of its user table, and starts smbd in
// the device's namespace (in a mount namespace of its own, where the
// device's accounts are the only ones).
#include <filesystem>
#include <string>
#include <sys/types.h>

#include "EmulatedNas.h"
#include "TestSupport.h"

namespace testsupport {

class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    bool Started() const { return m_pid > 0; }

private:
    TempDir m_dir;
    pid_t m_pid = -1;
};

class EmulatedSamba {
public:
    explicit EmulatedSamba(EmulatedNas& nas);
    ~EmulatedSamba();
    bool Started() const { return m_pid > 0; }
    // The folder behind a share.
    std::filesystem::path SharePath(const std::string& share) const { return m_dir / ("shares/" + share); }
    std::string Log() const;

private:
    EmulatedNas& m_nas;
    TempDir m_dir;
    pid_t m_pid = -1;
};

} // namespace testsupport
