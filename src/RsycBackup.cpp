#include "RsycBackup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Clock.h"
#include "MessageBox.h"
#include "Process.h"
#include "Schedule.h"
#include "SocketError.h"
#include "TaskStore.h"
#include "TcpSocket.h"
#include "stdafx.h"

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Printf(const char* format, const std::string& text)
{
    char buf[1024];
    std::snprintf(buf, sizeof buf, format, text.c_str());
    return buf;
}

// "YYYY/MM/DD HH:MM:SS [pid] " at the start of a log line: its length, or 0.
size_t LogPrefixLength(const std::string& line)
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
std::string Message(const std::string& line)
{
    size_t p = LogPrefixLength(line);
    std::string m = line.substr(p);
    if (!m.empty() && m.back() == '\r')
        m.pop_back();
    return m;
}

// rsync's 11-character itemize code at the start of a message ("" when there
// is none): update type, file type, nine attribute places, then a blank.
std::string ItemizeCode(const std::string& m)
{
    if (m.size() < 13 || m[11] != ' ')
        return "";
    if (std::strchr("<>ch.*", m[0]) == nullptr || std::strchr("fdLDS", m[1]) == nullptr)
        return "";
    if (m[0] == '*')
        return "";  // "*deleting" and the like are messages, not transfers
    return m.substr(0, 11);
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// "N files to consider": N, or -1.
int FilesToConsider(const std::string& m)
{
    static const char tail[] = " files to consider";
    const size_t t = sizeof tail - 1;
    if (m.size() <= t || m.compare(m.size() - t, t, tail) != 0)
        return -1;
    long long n = 0;
    for (size_t i = 0; i < m.size() - t; ++i) {
        if (m[i] < '0' || m[i] > '9')
            return -1;
        n = n * 10 + (m[i] - '0');
        if (n > 0x7fffffff)
            return 0x7fffffff;
    }
    return static_cast<int>(n);
}

// A folder of our own for the run's log: 0700, made with a fresh name.
std::string MakePrivateFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    if (base.back() != '/')
        base += '/';
    std::string pattern = base + "tolvane-rsync-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return "";
    return std::string(buf.data()) + "/";
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

bool AppendFile(const std::string& path, const std::string& bytes)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return done == bytes.size();
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

CRsycBackup::CRsycBackup() = default;
CRsycBackup::~CRsycBackup() = default;

std::string CRsycBackup::ProgramFolder()
{
    const std::string& ini = GetNasContext()->IniPath();
    size_t slash = ini.rfind('/');
    return slash == std::string::npos ? std::string("./") : ini.substr(0, slash + 1);
}

std::string CRsycBackup::RsyncProgram() const
{
    if (!m_rsync.empty())
        return m_rsync;
    std::string beside = ProgramFolder() + "bin/rsync";
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return "rsync";
}

std::string CRsycBackup::NormalisePath(const std::string& path)
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

std::vector<std::string> CRsycBackup::BuildCommand(const std::string& localPath, const std::string& logFile,
                                                   const std::string& nasIp, const std::string& module,
                                                   const std::string& shareName) const
{
    return {RsyncProgram(),
            "-rltpD",
            "--human-readable",
            "--stats",
            "--progress",
            "--chmod=a+rwx",
            "--log-file=" + logFile,
            // The whole file list first: the log then states how many files
            // there are, which the progress needs.
            "--no-inc-recursive",
            NormalisePath(localPath),
            "QUOM@" + nasIp + "::" + module + "/" + shareName + "/"};
}

void CRsycBackup::Say(const std::string& text) const
{
    if (m_control)
        m_control->Say(text);
}

void CRsycBackup::ReportProgress(int folderPercent)
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

int CRsycBackup::FolderProgress() const
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

int CRsycBackup::ParseLogLine(const std::string& line)
{
    const std::string m = Message(line);
    const std::string code = ItemizeCode(m);
    if (!code.empty()) {
        if (code == "<f+++++++++") {
            ++m_fileCount;
            return LINE_NEW_FILE;
        }
        if (code == "<f..t......") {
            ++m_fileCount;
            return LINE_FILE_TIME;
        }
        if (code[0] == '<' && code[1] == 'f') {
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
    if (StartsWith(m, "building file list"))
        return LINE_BUILDING;
    int total = FilesToConsider(m);
    if (total >= 0) {
        m_totalCount = total;
        return LINE_TOTAL;
    }
    if (StartsWith(m, "rsync error: ")) {
        m_sawError = true;
        m_success = 0;
        // After a stop, rsync's report of the signal is no news to the user.
        if (!Stopped())
            platform::MessageBox(m);
        return LINE_ERROR;
    }
    if (StartsWith(m, "total size is ")) {
        m_sawSummary = true;
        return LINE_SUMMARY;
    }
    return LINE_OTHER;
}

void CRsycBackup::ResetLog(const std::string& logFile)
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

int CRsycBackup::PollLog()
{
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
            m_pending.append(buf, static_cast<size_t>(n));
            size_t start = 0;
            for (size_t nl; (nl = m_pending.find('\n', start)) != std::string::npos; start = nl + 1) {
                if (nl > start)
                    ParseLogLine(m_pending.substr(start, nl - start));
            }
            m_pending.erase(0, start);
        }
        ::close(fd);
    }
    if (m_totalCount > 0)
        ReportProgress(FolderProgress());
    return m_sawSummary || m_sawError ? 0 : 1;
}

bool CRsycBackup::IsFileListLine(const std::string& line)
{
    const std::string code = ItemizeCode(Message(line));
    return code == "<f+++++++++" || code == "<f..t......" || code == "cd+++++++++";
}

void CRsycBackup::SplitLog(const std::string& logFile, const std::string& resultFile,
                           const std::string& fileListFile, const std::string& folder, const std::string& extra)
{
    std::string log = ReadWhole(logFile);
    if (log.empty() && extra.empty())
        return;
    const std::string header = std::string(54, '*') + "\r\nCopy file from Folder: " + folder + "\r\n";
    std::string result = header;
    std::string list = header;
    size_t start = 0;
    while (start < log.size()) {
        size_t nl = log.find('\n', start);
        if (nl == std::string::npos)
            nl = log.size();
        if (nl > start) {
            std::string line = log.substr(start, nl - start);
            (IsFileListLine(line) ? list : result) += line + "\r\n";
        }
        start = nl + 1;
    }
    if (!extra.empty())
        result += extra + "\r\n";
    AppendFile(resultFile, result);
    AppendFile(fileListFile, list);
}

void CRsycBackup::Follow(platform::Process& rsync)
{
    ReportProgress(5);
    int64_t waitMs = kFirstPollMs;
    for (;;) {
        // A stop or the end of rsync cuts the wait short.
        const int64_t until = platform::TickMs() + waitMs;
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
        PollLog();
        if (ended || !rsync.Running()) {
            PollLog();
            return;
        }
        waitMs = kPollMs;
    }
}

int CRsycBackup::BackupFolder(const std::string& localPath, const std::string& nasIp, const std::string& shareName,
                              const std::string& disk, const std::string& folderName, const std::string& taskName,
                              int folderNumber)
{
    if (nasIp.empty() || shareName.empty() || disk.empty() || localPath.empty())
        return BACKUP_INITIAL_ERROR;
    const std::string source = NormalisePath(localPath);
    // The root folder would copy the whole computer into the share.
    if (!IsFolder(source) || source == "/") {
        platform::MessageBox("Please check the Source Folder Path is correct!! ");
        return BACKUP_INITIAL_ERROR;
    }

    // Is the device's rsync service there?
    {
        CTcpSocket probe;
        if (!probe.Create()) {
            char text[128];
            std::snprintf(text, sizeof text, "Socket Create Fail!!\nSocket Error code: %d ;", GetLastSocketError());
            platform::MessageBox(text);
            return BACKUP_SERVER_ERROR;
        }
        if (!probe.Connect(nasIp, m_port, kConnectTimeoutMs)) {
            char text[128];
            std::snprintf(text, sizeof text, "Socket Connect Fail!!\nSocket Error code: %d ;", GetLastSocketError());
            platform::MessageBox(text);
            return BACKUP_SERVER_ERROR;
        }
        probe.Close();
    }

    const std::string module = disk == "Disk1" ? "disk1" : "disk2";
    const std::string key = MakeMD5Key(folderName + shareName);
    const std::string programFolder = ProgramFolder();
    const std::string tempFolder = MakePrivateFolder();
    if (tempFolder.empty()) {
        platform::MessageBox("Please check the temporary folder: " + std::string(std::strerror(errno)));
        return BACKUP_INITIAL_ERROR;
    }
    const std::string logFile = tempFolder + key + ".txt";
    int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);

    std::vector<std::string> command = BuildCommand(source, logFile, nasIp, module, shareName);
    std::string line;
    for (const std::string& a : command)
        line += (line.empty() ? "" : " ") + a;
    DebugTrace("Task command : %s", line.c_str());

    m_folderNumber = folderNumber;
    ResetLog(logFile);
    platform::Process rsync;
    std::string why;
    if (!rsync.Start(command, &why)) {
        DebugTrace("rsync: %s", why.c_str());
        ::unlink(logFile.c_str());
        ::rmdir(tempFolder.c_str());
        return BACKUP_EXECUTE_ERROR;
    }
    Follow(rsync);

    // The exit status decides: 0 and 24 (files vanished while being read)
    // are a backup, anything else is not; without its summary line rsync did
    // not finish.
    std::string extra;
    const bool stopped = Stopped();
    const bool exitOk = rsync.Exited() && (rsync.ExitCode() == 0 || rsync.ExitCode() == 24);
    if (stopped) {
        extra = "rsync error: stopped by the user";
    } else if (!rsync.Exited()) {
        extra = "rsync error: rsync ended by signal " + std::to_string(rsync.TermSignal()) + " (" +
                strsignal(rsync.TermSignal()) + ")";
    } else if (!exitOk) {
        extra = "rsync error: rsync ended with code " + std::to_string(rsync.ExitCode());
    } else if (!m_sawSummary) {
        extra = "rsync error: rsync ended without its summary (code " + std::to_string(rsync.ExitCode()) + ")";
    }
    if (!extra.empty()) {
        m_success = 0;
        // rsync's own error line was shown already; an end it did not
        // explain is shown here.
        if (!m_sawError && !stopped)
            platform::MessageBox(extra);
    }
    if (!stopped && m_success)
        ReportProgress(100);

    const std::tm t = platform::LocalTime(m_startTime);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d_%d_%d_%d_%d_%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec);
    const std::string logFolder = programFolder + "LOG/";
    ::mkdir(logFolder.c_str(), 0755);
    const std::string base = logFolder + "B_" + FileNamePart(taskName) + "_" + stamp + "_";
    const std::string resultFile = base + "result.txt";
    const std::string fileListFile = base + "file_list.txt";
    SplitLog(logFile, resultFile, fileListFile, source, extra);
    m_resultFile = resultFile;
    ::unlink(fileListFile.c_str());
    ::unlink(logFile.c_str());
    ::rmdir(tempFolder.c_str());
    return BACKUP_OK;
}

