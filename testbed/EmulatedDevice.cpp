#include "EmulatedDevice.h"

#include <arpa/inet.h>
#include <ctime>
#include <fstream>
#include <ifaddrs.h>
#include <iterator>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>

#include "FormApply.h"
#include "NasMib.h"
#include "NasMibSeed.h"
#include "stdafx.h"

namespace testbed {

namespace {

using std::chrono::milliseconds;

// After a status request was answered "installed", the reboot waits this
// long so that the answer leaves first.
constexpr int kReportToRebootMs = 200;
constexpr int kClockMs = 20;

std::string NowText()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
    return text;
}

// The first IPv4 address (and mask) of an interface other than loopback.
bool FirstAddress(uint32_t& address, uint32_t& mask)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (ifaddrs* a = list; a && !found; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask)
            continue;
        uint32_t ip = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        if ((ntohl(ip) >> 24) == 127)
            continue;
        address = ip;
        mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
        found = true;
    }
    freeifaddrs(list);
    return found;
}

const char* TypeLetter(int syntax)
{
    switch (syntax) {
    case sNMP_SYNTAX_INT: return "i";
    case sNMP_SYNTAX_OCTETS: return "s";
    case sNMP_SYNTAX_CNTR32: return "c";
    case sNMP_SYNTAX_GAUGE32: return "u";
    case sNMP_SYNTAX_TIMETICKS: return "t";
    case sNMP_SYNTAX_IPADDR: return "a";
    case sNMP_SYNTAX_OID: return "o";
    default: return "x";
    }
}

std::pair<std::string, std::string> Verb(const std::string& args)
{
    size_t space = args.find_first_of(" \t");
    std::string rest = space == std::string::npos ? "" : Trim(args.substr(space + 1));
    return {args.substr(0, space), rest};
}

} // namespace

EmulatedDevice::EmulatedDevice(DeviceState& state) : m_state(state)
{
    m_state.AttachStore(m_store);
    AddNasRowRemovals(m_agent);
    m_state.SetJobSources([this](ProgressAnswer& a) { return ProgressAnswerOf(a); },
                          [this](int& s) { return StatusAnswerOf(s); });
    m_state.SetChangeListener([this](const std::string& key) {
        if (key == "community")
            m_agent.SetCommunity(m_state.Get("community"));
    });
    m_web.SetPasswordLookup([this](const std::string& user) -> std::optional<std::string> {
        std::optional<UserAccount> account = m_state.FindUser(user);
        return account ? std::optional<std::string>(account->password) : std::nullopt;
    });
    m_web.SetApplyCells([this](const std::string& page, const std::vector<FormCell>& cells) {
        std::string error;
        bool ok = ApplyForm(page, cells, &error);
        if (!ok)
            DebugTrace("testbed: form %s refused: %s\n", page.c_str(), error.c_str());
        return ok;
    });
    m_web.SetPackageHandler([this](const std::string& package) { ReceivePackage(package); });
}

EmulatedDevice::~EmulatedDevice()
{
    Stop();
    m_state.SetJobSources(nullptr, nullptr);
    m_state.SetChangeListener(nullptr);
}

bool EmulatedDevice::Start(const Options& options, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        Stop();
        return false;
    };
    m_agent.SetCommunity(m_state.Get("community"));
    DeviceData d = m_state.Snapshot();
    uint32_t address = 0, mask = 0;
    if (d.address == 0 && FirstAddress(address, mask))
        m_state.SetNetwork(address, mask, d.gateway);

    if (options.snmp) {
        long long port = options.snmpPort >= 0 ? options.snmpPort : m_state.IntSetting("snmp_port", 161, 0, 65535);
        std::string why;
        if (!m_agent.Start(options.snmpAddress, static_cast<uint16_t>(port), &why))
            return fail("SNMP agent: " + why);
    }
    if (options.web) {
        long long port = options.webPort >= 0 ? options.webPort : m_state.IntSetting("web_port", 80, 0, 65535);
        if (!m_web.Start(options.webAddress, static_cast<uint16_t>(port)))
            return fail("web server: cannot listen on " + options.webAddress + ":" + std::to_string(port));
        m_store.Set(nasmib::kWebPort, MibValue::Integer(m_web.Port()));
    }
    {
        std::lock_guard<std::mutex> lock(m_jobLock);
        m_stopping = false;
    }
    m_clock = std::thread([this] { RunClock(); });
    return true;
}

