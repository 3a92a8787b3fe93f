#include "ControlChannel.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "DeviceState.h"
#include "WakeablePoll.h"

namespace testbed {

ControlChannel::~ControlChannel() { Stop(); }

void ControlChannel::Register(const std::string& verb, Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[verb] = std::move(handler);
}

std::string ControlChannel::Execute(const std::string& rawLine)
{
    std::string line = Trim(rawLine);
    if (line.empty())
        return "ERR empty command";
    size_t space = line.find_first_of(" \t");
    std::string verb = line.substr(0, space);
    std::string args = space == std::string::npos ? "" : Trim(line.substr(space));
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handlers.find(verb);
        if (it == m_handlers.end())
            return "ERR unknown command " + verb;
        handler = it->second;
    }
    std::string reply = handler(args);
    // One line per reply, whatever the handler wrote.
    for (char& c : reply)
        if (c == '\n' || c == '\r')
            c = ' ';
    return reply;
}

bool ControlChannel::Start(const std::string& socketPath, std::string* error)
{
    sockaddr_un addr{};
    if (socketPath.size() >= sizeof addr.sun_path) {
        if (error)
            *error = "control socket path too long";
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    unlink(socketPath.c_str());
    m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_listener, 8) != 0 || pipe2(m_wake, O_CLOEXEC) != 0) {
        if (error)
            *error = std::string("control socket: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_path = socketPath;
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void ControlChannel::Stop()
{
    if (m_thread.joinable()) {
        char c = 0;
        (void)!write(m_wake[1], &c, 1);
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    for (int* fd : {&m_listener, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (!m_path.empty())
        unlink(m_path.c_str());
    m_path.clear();
}

void ControlChannel::Serve()
{
    while (WaitForInput(m_listener, m_wake[0])) {
        int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::string pending;
        bool open = true;
        while (open) {
            if (!WaitForInput(client, m_wake[0])) {
                close(client);
                return;
            }
            char buf[4096];
            ssize_t n = read(client, buf, sizeof buf);
            if (n <= 0)
                break;
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                std::string reply = Execute(pending.substr(0, nl)) + "\n";
                pending.erase(0, nl + 1);
                if (send(client, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) {
                    open = false;
                    break;
                }
            }
        }
        close(client);
    }
}

} // namespace testbed
