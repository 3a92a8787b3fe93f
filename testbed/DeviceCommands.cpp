#include "DeviceCommands.h"

#include <sstream>

#include "stdafx.h"

namespace testbed {

namespace {

std::string FaultCommand(DeviceState& state, const std::string& args)
{
    std::istringstream in(args);
    std::string name, value;
    in >> name >> value;
    bool off = value == "off";
    long long n = 0;
    std::string error;
    // A numeric fault: "off" sets it back to `offValue`, else a number from 0
    // to `most`.
    auto number = [&](int& field, int offValue, long long most) {
        if (off)
            field = offValue;
        else if (ParseInt(value, 0, most, n))
            field = static_cast<int>(n);
        else
            return false;
        return true;
    };
    bool ok = state.With([&](DeviceData& d) {
        UdpFaults& f = d.faults;
        if (name == "clear") {
            f = UdpFaults{};
        } else if (name == "silent" && (value == "on" || off)) {
            f.silent = !off;
        } else if (name == "mac") {
            f.otherMac = !off;
            if (!off && !StringToMac(value, f.mac))
                return false;
        } else if (name == "ifaddr") {
            f.otherInterface = !off;
            if (!off && !StringToIp(value, f.interfaceAddress))
                return false;
        } else if (name == "short") {
            return number(f.shortLength, -1, 1500);
        } else if (name == "status") {
            return number(f.status, -1, 255);
        } else if (name == "delay") {
            return number(f.delayMs, 0, 60000);
        } else if (name == "text") {
            f.rawLoginText = !off;
            f.loginText = off ? std::string() : value;
        } else if (name == "pad") {
            return number(f.padBytes, 0, 65000);
        } else {
            return false;
        }
        return true;
    });
    return ok ? "OK" : "ERR bad fault: " + args;
}

std::string RequestCommand(DeviceState& state, const std::string& args)
{
    long long i = 0;
    if (!ParseInt(args, -1000000, 1000000, i))
        return "ERR request needs an index";
    return state.With([&](DeviceData& d) -> std::string {
        long long count = static_cast<long long>(d.requests.size());
        if (i < 0)
            i += count;
        if (i < 0 || i >= count)
            return "ERR no request " + args;
        const RequestRecord& r = d.requests[static_cast<size_t>(i)];
        std::string out = "OK op=" + std::to_string(r.op) + " src=" + IpToString(r.source) +
                          " dst=" + IpToString(r.destination) + " mac=" + MacToString(r.mac) +
                          " answered=" + (r.answered ? "1" : "0") + " payload=" + r.payload;
        if (r.op == 2)
            out += " ip=" + IpToString(r.ip) + " mask=" + IpToString(r.mask) + " gateway=" + IpToString(r.gateway);
        return out;
    });
}

} // namespace

void RegisterDeviceCommands(ControlChannel& channel, DeviceState& state)
{
    channel.Register("ping", [](const std::string&) { return std::string("OK"); });
    channel.Register("get", [&state](const std::string& key) { return "OK " + state.Get(key); });
    channel.Register("set", [&state](const std::string& args) {
        size_t space = args.find_first_of(" \t");
        std::string key = args.substr(0, space);
        std::string value = space == std::string::npos ? "" : args.substr(space + 1);
        std::string error;
        if (key.empty())
            return std::string("ERR set needs a key");
        return state.Set(key, value, &error) ? std::string("OK") : "ERR " + error;
    });
    channel.Register("fault", [&state](const std::string& args) { return FaultCommand(state, args); });
    channel.Register("requests", [&state](const std::string& args) {
        if (args == "clear") {
            state.With([](DeviceData& d) { d.requests.clear(); });
            return std::string("OK");
        }
        return "OK " + std::to_string(state.With([](DeviceData& d) { return d.requests.size(); }));
    });
    channel.Register("request", [&state](const std::string& args) { return RequestCommand(state, args); });
}

} // namespace testbed