void EmulatedDevice::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_jobLock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_clock.joinable())
        m_clock.join();
    m_web.Stop();
    m_agent.Stop();
}

// ---------------------------------------------------------------------------
// Forms and uploads

bool EmulatedDevice::ApplyForm(const std::string& page, const std::vector<FormCell>& cells, std::string* error)
{
    if (page != kStep2Page)
        return ApplyFormCells(m_store, page, cells, error);
    std::lock_guard<std::mutex> lock(m_jobLock);
    if (m_formatRunning || m_install == Install::Checking ||
        m_state.With([](const DeviceData& d) { return d.rebooting; })) {
        if (error)
            *error = "busy";
        return false;
    }
    if (!ApplyFormCells(m_store, page, cells, error))
        return false;
    bool init = false;
    for (const FormCell& c : cells)
        if (c.oid == nasmib::kInitDisk && c.value == "1")
            init = true;
    if (!init)
        return true;
    auto fs = m_store.Get(nasmib::kFormatFs);
    auto mode = m_store.Get(nasmib::kDiskMode);
    return StartFormat(fs ? static_cast<int>(fs->number) : 3, mode ? static_cast<int>(mode->number) : 0, error);
}

bool EmulatedDevice::StartFormat(int fsNumber, int diskMode, std::string* error)
{
    (void)error;
    std::vector<int> present;
    for (int disk : {1, 2})
        if (m_state.DiskState(disk) != nasmib::kDiskStateNone)
            present.push_back(disk);
    auto total = [&](int disk) {
        auto v = m_store.Get(NasCell(nasmib::kDiskTotalSize, std::to_string(disk)));
        return static_cast<uint32_t>(v && v->number > 0 ? v->number : 1);
    };
    m_phases.clear();
    if (diskMode == 0) {
        for (int disk : present)
            m_phases.push_back({disk == 1 ? 1 : 3, {disk}, total(disk)});
    } else if (!present.empty()) {
        uint32_t sum = 0;
        for (int disk : present)
            sum += total(disk);
        m_phases.push_back({5, present, sum});
    }
    for (int disk : present) {
        m_state.SetDiskState(disk, nasmib::kDiskStateFormatting);
        m_store.Set(NasCell(nasmib::kDiskUsedSize, std::to_string(disk)), MibValue::Integer(0));
    }
    m_fsText = std::to_string(fsNumber);
    m_formatRan = true;
    m_formatRunning = !m_phases.empty();
    m_phasesDone = 0;
    m_formatStart = Clock::now();
    long long formatMs = m_state.IntSetting("format_ms", 10000, 0, 3600000);
    m_phaseMs = m_phases.empty() ? 0 : static_cast<int>(formatMs / static_cast<long long>(m_phases.size()));
    if (!m_formatRunning)
        m_store.Set(nasmib::kInitDisk, MibValue::Integer(0));
    m_wake.notify_all();
    return true;
}

bool EmulatedDevice::PackageAccepted(const std::string& package) const
{
    std::string file = m_state.Setting("package_file");
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        if (!in)
            return false;
        std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return package == expected;
    }
    long long size = m_state.IntSetting("package_size", -1, 0, 1LL << 40);
    if (size >= 0)
        return static_cast<long long>(package.size()) == size;
    return !package.empty();
}

void EmulatedDevice::ReceivePackage(const std::string& package)
{
    bool good = PackageAccepted(package);
    std::lock_guard<std::mutex> lock(m_jobLock);
    if (m_install == Install::Checking)
        return; // one check at a time; its answer stands
    m_package = package;
    m_installSince = Clock::now();
    m_reported = false;
    if (m_formatRunning) {
        m_install = Install::Busy;
        return;
    }
    m_install = Install::Checking;
    m_packageGood = good;
    m_wake.notify_all();
}

