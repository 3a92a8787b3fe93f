#include "RsyncEngine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utility>

#include "Clock.h"
#include "MessageBox.h"
#include "Process.h"
#include "SocketError.h"
#include "TaskStore.h"
#include "TcpSocket.h"
#include "stdafx.h"

namespace {

// "YYYY/MM/DD HH:MM:SS [pid] " at the start of a log line: its length, or 0.
size_t LogPrefixLength(std::string_view line)
{
    static const char pattern[] = "dddd/dd/dd dd:dd:dd [";
    const size_t n = sizeof pattern - 1;
    if (line.size() < n + 3)
        return 0;
    for (size_t i = 0; i < n; ++i) {
        if (pattern[i] == 'd' ? !(line[i] >= '0' && line[i] <= '9') : line[i] != pattern[i])
            return 0;
    }
    size_t i = n;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9')
        ++i;
    if (i == n || i + 1 >= line.size() || line[i] != ']' || line[i + 1] != ' ')
        return 0;
    return i + 2;
}

// The message of a log line, after its date and pid.
std::string_view Message(std::string_view line)
{
    std::string_view m = line.substr(LogPrefixLength(line));
    if (!m.empty() && m.back() == '\r')
        m.remove_suffix(1);
    return m;
}

// rsync's 11-character itemize code at the start of a message ("" when there
// is none): update type, file type, nine attribute places, then a blank.
std::string_view ItemizeCode(std::string_view m)
{
    if (m.size() < 13 || m[11] != ' ')
        return {};
    if (std::strchr("<>ch.*", m[0]) == nullptr || std::strchr("fdLDS", m[1]) == nullptr)
        return {};
    if (m[0] == '*')
        return {}; // "*deleting" and the like are messages, not transfers
    return m.substr(0, 11);
}

// "N files to consider": N, or -1.
int FilesToConsider(std::string_view m)
{
    static constexpr std::string_view tail = " files to consider";
    if (m.size() <= tail.size() || !m.ends_with(tail))
        return -1;
    long long n = 0;
    for (size_t i = 0; i < m.size() - tail.size(); ++i) {
        if (m[i] < '0' || m[i] > '9')
            return -1;
        n = n * 10 + (m[i] - '0');
        if (n > 0x7fffffff)
            return 0x7fffffff;
    }
    return static_cast<int>(n);
}

// Calls each(line) for every line of text that is not empty.
template <class Each> void ForEachLine(std::string_view text, const Each& each)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos)
            nl = text.size();
        if (nl > start)
            each(text.substr(start, nl - start));
        start = nl + 1;
    }
}

// Where the runs' private folders are made: TMPDIR, else /tmp; ends in "/".
std::string TempBase()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    if (base.back() != '/')
        base += '/';
    return base;
}

constexpr char kTempPrefix[] = "tolvane-rsync-";
// A run's folder while it is being made: hidden, and not of a run's name.
constexpr char kMakingPrefix[] = ".tolvane-rsync-";

// Renames from to to unless to exists (errno EEXIST then). A file system
// that cannot refuse to replace gets a test first.
bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// A folder of our own for the run's log: 0700, with a fresh name, and
// locked (flock, exclusive) for as long as the run lasts, so that a later
// start tells it from the folder of a run whose program is gone. It is
// locked before it gets its name: made under a hidden name, locked, then
// renamed, so that the start-up clean-up of another copy never sees it
// unlocked. That clean-up also removes hidden folders whose maker ended
// before the rename; one it takes before it is locked is made again under
// another name. The lock's descriptor goes to *lock; "" when the folder
// cannot be made.
std::string MakePrivateFolder(int* lock)
{
    const std::string base = TempBase();
    int error = EEXIST;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string making = base + kMakingPrefix + "XXXXXX";
        if (!mkdtemp(making.data()))
            return "";
        const int fd = ::open(making.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            // A clean-up took it first and removes it.
            error = errno;
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        const std::string folder = base + kTempPrefix + making.substr(base.size() + sizeof kMakingPrefix - 1);
        if (RenameNoReplace(making, folder)) {
            *lock = fd;
            return folder + "/";
        }
        error = errno;
        ::rmdir(making.c_str());
        ::close(fd);
        if (error != EEXIST)
            break;
    }
    errno = error;
    return "";
}