void CRsycBackup::Run()
{
    DebugTrace("run");
    if (!m_task || !m_task->nasFolderSet)
        return;
    m_success = 1;
    m_lastPercent = -1;
    m_folderCount = static_cast<int>(m_task->folders.size());
    Say("Backup processing");
    int number = 1;
    for (const BackupFolderInfo& folder : m_task->folders) {
        if (Stopped()) {
            m_success = 0;
            break;
        }
        Say("Backup processing : \n    copy file from " + folder.path);
        int rc = BackupFolder(folder.path, m_task->nasIp, m_task->nasFolderName, m_task->nasFolderDisk,
                              folder.folderName, m_task->taskName, number);
        const char* message = nullptr;
        if (rc == BACKUP_INITIAL_ERROR)
            message = "BackUP Task : %s ,process initial error, please try again!!";
        else if (rc == BACKUP_EXECUTE_ERROR)
            message = "BackUP Task : %s ,process execute error, please try again!!";
        else if (rc == BACKUP_SERVER_ERROR)
            message = "BackUP Task : %s ,Backup server not available, please check NAS link or reboot the NAS!!";
        if (message) {
            platform::MessageBox(Printf(message, m_task->taskName));
            m_success = 0;
            break;
        }
        ++number;
    }
    if (m_success) {
        Say("Backup processing Finish!!");
        if (m_control)
            m_control->Report(100, "");
    } else {
        Say("Backup processing Error!!");
    }
    const std::string now = schedule::FormatTime(platform::WallNow(), "%X, %x");
    m_task->lastBackTime = now;
    CTaskStore().WriteTaskValue(m_task->taskName, "Last_Back_Time", now);
}

BackupRunResult RunBackupJob(BackupTaskInfo task, std::time_t startTime, const platform::JobControl& control)
{
    CNasContext* context = GetNasContext();
    context->SetTaskRunning(1);
    context->SetRunningTaskName(task.taskName);
    BackupRunResult result;
    {
        CRsycBackup engine;
        engine.SetControl(&control);
        engine.SetTask(&task);
        engine.SetStartTime(startTime);
        engine.Run();
        result.success = engine.IsSuccess() != 0;
        result.resultFile = engine.GetResultFile();
    }
    result.lastBackTime = task.lastBackTime;
    result.description =
        task.taskName + (result.success ? " : backup processing Finish!!" : " : backup processing Error!!");
    context->ClearRunningTaskName();
    context->SetTaskRunning(0);
    return result;
}