// ---------------------------------------------------------------------------
// Job answers and the clock

bool EmulatedDevice::ProgressAnswerOf(ProgressAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_jobLock);
    if (!m_formatRan)
        return false;
    answer = ProgressAnswer{};
    if (!m_formatRunning || m_phasesDone >= m_phases.size())
        return true;
    const Phase& p = m_phases[m_phasesDone];
    long long into = std::chrono::duration_cast<milliseconds>(Clock::now() - m_formatStart).count() -
                     static_cast<long long>(m_phasesDone) * m_phaseMs;
    into = std::max(0LL, std::min<long long>(into, m_phaseMs));
    answer.status = p.status;
    answer.total = p.total;
    answer.done = m_phaseMs > 0 ? static_cast<uint32_t>(static_cast<uint64_t>(p.total) * static_cast<uint64_t>(into) /
                                                        static_cast<uint64_t>(m_phaseMs))
                                : p.total;
    return true;
}

bool EmulatedDevice::StatusAnswerOf(int& status)
{
    std::lock_guard<std::mutex> lock(m_jobLock);
    switch (m_install) {
    case Install::None: return false;
    case Install::Checking: status = 1; return true;
    case Install::Rebooting:
    case Install::Done: status = 0; return true;
    case Install::Installed:
        status = 0;
        if (!m_reported) {
            m_reported = true;
            m_reportedAt = Clock::now();
            m_wake.notify_all();
        }
        return true;
    case Install::Bad: status = 2; return true;
    case Install::Busy: status = 3; return true;
    }
    return false;
}

void EmulatedDevice::RunClock()
{
    std::unique_lock<std::mutex> lock(m_jobLock);
    while (!m_stopping) {
        m_wake.wait_for(lock, milliseconds(kClockMs));
        if (m_stopping)
            break;
        lock.unlock();
        Tick();
        lock.lock();
    }
}

void EmulatedDevice::Tick()
{
    std::lock_guard<std::mutex> lock(m_jobLock);
    const auto now = Clock::now();
    auto since = [&](Clock::time_point t) { return std::chrono::duration_cast<milliseconds>(now - t).count(); };

    if (m_formatRunning) {
        long long elapsed = since(m_formatStart);
        int after = static_cast<int>(m_state.IntSetting("after_format", nasmib::kDiskStateReady, -2, 2));
        while (m_phasesDone < m_phases.size() && elapsed >= static_cast<long long>(m_phasesDone + 1) * m_phaseMs) {
            for (int disk : m_phases[m_phasesDone].disks) {
                std::string row = std::to_string(disk);
                m_store.Set(NasCell(nasmib::kDiskFsType, row), MibValue::String(m_fsText));
                m_store.Set(NasCell(nasmib::kDiskUsedSize, row), MibValue::Integer(0));
                m_state.SetDiskState(disk, after);
            }
            ++m_phasesDone;
        }
        if (m_phasesDone >= m_phases.size()) {
            m_formatRunning = false;
            m_store.Set(nasmib::kInitDisk, MibValue::Integer(0));
        }
    }

    if (m_install == Install::Checking &&
        since(m_installSince) >= m_state.IntSetting("install_check_ms", 2000, 0, 3600000)) {
        m_install = m_packageGood ? Install::Installed : Install::Bad;
        m_installSince = now;
        m_reported = false;
    }
    if (m_install == Install::Installed &&
        ((m_reported && since(m_reportedAt) >= kReportToRebootMs) ||
         since(m_installSince) >= m_state.IntSetting("reboot_wait_ms", 10000, 0, 3600000))) {
        m_install = Install::Rebooting;
        BeginReboot(static_cast<int>(m_state.IntSetting("reboot_ms", 15000, 0, 3600000)));
    }
    if (now >= m_rebootEnd && m_state.With([](const DeviceData& d) { return d.rebooting; }))
        EndReboot();
}

