// tolvane-testbed: plays the NAS device for tests and demonstrations.
//
//   tolvane-testbed [--config FILE] [--set KEY=VALUE]... [--control SOCKET]
//                   [--udp-port N] [--no-udp]
//
// The device state comes from the config file (see DeviceState.h), then from
// each --set in order. --control opens the line command channel on that Unix
// socket path (see DeviceCommands.h; "quit" ends the program). The program
// runs until "quit", SIGTERM or SIGINT. It prints "ready" on standard output
// once every service is listening.
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

int Usage(const char* why)
{
    std::fprintf(stderr, "tolvane-testbed: %s\n"
                         "usage: tolvane-testbed [--config FILE] [--set KEY=VALUE]... [--control SOCKET]"
                         " [--udp-port N] [--no-udp]\n",
                 why);
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
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }

    testbed::UdpResponder responder(state, static_cast<uint16_t>(udpPort));
    std::string error;
    if (udp && !responder.Start(&error)) {
        std::fprintf(stderr, "tolvane-testbed: UDP service: %s\n", error.c_str());
        return 1;
    }
    testbed::ControlChannel channel;
    testbed::RegisterDeviceCommands(channel, state);
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
    return 0;
}
