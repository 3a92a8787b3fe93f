#pragma once
// Share connections kept in memory, in place of GIO's mounts: what was
// mounted (address, user) and a log of each mount and unmount.
#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "NetConnection.h"

namespace testsupport {

struct MemoryMounts : platform::MountBackend {
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> mounted; // uri, user
    std::vector<std::string> log;
    int Mount(const std::string& uri, const std::string& user, const std::string&) override
    {
        std::lock_guard<std::mutex> g(lock);
        mounted.emplace_back(uri, user);
        log.push_back("mount " + uri + " " + user);
        return 0;
    }
    int Unmount(const std::string& uri) override
    {
        std::lock_guard<std::mutex> g(lock);
        log.push_back("unmount " + uri);
        std::erase_if(mounted, [&](const auto& m) { return m.first == uri; });
        return 0;
    }
    bool IsMounted(const std::string& uri) override
    {
        std::lock_guard<std::mutex> g(lock);
        return std::any_of(mounted.begin(), mounted.end(), [&](const auto& m) { return m.first == uri; });
    }
    std::vector<std::pair<std::string, std::string>> Mounted() override
    {
        std::lock_guard<std::mutex> g(lock);
        return mounted;
    }
    std::string LocalPath(const std::string&) override { return {}; }
};

} // namespace testsupport