void EmulatedDevice::Reboot(int silentMs)
{
    std::lock_guard<std::mutex> lock(m_jobLock);
    BeginReboot(silentMs);
}

// Called with m_jobLock held.
void EmulatedDevice::BeginReboot(int silentMs)
{
    m_rebootEnd = Clock::now() + milliseconds(silentMs);
    bool already = m_state.With([](DeviceData& d) {
        bool was = d.rebooting;
        d.rebooting = true;
        return was;
    });
    if (already)
        return;
    m_agent.SetSilent(true);
    m_webFaultBeforeReboot = m_web.GetFault();
    m_web.SetFault(WebServer::Fault::Silent);
    m_wake.notify_all();
}

// Called with m_jobLock held.
void EmulatedDevice::EndReboot()
{
    for (int disk : {1, 2})
        if (m_state.DiskState(disk) == nasmib::kDiskStateNotInstalled)
            m_state.SetDiskState(disk, nasmib::kDiskStateReady);
    m_store.Set(nasmib::kBootTime, MibValue::String(NowText()));
    if (m_install == Install::Rebooting)
        m_install = Install::Done;
    m_web.SetFault(m_webFaultBeforeReboot, m_webLateBeforeReboot);
    m_agent.SetSilent(false);
    m_state.With([](DeviceData& d) { d.rebooting = false; });
}

std::string EmulatedDevice::JobText()
{
    ProgressAnswer p;
    bool ran = ProgressAnswerOf(p);
    std::lock_guard<std::mutex> lock(m_jobLock);
    const char* install = "none";
    switch (m_install) {
    case Install::None: install = "none"; break;
    case Install::Checking: install = "checking"; break;
    case Install::Installed: install = "installed"; break;
    case Install::Bad: install = "bad"; break;
    case Install::Busy: install = "busy"; break;
    case Install::Rebooting: install = "rebooting"; break;
    case Install::Done: install = "done"; break;
    }
    return std::string("format=") +
           (!ran              ? "idle"
            : m_formatRunning ? "running"
                              : "done") +
           " progress=" + std::to_string(p.status) + ":" + std::to_string(p.done) + ":" + std::to_string(p.total) +
           " install=" + install;
}

// ---------------------------------------------------------------------------
// Control commands

std::string EmulatedDevice::SnmpCommand(const std::string& args)
{
    auto [verb, rest] = Verb(args);
    long long n = 0, skip = 0;
    if (verb == "silent" && (rest == "on" || rest == "off")) {
        m_agent.SetSilent(rest == "on");
    } else if (verb == "drop" && ParseInt(rest, 0, 1000000, n)) {
        m_agent.DropNextRequests(static_cast<int>(n));
    } else if (verb == "nosuchname" && rest == "off") {
        m_agent.ClearNoSuchNamePrefixes();
    } else if (verb == "nosuchname") {
        std::vector<uint32_t> oid;
        if (!ParseOidText(rest, oid))
            return "ERR bad OID";
        m_agent.AddNoSuchNamePrefix(rest);
    } else if (verb == "fail") {
        std::istringstream in(rest);
        std::string count, after;
        in >> count >> after;
        if (!ParseInt(count, 0, 1000000, n) || (!after.empty() && !ParseInt(after, 0, 1000000, skip)))
            return "ERR snmp fail COUNT [SKIP]";
        m_agent.FailRequests(static_cast<int>(n), static_cast<int>(skip));
    } else if (verb == "nonincreasing" && (rest == "on" || rest == "off")) {
        m_agent.SetNonIncreasingNext(rest == "on");
    } else if (verb == "clear") {
        m_agent.ClearFaults();
    } else if (verb == "port") {
        return "OK " + std::to_string(m_agent.Port());
    } else if (verb == "requests") {
        return "OK " + std::to_string(m_agent.RequestCount()) + " " + std::to_string(m_agent.AnswerCount());
    } else if (verb == "writes") {
        return "OK " + std::to_string(m_agent.WriteCount());
    } else if (verb == "write" && ParseInt(rest, -1000000, 1000000, n)) {
        auto w = m_agent.RecordedWrite(static_cast<long>(n));
        if (!w)
            return "ERR no such write";
        std::string oid;
        for (uint32_t part : w->oid)
            oid += (oid.empty() ? "" : ".") + std::to_string(part);
        return "OK " + oid + " " + TypeLetter(w->value.syntax) + " " + w->value.Text();
    } else {
        return "ERR bad snmp command: " + args;
    }
    return "OK";
}

