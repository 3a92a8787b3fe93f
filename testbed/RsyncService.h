#pragma once
// The device's rsync service: a real `rsync --daemon` on TCP 873 with the
// modules "disk1" and "disk2", each rooted at a folder that plays that disk,
// writable, without authentication.
//
// Inside a private network namespace made with `unshare -rn` the daemon
// cannot run as root there (its setgroups call is refused), so it runs as a
// plain user of a nested user namespace (uid and gid 1000), without chroot
// and without uid/gid lines, and the device's namespace lets unprivileged
// programs bind low ports.
//
// Settings (config file, --set, control "set"):
//   rsync          1: start the service with the emulator        default 0
//   rsync_port     its TCP port                                  default 873
//   disk1_root, disk2_root   the folders of the two modules; without them
//                  the emulator makes folders of its own (removed when it ends)
//
// Control commands:
//   rsync                        OK running <port> | OK stopped
//   rsync port closed|open       stops the daemon (connections are refused) or starts it
//   rsync stall on|off           the daemon stands still (connections are taken
//                                and never answered) or goes on
//   rsync module missing disk1|disk2|off   the daemon no longer offers that module
//                                (it reads its configuration for every connection)
//   rsync root 1|2               OK <folder of that disk>
// The shares of the folder table (LOCATION Disk1 or Disk2) are folders of
// their disks, as on the device: made when the service starts and when a
// share is added.
#include <string>
#include <sys/types.h>

#include "ControlChannel.h"
#include "DeviceState.h"

namespace testbed {

class RsyncService {
public:
    explicit RsyncService(DeviceState& state);
    ~RsyncService();
    RsyncService(const RsyncService&) = delete;
    RsyncService& operator=(const RsyncService&) = delete;

    // Starts the daemon when the "rsync" setting asks for it.
    bool StartIfWanted(std::string* error);
    bool Start(std::string* error);
    void Stop();
    bool Running() const { return m_pid > 0; }

    void RegisterCommands(ControlChannel& channel);

private:
    // Returns once the port takes no connection (at most 3 s).
    void WaitClosed() const;
    bool WriteConfig(std::string* error);
    // A folder on its disk for every share of the folder table.
    void MakeShareFolders() const;
    std::string Command(const std::string& args);

    DeviceState& m_state;
    pid_t m_pid = -1;
    int m_port = 873;
    std::string m_dir; // the service's own folder (config, log)
    std::string m_roots[2];
    bool m_ownRoot[2] = {false, false};
    std::string m_missing; // module left out
    bool m_hooked = false; // told of the folder table's changes
};

} // namespace testbed