// Of the folders given, those that a process has its working folder or an
// open descriptor in: a run of a copy that locks nothing (an older one)
// still has rsync writing its log there. A descriptor of a folder itself is
// a lock (the caller's among them), which the caller has tested already.
std::vector<bool> FoldersInUse(const std::vector<std::string>& folders)
{
    std::vector<bool> used(folders.size(), false);
    auto mark = [&](const std::string& link, bool self) {
        char target[4096];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            return;
        const std::string_view path(target, static_cast<size_t>(n));
        for (size_t i = 0; i < folders.size(); ++i)
            if ((self && path == folders[i]) ||
                (path.size() > folders[i].size() && path.substr(0, folders[i].size()) == folders[i] &&
                 path[folders[i].size()] == '/'))
                used[i] = true;
    };
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return used;
    while (const dirent* p = ::readdir(proc)) {
        if (p->d_name[0] < '1' || p->d_name[0] > '9')
            continue;
        const std::string root = std::string("/proc/") + p->d_name;
        mark(root + "/cwd", true);
        DIR* fds = ::opendir((root + "/fd").c_str());
        if (!fds)
            continue;
        while (const dirent* f = ::readdir(fds))
            if (f->d_name[0] != '.')
                mark(root + "/fd/" + f->d_name, false);
        ::closedir(fds);
    }
    ::closedir(proc);
    return used;
}

// A task name as part of a file name: no folder separators.
std::string FileNamePart(const std::string& name)
{
    std::string out = name;
    for (char& c : out)
        if (c == '/')
            c = '_';
    if (out == "." || out == "..")
        out = "_";
    return out;
}

// 0, or the errno of what failed. The files list the user's names and
// paths: only the user may read them.
int AppendFile(const std::string& path, const std::string& bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

// A small /proc file, "" when it cannot be read.
std::string ReadProcFile(const std::string& path)
{
    std::string text;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buf[1024];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// Bytes read and written so far by the processes of the process group
// `group` (rsync and the processes it forked): it changes whenever data
// moves, on the network or on the disk. -1 when the system does not tell
// (no /proc, or no I/O counts for the group's leader).
int64_t GroupIoBytes(pid_t group)
{
    int64_t total = 0;
    bool leader = false;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        const std::string stat = ReadProcFile(dir + "/stat");
        const size_t close = stat.rfind(')');
        char state = 0;
        int parent = 0;
        int pgrp = 0;
        if (close == std::string::npos ||
            std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &parent, &pgrp) != 3 || pgrp != group)
            continue;
        long long readBytes = 0;
        long long written = 0;
        const std::string io = ReadProcFile(dir + "/io");
        if (std::sscanf(io.c_str(), "rchar: %lld wchar: %lld", &readBytes, &written) == 2) {
            total += readBytes + written;
            leader = leader || std::atoi(entry->d_name) == group;
        }
    }
    ::closedir(proc);
    return leader ? total : -1;
}

// The folder made for the user alone; one that is there already and is the
// user's is made so too.
void MakeUserFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno != EEXIST)
        return;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), 0700);
}

std::string ReadWhole(const std::string& path)
{
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    std::fclose(f);
    return bytes;
}

} // namespace

RunningTaskGuard::RunningTaskGuard(const std::string& taskName) : m_taken(GetNasContext()->TryStartTask(taskName)) {}

RunningTaskGuard::~RunningTaskGuard()
{
    if (m_taken)
        GetNasContext()->EndTask();
}

CRsyncEngine::CRsyncEngine(char direction, bool errorBoxes, int64_t firstPollMs)
    : m_direction(direction)
    , m_errorBoxes(errorBoxes)
    , m_firstPollMs(firstPollMs)
{}