std::string EmulatedDevice::WebCommand(const std::string& args)
{
    auto [verb, rest] = Verb(args);
    if (verb == "port")
        return "OK " + std::to_string(m_web.Port());
    long long n = 0;
    if (verb == "requests")
        return "OK " + std::to_string(m_web.RecordedRequests());
    if (verb == "request" && ParseInt(rest, -1000000, 1000000, n)) {
        auto request = m_web.RecordedRequest(static_cast<long>(n));
        return request ? "OK " + Base64Encode(*request) : std::string("ERR no such request");
    }
    if (verb == "stats")
        return "OK connections=" + std::to_string(m_web.Connections()) +
               " requests=" + std::to_string(m_web.Requests()) + " forms=" + std::to_string(m_web.FormsApplied()) +
               " packages=" + std::to_string(m_web.PackagesReceived());
    if (verb != "fault")
        return "ERR bad web command: " + args;
    auto [name, value] = Verb(rest);
    long long ms = 0;
    WebServer::Fault fault;
    if (name == "none")
        fault = WebServer::Fault::None;
    else if (name == "silent")
        fault = WebServer::Fault::Silent;
    else if (name == "late" && ParseInt(value, 0, 3600000, ms))
        fault = WebServer::Fault::Late;
    else if (name == "noapply")
        fault = WebServer::Fault::OkWithoutApply;
    else if (name == "unauthorized")
        fault = WebServer::Fault::Unauthorized;
    else if (name == "split")
        fault = WebServer::Fault::SplitStatus;
    else if (name == "refuse")
        fault = WebServer::Fault::Refuse;
    else
        return "ERR bad web fault: " + rest;
    m_web.SetFault(fault, static_cast<unsigned>(ms), fault == WebServer::Fault::OkWithoutApply ? value : "");
    return "OK";
}

std::string EmulatedDevice::MibCommand(const std::string& args)
{
    auto [verb, rest] = Verb(args);
    auto [oidText, value] = Verb(rest);
    std::vector<uint32_t> oid;
    if (!ParseOidText(oidText, oid))
        return "ERR bad OID: " + oidText;
    if (verb == "get") {
        auto v = m_store.Get(oid);
        if (!v)
            return "ERR no such object";
        return std::string("OK ") + TypeLetter(v->syntax) + " " + v->Text();
    }
    if (verb == "set") {
        std::string error;
        return m_state.Set("mib", rest, &error) ? "OK" : "ERR " + error;
    }
    if (verb == "del")
        return m_store.Erase(oid) ? "OK" : "ERR no such object";
    if (verb == "rows") {
        std::string out;
        for (const std::string& row : m_store.Rows(oidText))
            out += (out.empty() ? "" : ",") + row;
        return out.empty() ? "OK" : "OK " + out;
    }
    return "ERR bad mib command: " + args;
}

void EmulatedDevice::RegisterCommands(ControlChannel& channel)
{
    channel.Register("snmp", [this](const std::string& args) { return SnmpCommand(args); });
    channel.Register("web", [this](const std::string& args) { return WebCommand(args); });
    channel.Register("mib", [this](const std::string& args) { return MibCommand(args); });
    channel.Register("job", [this](const std::string&) { return "OK " + JobText(); });
    channel.Register("reboot", [this](const std::string& args) {
        long long ms = m_state.IntSetting("reboot_ms", 15000, 0, 3600000);
        if (!args.empty() && !ParseInt(args, 0, 3600000, ms))
            return std::string("ERR reboot [MS]");
        Reboot(static_cast<int>(ms));
        return std::string("OK");
    });
}

} // namespace testbed
