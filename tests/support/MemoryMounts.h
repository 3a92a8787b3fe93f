#pragma once
// Share connections kept in memory, in place of GIO's mounts: what was
// mounted (address, user), a log of each mount and unmount, and how many
// mounts, unmounts and listings ran on the thread that made it (a window
// test's GUI thread, which such calls must not hold up).
#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NetConnection.h"

namespace testsupport {

struct MemoryMounts : platform::MountBackend {
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> mounted; // uri, user
    std::vector<std::string> log;
    const std::thread::id maker = std::this_thread::get_id();
    int onMakerThread = 0;
    int failMounts = 0;      // the code every mount fails with, when not 0
    std::string failListing; // when not "": listing the mounts throws this
    int Mount(const std::string& uri, const std::string& user, const std::string&) override
    {
        std::lock_guard<std::mutex> g(lock);
        onMakerThread += std::this_thread::get_id() == maker;
        if (failMounts != 0)
            return failMounts;
        mounted.emplace_back(uri, user);
        log.push_back("mount " + uri + " " + user);
        return 0;
    }
    int Unmount(const std::string& uri) override
    {
        std::lock_guard<std::mutex> g(lock);
        onMakerThread += std::this_thread::get_id() == maker;
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
        onMakerThread += std::this_thread::get_id() == maker;
        if (!failListing.empty())
            throw std::runtime_error(failListing);
        return mounted;
    }
    std::string LocalPath(const std::string&) override { return {}; }
};

} // namespace testsupport