CRsyncEngine::~CRsyncEngine()
{
    if (m_tempLock >= 0)
        ::close(m_tempLock);
}

int CRsyncEngine::RemoveStaleTempFolders()
{
    const std::string base = TempBase();
    DIR* folder = ::opendir(base.c_str());
    if (!folder)
        return 0;
    // Each stale folder's lock is held until the folder is gone, so that no
    // run takes it up meanwhile.
    std::vector<std::string> paths;
    std::vector<int> locks;
    while (const dirent* e = ::readdir(folder)) {
        const std::string name = e->d_name;
        if (name.rfind(kTempPrefix, 0) != 0 && name.rfind(kMakingPrefix, 0) != 0)
            continue;
        const std::string path = base + name;
        // Only our own folders; one whose lock is held belongs to a run
        // that goes on.
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            paths.push_back(path);
            locks.push_back(fd);
        } else {
            ::close(fd);
        }
    }
    ::closedir(folder);
    // Unlocked, and yet still in use: a run of a copy that does not lock.
    const std::vector<bool> inUse = paths.empty() ? std::vector<bool>() : FoldersInUse(paths);
    int removed = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        std::error_code error;
        if (inUse[i])
            DebugTrace("%s is in use: kept", paths[i].c_str());
        else if (std::filesystem::remove_all(paths[i], error) > 0 && !error)
            ++removed;
        else
            DebugTrace("cannot remove %s: %s", paths[i].c_str(), error.message().c_str());
        ::close(locks[i]);
    }
    return removed;
}

std::string CRsyncEngine::MakeTempFolder(int* lock) { return MakePrivateFolder(lock); }

void CRsyncEngine::DropTempFolder(const std::string& logFile)
{
    ::unlink(logFile.c_str());
    ::rmdir(m_tempFolder.c_str());
    if (m_tempLock >= 0)
        ::close(m_tempLock);
    m_tempLock = -1;
}

std::string CRsyncEngine::Printf(const char* format, const std::string& text)
{
    char buf[1024];
    std::snprintf(buf, sizeof buf, format, text.c_str());
    return buf;
}

std::string CRsyncEngine::ProgramFolder()
{
    const std::string& ini = GetNasContext()->IniPath();
    size_t slash = ini.rfind('/');
    return slash == std::string::npos ? std::string("./") : ini.substr(0, slash + 1);
}

std::string CRsyncEngine::ResultFileName(const std::string& prefix, const std::string& taskName, std::time_t start)
{
    const std::tm t = platform::LocalTime(start);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d_%d_%d_%d_%d_%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec);
    const std::string folder = ProgramFolder() + "LOG/";
    MakeUserFolder(folder);
    return folder + prefix + FileNamePart(taskName) + "_" + stamp + "_result.txt";
}

void CRsyncEngine::Tell(const std::string& text)
{
    if (m_unattended)
        m_notes.push_back(text);
    else
        platform::MessageBox(text);
}

std::string CRsyncEngine::RsyncProgram() const
{
    if (!m_rsync.empty())
        return m_rsync;
    std::string beside = ProgramFolder() + "bin/rsync";
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return "rsync";
}

