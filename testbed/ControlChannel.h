#pragma once
// Line-oriented control channel of the emulator on a Unix stream socket.
// A client sends one command per line ("\n"); every command gets exactly one
// reply line, "OK", "OK <text>" or "ERR <reason>". Clients are served one at a
// time, each for as many lines as it sends.
//
// Each service of the emulator registers its own verbs; the device commands
// (see DeviceCommands.h) are one such set.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace testbed {

class ControlChannel {
public:
    // The handler gets the text after the verb (trimmed) and returns the reply line.
    using Handler = std::function<std::string(const std::string& args)>;

    ControlChannel() = default;
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    void Register(const std::string& verb, Handler handler);
    // Runs one command line and returns its reply (also used without a socket).
    std::string Execute(const std::string& line);

    bool Start(const std::string& socketPath, std::string* error);
    void Stop();

private:
    void Serve();

    std::mutex m_mutex;
    std::map<std::string, Handler> m_handlers;
    std::string m_path;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

} // namespace testbed
