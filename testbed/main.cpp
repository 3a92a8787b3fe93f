// tolvane-testbed: plays the NAS device for tests and demonstrations.
// See kHelp below; settings in DeviceState.h and EmulatedDevice.h, control
// commands in DeviceCommands.h and EmulatedDevice.h.
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

#include "ControlChannel.h"
#include "DeviceCommands.h"
#include "DeviceState.h"
#include "EmulatedDevice.h"
#include "RsyncService.h"
#include "UdpResponder.h"

namespace {

std::mutex g_quitLock;
std::condition_variable g_quitSignal;
bool g_quit = false;

void Quit()
{
    std::lock_guard<std::mutex> lock(g_quitLock);
    g_quit = true;
    g_quitSignal.notify_all();
}

const char kHelp[] = "usage: tolvane-testbed [--config FILE] [--set KEY=VALUE]... [--control SOCKET]\n"
                     "                       [--udp-port N] [--no-udp] [--snmp-port N] [--no-snmp]\n"
                     "                       [--web-port N] [--no-web] [--help]\n"
                     "\n"
                     "Plays a two-disk NAS device: its UDP service (discovery, login, network set-up,\n"
                     "progress, install status) on UDP 26215, its SNMP v1 agent on UDP 161 answering the\n"
                     "community it hands out at login, and its web CGI (Basic authorization, the\n"
                     "setobject forms, the package upload) on the port its SNMP object 20.11.0 reports.\n"
                     "Users, passwords and disk states are one set of objects that all three serve.\n"
                     "\n"
                     "  --config FILE     settings, one \"key = value\" a line (\"#\" starts a comment)\n"
                     "  --set KEY=VALUE   one setting, applied after the config file, in order\n"
                     "  --control SOCKET  line command channel on that Unix socket (\"quit\" ends the program)\n"
                     "  --udp-port N      UDP port of the device protocol (26215)\n"
                     "  --snmp-port N     UDP port of the SNMP agent (setting snmp_port, 161; 0: any)\n"
                     "  --web-port N      TCP port of the web server (setting web_port, 80; 0: any)\n"
                     "  --no-udp, --no-snmp, --no-web   leave that service out\n"
                     "\n"
                     "Settings (defaults give a ready device with two disks and the login admin/admin):\n"
                     "  name mac community firmware user=NAME:PASSWORD:LEVEL[:GROUPS] remove_user\n"
                     "  disk1 disk2 (2 ready, -2 unformatted, -1 formatting, 1 package not installed,\n"
                     "  0 no disk, -10 not ready) disk1_size disk2_size=TOTAL[:USED[:FS]]\n"
                     "  folder=INDEX:SHARE[:LOCATION[:TYPE[:READ[:WRITE]]]] usb=INDEX:TOTAL:USED[:FS]\n"
                     "  group=INDEX:NAME[:USERS] quota=INDEX:NAME:DISK:MB:TYPE (\"none\" empties a table)\n"
                     "  disk_mode format_state no_quota_disk2 web_port snmp_port package_version boot_time\n"
                     "  device_state mib=OID i|s VALUE\n"
                     "  address mask gateway dhcp_address dhcp_mask dhcp_gateway apply_network ignore_network\n"
                     "  answer_groups progress install_status\n"
                     "  rsync (1: run an rsync daemon, modules disk1 and disk2) rsync_port disk1_root disk2_root\n"
                     "  format_ms after_format package_file package_size install_check_ms reboot_ms\n"
                     "  reboot_wait_ms\n"
                     "\n"
                     "Control commands: ping get set fault requests request snmp web mib job reboot rsync quit\n"
                     "(see testbed/DeviceCommands.h, testbed/EmulatedDevice.h and testbed/RsyncService.h).\n"
                     "Prints \"ready\" once every service listens; runs until quit, SIGTERM or SIGINT.\n";

int Usage(const char* why)
{
    std::fprintf(stderr, "tolvane-testbed: %s\n%s", why, kHelp);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Signals are taken by one thread; every other thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    testbed::DeviceState state;
    // The device first: its objects take the table settings of the config.
    testbed::EmulatedDevice device(state);
    testbed::EmulatedDevice::Options services;
    std::string controlPath;
    long long udpPort = 26215;
    bool udp = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        std::string error;
        if (arg == "--config") {
            const char* v = value();
            if (!v)
                return Usage("--config needs a file");
            if (!state.LoadFile(v, &error))
                return Usage(error.c_str());
        } else if (arg == "--set") {
            const char* v = value();
            const char* eq = v ? std::strchr(v, '=') : nullptr;
            if (!eq)
                return Usage("--set needs KEY=VALUE");
            if (!state.Set(std::string(v, eq), eq + 1, &error))
                return Usage(error.c_str());
        } else if (arg == "--control") {
            const char* v = value();
            if (!v)
                return Usage("--control needs a socket path");
            controlPath = v;
        } else if (arg == "--udp-port") {
            const char* v = value();
            if (!v || !testbed::ParseInt(v, 1, 65535, udpPort))
                return Usage("--udp-port needs a port");
        } else if (arg == "--no-udp") {
            udp = false;
        } else if (arg == "--snmp-port" || arg == "--web-port") {
            const char* v = value();
            long long port = 0;
            if (!v || !testbed::ParseInt(v, 0, 65535, port))
                return Usage((arg + " needs a port").c_str());
            (arg == "--snmp-port" ? services.snmpPort : services.webPort) = static_cast<int>(port);
        } else if (arg == "--no-snmp") {
            services.snmp = false;
        } else if (arg == "--no-web") {
            services.web = false;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }

    std::string error;
    if (!device.Start(services, &error)) {
        std::fprintf(stderr, "tolvane-testbed: %s\n", error.c_str());
        return 1;
    }
    testbed::UdpResponder responder(state, static_cast<uint16_t>(udpPort));
    if (udp && !responder.Start(&error)) {
        std::fprintf(stderr, "tolvane-testbed: UDP service: %s\n", error.c_str());
        return 1;
    }
    testbed::RsyncService rsync(state);
    if (!rsync.StartIfWanted(&error)) {
        std::fprintf(stderr, "tolvane-testbed: %s\n", error.c_str());
        return 1;
    }
    testbed::ControlChannel channel;
    testbed::RegisterDeviceCommands(channel, state);
    device.RegisterCommands(channel);
    rsync.RegisterCommands(channel);
    channel.Register("quit", [](const std::string&) {
        Quit();
        return std::string("OK");
    });
    if (!controlPath.empty() && !channel.Start(controlPath, &error)) {
        std::fprintf(stderr, "tolvane-testbed: %s\n", error.c_str());
        return 1;
    }

    std::thread signalWaiter([&signals] {
        int sig = 0;
        sigwait(&signals, &sig);
        Quit();
    });
    signalWaiter.detach();

    std::printf("ready\n");
    std::fflush(stdout);
    {
        std::unique_lock<std::mutex> lock(g_quitLock);
        g_quitSignal.wait(lock, [] { return g_quit; });
    }
    channel.Stop();
    responder.Stop();
    rsync.Stop();
    device.Stop();
    return 0;
}