std::string CRsyncEngine::NormalisePath(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

void CRsyncEngine::RunFolders(const std::function<int(const BackupFolderInfo&, int)>& runOne,
                              const FolderRunTexts& texts)
{
    m_success = 1;
    m_lastPercent = -1;
    // Nothing to copy is no backup.
    if (m_task->folders.empty()) {
        Tell(Printf(texts.initialError, m_task->taskName));
        m_success = 0;
        Say(texts.failed);
        return;
    }
    SetFolderCount(static_cast<int>(m_task->folders.size()));
    int number = 1;
    for (const BackupFolderInfo& folder : m_task->folders) {
        if (Stopped()) {
            m_success = 0;
            break;
        }
        m_serverReason.clear();
        const int rc = runOne(folder, number);
        const char* message = nullptr;
        if (rc == RUN_INITIAL_ERROR)
            message = texts.initialError;
        else if (rc == RUN_EXECUTE_ERROR)
            message = texts.executeError;
        else if (rc == RUN_SERVER_ERROR)
            message = texts.serverError;
        if (message) {
            // One box: the service that cannot be reached, and why.
            const std::string reason = rc == RUN_SERVER_ERROR ? m_serverReason : std::string();
            Tell(Printf(message, m_task->taskName) + (reason.empty() ? "" : "\n" + reason));
            m_success = 0;
            if (!m_unattended)
                break;
        }
        ++number;
    }
    if (m_success) {
        Say(texts.finished);
        if (m_control)
            m_control->Report(100, "");
    } else {
        Say(texts.failed);
    }
}

void CRsyncEngine::Say(const std::string& text) const
{
    if (m_control)
        m_control->Say(text);
}

void CRsyncEngine::ReportProgress(int folderPercent)
{
    // The run's position over all its folders; 100 waits for the end.
    int count = m_folderCount > 0 ? m_folderCount : 1;
    int number = m_folderNumber < 1 ? 1 : (m_folderNumber > count ? count : m_folderNumber);
    int percent = ((number - 1) * 100 + folderPercent) / count;
    if (percent > 99)
        percent = 99;
    if (percent <= m_lastPercent)
        return;
    m_lastPercent = percent;
    if (m_control)
        m_control->Report(percent, "");
    DebugTrace("m_Task_total_num = %d m_Dir_num = %d m_File_num = %d progress = %d / 100", m_totalCount, m_dirCount,
               m_fileCount, percent);
}

int CRsyncEngine::FolderProgress() const
{
    if (m_totalCount <= 0)
        return 5;
    long long p = (static_cast<long long>(m_fileCount) + m_dirCount) * 100 / m_totalCount;
    if (p > 100)
        p = 100;
    if (p <= 5)
        p = 5;
    return static_cast<int>(p);
}

int CRsyncEngine::ParseLogLine(std::string_view line)
{
    const std::string_view m = Message(line);
    const std::string_view code = ItemizeCode(m);
    if (!code.empty()) {
        const bool file = code[0] == m_direction && code[1] == 'f';
        if (file && code.substr(2) == "+++++++++") {
            ++m_fileCount;
            return LINE_NEW_FILE;
        }
        if (file && code.substr(2) == "..t......") {
            ++m_fileCount;
            return LINE_FILE_TIME;
        }
        if (file) {
            ++m_fileCount;
            return LINE_FILE_CHANGED;
        }
        if (code == "cd+++++++++") {
            ++m_dirCount;
            return LINE_NEW_DIR;
        }
        if (code[0] == '.' && code[1] == 'd') {
            ++m_dirCount;
            return LINE_DIR_CHANGED;
        }
        return LINE_OTHER;
    }
    if (m.starts_with("building file list"))
        return LINE_BUILDING;
    int total = FilesToConsider(m);
    if (total >= 0) {
        m_totalCount = total;
        return LINE_TOTAL;
    }
    if (m.starts_with("rsync error: ")) {
        // One box for one failure: rsync may log the error of each of its
        // sides. After a stop, or the watchdog's end of it, rsync's report
        // of the signal is no news.
        if (m_errorBoxes && !m_sawError && !Stopped() && !m_stalled)
            Tell(std::string(m));
        m_sawError = true;
        m_success = 0;
        return LINE_ERROR;
    }
    if (m.starts_with("total size is ")) {
        m_sawSummary = true;
        return LINE_SUMMARY;
    }
    return LINE_OTHER;
}

void CRsyncEngine::ResetLog(const std::string& logFile)
{
    m_logFile = logFile;
    m_logOffset = 0;
    m_pending.clear();
    m_fileCount = 0;
    m_dirCount = 0;
    m_totalCount = 0;
    m_sawSummary = false;
    m_sawError = false;
}

namespace {
int64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
} // namespace

int CRsyncEngine::PollLog()
{
    const int64_t cpuStart = ThreadCpuNs();
    ++m_polls;
    int fd = ::open(m_logFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[65536];
        for (;;) {
            ssize_t n = ::pread(fd, buf, sizeof buf, m_logOffset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            m_logOffset += n;
            // Whole lines are read where they lie in the buffer; only a line
            // cut at its end waits in m_pending for the rest.
            const std::string_view chunk(buf, static_cast<size_t>(n));
            size_t start = 0;
            for (size_t nl; (nl = chunk.find('\n', start)) != std::string_view::npos; start = nl + 1) {
                if (m_pending.empty()) {
                    if (nl > start)
                        ParseLogLine(chunk.substr(start, nl - start));
                } else {
                    m_pending.append(chunk.substr(start, nl - start));
                    ParseLogLine(m_pending);
                    m_pending.clear();
                }
            }
            m_pending.append(chunk.substr(start));
        }
        ::close(fd);
    }
    if (m_totalCount > 0)
        ReportProgress(FolderProgress());
    m_pollCpuNs += ThreadCpuNs() - cpuStart;
    return m_sawSummary || m_sawError ? 0 : 1;
}

bool CRsyncEngine::IsFileListLine(std::string_view line, char direction)
{
    const std::string_view code = ItemizeCode(Message(line));
    if (code.empty())
        return false;
    return (code[0] == direction && code[1] == 'f' &&
            (code.substr(2) == "+++++++++" || code.substr(2) == "..t......")) ||
           code == "cd+++++++++";
}

int CRsyncEngine::SplitLog(const std::string& logFile, const std::string& resultFile, const std::string& fileListFile,
                           const std::string& header, const std::string& extra, char direction)
{
    std::string log = ReadWhole(logFile);
    if (log.empty() && extra.empty())
        return 0;
    const std::string head = std::string(54, '*') + "\r\n" + header + "\r\n";
    const bool keepList = !fileListFile.empty();
    std::string result = head;
    std::string list = keepList ? head : std::string();
    ForEachLine(log, [&](std::string_view line) {
        if (IsFileListLine(line, direction)) {
            if (keepList)
                list.append(line).append("\r\n");
        } else {
            result.append(line).append("\r\n");
        }
    });
    if (!extra.empty())
        result += extra + "\r\n";
    int error = AppendFile(resultFile, result);
    if (keepList && error == 0)
        error = AppendFile(fileListFile, list);
    return error;
}

std::string CRsyncEngine::EscapeSource(const std::string& path)
{
    // The service reads each part of the path (between "/") on its own: a
    // part without "*", "?" or "[" is taken as it stands, "\\" included; in
    // one with them, every one of them and every "\\" is escaped.
    std::string out;
    out.reserve(path.size());
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string_view part(path.data() + start, end - start);
        const bool pattern = part.find_first_of("*?[") != std::string_view::npos;
        for (char c : part) {
            if (pattern && (c == '\\' || c == '*' || c == '?' || c == '['))
                out += '\\';
            out += c;
        }
        if (end == path.size())
            return out;
        out += '/';
        start = end + 1;
    }
}

std::vector<std::string> CRsyncEngine::ConnectionOptions() const
{
    std::vector<std::string> options{"--contimeout=" + std::to_string(kRsyncConnectTimeoutS),
                                     "--timeout=" + std::to_string(kRsyncIoTimeoutS)};
    if (m_port != kRsyncPort)
        options.push_back("--port=" + std::to_string(m_port));
    return options;
}

void CRsyncEngine::Follow(platform::Process& rsync)
{
    ReportProgress(5);
    m_stalled = false;
    // The log is read first after m_firstPollMs, then every kPollMs; the
    // watchdog looks every kPollMs from the start.
    const int64_t watchMs = std::clamp<int64_t>(m_stallMs / 4, 1, kPollMs);
    int64_t nextPoll = platform::TickMs() + m_firstPollMs;
    int64_t lastMoved = platform::TickMs();
    int64_t lastSeen = -1;
    for (;;) {
        // A stop or the end of rsync cuts the wait short.
        const int64_t until = std::min(nextPoll, platform::TickMs() + watchMs);
        bool ended = false;
        while (!Stopped()) {
            int64_t left = until - platform::TickMs();
            if (left <= 0)
                break;
            if (rsync.Wait(std::min<int64_t>(platform::RealMs(left), 200))) {
                ended = true;
                break;
            }
        }
        if (Stopped()) {
            rsync.Stop();
            PollLog();
            return;
        }
        int64_t now = platform::TickMs();
        if (ended || now >= nextPoll) {
            PollLog();
            nextPoll = now + kPollMs;
        }
        if (ended || !rsync.Running()) {
            PollLog();
            return;
        }
        // The watchdog: nothing read or written for too long ends rsync (its
        // log is one of its writes). Without the counts it cannot tell, and
        // rsync's own time-outs are left to do the work.
        const int64_t seen = GroupIoBytes(rsync.Pid());
        now = platform::TickMs();
        if (seen < 0 || seen != lastSeen) {
            lastSeen = seen;
            lastMoved = now;
        } else if (now - lastMoved >= m_stallMs) {
            m_stalled = true;
            rsync.Stop();
            PollLog();
            return;
        }
    }
}

bool CRsyncEngine::ProbeService(const std::string& nasIp)
{
    CTcpSocket probe;
    if (!probe.Create()) {
        const int code = GetLastSocketError();
        char text[128];
        std::snprintf(text, sizeof text, "Socket Create Fail!!\nSocket Error code: %d ;", code);
        m_serverReason = WithSocketErrorReason(text, code);
        return false;
    }
    if (!probe.Connect(nasIp, m_port, kConnectTimeoutMs)) {
        const int code = GetLastSocketError();
        char text[128];
        std::snprintf(text, sizeof text, "Socket Connect Fail!!\nSocket Error code: %d ;", code);
        m_serverReason = WithSocketErrorReason(text, code);
        return false;
    }
    probe.Close();
    return true;
}

std::string CRsyncEngine::MakeLogFile(const std::string& key)
{
    if (m_tempLock >= 0)
        ::close(m_tempLock);
    m_tempLock = -1;
    m_tempFolder = MakePrivateFolder(&m_tempLock);
    if (m_tempFolder.empty()) {
        Tell("Please check the temporary folder: " + std::string(std::strerror(errno)));
        return "";
    }
    std::string logFile = m_tempFolder + key + ".txt";
    int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    m_logFile = logFile;
    return logFile;
}

BackupRunResult CRsyncEngine::RunJob(BackupTaskInfo& task, std::time_t startTime, const platform::JobControl& control,
                                     const std::string& kind)
{
    BackupRunResult result;
    // The task is free again however the run ends.
    const RunningTaskGuard running(task.taskName);
    if (!running.Taken())
        return result;
    result.started = true;
    SetControl(&control);
    SetTask(&task);
    SetStartTime(startTime);
    Run();
    result.success = IsSuccess() != 0;
    result.resultFile = GetResultFile();
    result.lastBackTime = task.lastBackTime;
    result.description = task.taskName + " : " + kind +
                         (result.success ? " processing Finish!!" : " processing Error!!") +
                         (m_unstored.empty() ? "" : "; " + m_unstored);
    return result;
}

int CRsyncEngine::RunFolder(const std::string& localPath, const std::string& nasIp, const std::string& remote,
                            const std::string& disk, const std::string& folderName, const std::string& filePrefix,
                            const std::string& header, const std::string& taskName, int folderNumber)
{
    const std::string logFile = MakeLogFile(MakeMD5Key(folderName + remote));
    if (logFile.empty())
        return RUN_INITIAL_ERROR;
    const std::string module = disk == "Disk1" ? "disk1" : "disk2";
    m_folderNumber = folderNumber;
    if (folderNumber <= 1)
        m_lastPercent = -1; // a new task of a schedule pass starts over

    // A run that has to go first; a failed one is the folder's failure, and
    // its log is the folder's log.
    const std::string scratch = m_tempFolder + "first";
    const std::vector<std::string> first = BuildFirstCommand(localPath, logFile, nasIp, module, remote, scratch);
    std::string extra;
    bool started = true;
    if (!first.empty()) {
        extra = RunRsync(first, logFile, &started);
        if (started && extra.empty() && !Stopped()) {
            // The folder's own run starts on a fresh log.
            const int fd = ::open(logFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        }
    }
    std::error_code removed;
    std::filesystem::remove_all(scratch, removed);
    if (started && extra.empty() && !Stopped())
        extra = RunRsync(BuildCommand(localPath, logFile, nasIp, module, remote), logFile, &started);
    if (!started) {
        DropTempFolder(logFile);
        return RUN_EXECUTE_ERROR;
    }
    const bool stopped = Stopped();
    if (stopped)
        extra = "rsync error: stopped by the user";
    if (!extra.empty()) {
        m_success = 0;
        // rsync's own error line was shown already; an end it did not
        // explain, or the watchdog's, is shown here.
        if (m_errorBoxes && (!m_sawError || m_stalled) && !stopped)
            Tell(extra);
    }
    if (!stopped && m_success)
        ReportProgress(100);

    const std::string resultFile = ResultFileName(filePrefix, taskName, m_startTime);
    const std::string fileListFile = resultFile.substr(0, resultFile.size() - 10) + "file_list.txt";
    // The file list is not kept: the log goes to the result file only, and
    // a list left by an earlier run of the same second goes.
    const int written = SplitLog(logFile, resultFile, "", header, extra, m_direction);
    if (written != 0) {
        // A run whose result cannot be kept is not a good run.
        m_success = 0;
        Tell("Cannot write the result file " + resultFile + ": " + std::strerror(written));
    }
    // The log row opens the result file: only one that is there.
    if (::access(resultFile.c_str(), F_OK) == 0)
        m_resultFile = resultFile;
    ::unlink(fileListFile.c_str());
    DropTempFolder(logFile);
    return RUN_OK;
}

std::string CRsyncEngine::RunRsync(const std::vector<std::string>& command, const std::string& logFile, bool* started)
{
    std::string line;
    for (const std::string& a : command)
        line += (line.empty() ? "" : " ") + a;
    DebugTrace("Task command : %s", line.c_str());

    ResetLog(logFile);
    platform::Process rsync;
    // No terminal: a module that asks for a password fails at once.
    rsync.SetOwnSession(true);
    std::string why;
    if (!rsync.Start(command, &why)) {
        DebugTrace("rsync: %s", why.c_str());
        *started = false;
        return "";
    }
    *started = true;
    Follow(rsync);

    // The exit status decides: 0 is a copy, and so is 24 (files vanished
    // while being read) for a backup, whose vanished files are gone from the
    // computer anyway; a restore that missed files did not bring the backup
    // back. Anything else is no copy; without its summary line rsync did not
    // finish.
    const bool exitOk = rsync.Exited() && (rsync.ExitCode() == 0 || (rsync.ExitCode() == 24 && m_direction == '<'));
    if (Stopped())
        return "rsync error: stopped by the user";
    if (m_stalled)
        return "rsync error: nothing moved for " + std::to_string(m_stallMs / 1000) + " seconds, rsync stopped";
    if (!rsync.Exited())
        return "rsync error: rsync ended by signal " + std::to_string(rsync.TermSignal()) + " (" +
               strsignal(rsync.TermSignal()) + ")";
    if (!exitOk)
        return "rsync error: rsync ended with code " + std::to_string(rsync.ExitCode());
    if (!m_sawSummary)
        return "rsync error: rsync ended without its summary (code " + std::to_string(rsync.ExitCode()) + ")";
    return "";
}
