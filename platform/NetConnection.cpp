// GIO's headers come first: they name struct fields that Qt's keywords
// would rewrite.
#include <utility>
#include <gio/gio.h>

#include "NetConnection.h"

#include <QString>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "Clock.h"
#include "Paths.h"
#include "ShellOpen.h"

namespace platform {
namespace {

// ---------------------------------------------------------------------------
// GIO backend

// Mounts and unmounts run on a private main context of the calling thread
// (any thread), bounded in time, so no caller needs a GLib main loop of its
// own.
constexpr int64_t kMountBoundMs = 30000;

// What the system said of the last mount or unmount of this thread that
// failed beyond the codes above.
thread_local std::string t_extendedError;

int CodeOf(const GError* error)
{
    if (!error)
        return NO_ERROR;
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_PERMISSION_DENIED: return ERROR_ACCESS_DENIED;
        case G_IO_ERROR_FAILED_HANDLED:
        case G_IO_ERROR_CANCELLED: return ERROR_CANCELLED;
        case G_IO_ERROR_NOT_FOUND:
        case G_IO_ERROR_HOST_NOT_FOUND:
        case G_IO_ERROR_HOST_UNREACHABLE: return ERROR_BAD_NETPATH;
        case G_IO_ERROR_ALREADY_MOUNTED: return NO_ERROR;
        case G_IO_ERROR_NOT_MOUNTED: return ERROR_NOT_CONNECTED;
        case G_IO_ERROR_NOT_SUPPORTED: return ERROR_NO_NETWORK;
        default: break;
        }
    }
    return ERROR_EXTENDED_ERROR;
}

// One mount or unmount under way, with its own main context. The caller and
// GIO's completion callback share it: a call the caller gave up on (past the
// bound) stays whole for as long as GIO may still answer it, and goes with
// the last of the two.
struct MountCall {
    // The operation's _finish function.
    using Finish = gboolean (*)(GObject* source, GAsyncResult* result, GError** error);
    // Starts the operation on the call's context with GIO's usual callback
    // and its data.
    using Begin = std::function<void(MountCall& call, GAsyncReadyCallback done, gpointer data)>;

    explicit MountCall(Finish finishFn) : finish(finishFn) {}
    ~MountCall()
    {
        if (op) {
            g_signal_handlers_disconnect_by_data(op, this);
            g_object_unref(op);
        }
        g_object_unref(cancel);
        g_main_context_unref(context);
    }
    MountCall(const MountCall&) = delete;
    MountCall& operator=(const MountCall&) = delete;

    Finish finish;
    GMainContext* context = g_main_context_new();
    GCancellable* cancel = g_cancellable_new();
    GMountOperation* op = nullptr; // a mount's questions, answered by AskPassword
    bool done = false;
    int code = NO_ERROR;
    std::string user;
    std::string password;
    int asked = 0;
};

void AskPassword(GMountOperation* op, const char*, const char*, const char*, GAskPasswordFlags flags, gpointer data)
{
    auto* call = static_cast<MountCall*>(data);
    // A second question means the first answer was refused.
    if (++call->asked > 1) {
        g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
        call->code = ERROR_LOGON_FAILURE;
        return;
    }
    if (call->user.empty() && (flags & G_ASK_PASSWORD_ANONYMOUS_SUPPORTED)) {
        g_mount_operation_set_anonymous(op, TRUE);
    } else {
        g_mount_operation_set_username(op, call->user.empty() ? "guest" : call->user.c_str());
        g_mount_operation_set_password(op, call->password.c_str());
        g_mount_operation_set_domain(op, "WORKGROUP");
    }
    g_mount_operation_set_password_save(op, G_PASSWORD_SAVE_NEVER);
    g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

// GIO's completion callback; data is the callback's own share of the call.
void MountCallDone(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::shared_ptr<MountCall>> share(static_cast<std::shared_ptr<MountCall>*>(data));
    MountCall& call = **share;
    GError* error = nullptr;
    if (call.finish(source, result, &error))
        call.code = NO_ERROR;
    else if (call.code == NO_ERROR) // a refused login keeps its own code
        call.code = CodeOf(error);
    if (call.code == ERROR_EXTENDED_ERROR)
        t_extendedError = error != nullptr && error->message != nullptr ? error->message : "unknown failure";
    if (error)
        g_error_free(error);
    call.done = true;
}

// Starts the call and runs its context until it is done. Past the bound the
// call is cancelled; a call that does not even end then is given up
// (ERROR_EXTENDED_ERROR) and left to GIO's share of it.
int RunMountCall(const std::shared_ptr<MountCall>& call, const MountCall::Begin& begin)
{
    g_main_context_push_thread_default(call->context);
    begin(*call, MountCallDone, new std::shared_ptr<MountCall>(call));
    const int64_t start = TickMs();
    bool cancelled = false;
    bool ended = true;
    while (!call->done) {
        int64_t passed = TickMs() - start;
        if (!cancelled && passed > kMountBoundMs) {
            g_cancellable_cancel(call->cancel);
            cancelled = true;
        }
        if (passed > kMountBoundMs + 5000) {
            ended = false;
            break;
        }
        if (!g_main_context_iteration(call->context, FALSE))
            SleepMs(5);
    }
    g_main_context_pop_thread_default(call->context);
    if (!ended)
        t_extendedError = "the share did not answer in time";
    return ended ? call->code : ERROR_EXTENDED_ERROR;
}

// The mount that holds the location, a reference the caller drops; null
// when none does.
GMount* EnclosingMount(const std::string& uri)
{
    GFile* file = g_file_new_for_uri(uri.c_str());
    GMount* mount = g_file_find_enclosing_mount(file, nullptr, nullptr);
    g_object_unref(file);
    return mount;
}

class GioBackend : public MountBackend {
public:
    int Mount(const std::string& uri, const std::string& user, const std::string& password) override
    {
        auto call = std::make_shared<MountCall>([](GObject* source, GAsyncResult* result, GError** error) {
            return g_file_mount_enclosing_volume_finish(G_FILE(source), result, error);
        });
        call->user = user;
        call->password = password;
        call->op = g_mount_operation_new();
        g_signal_connect(call->op, "ask-password", G_CALLBACK(AskPassword), call.get());
        GFile* file = g_file_new_for_uri(uri.c_str());
        int code = RunMountCall(call, [file](MountCall& c, GAsyncReadyCallback done, gpointer data) {
            g_file_mount_enclosing_volume(file, G_MOUNT_MOUNT_NONE, c.op, c.cancel, done, data);
        });
        g_object_unref(file); // a call under way holds its own reference
        return code;
    }

    int Unmount(const std::string& uri) override
    {
        GMount* mount = EnclosingMount(uri);
        if (!mount)
            return ERROR_NOT_CONNECTED;
        auto call = std::make_shared<MountCall>([](GObject* source, GAsyncResult* result, GError** error) {
            return g_mount_unmount_with_operation_finish(G_MOUNT(source), result, error);
        });
        int code = RunMountCall(call, [mount](MountCall& c, GAsyncReadyCallback done, gpointer data) {
            g_mount_unmount_with_operation(mount, G_MOUNT_UNMOUNT_FORCE, nullptr, c.cancel, done, data);
        });
        g_object_unref(mount); // a call under way holds its own reference
        return code;
    }

    bool IsMounted(const std::string& uri) override
    {
        GMount* mount = EnclosingMount(uri);
        if (mount)
            g_object_unref(mount);
        return mount != nullptr;
    }

    std::vector<std::pair<std::string, std::string>> Mounted() override
    {
        std::vector<std::pair<std::string, std::string>> out;
        GVolumeMonitor* monitor = g_volume_monitor_get();
        GList* mounts = g_volume_monitor_get_mounts(monitor);
        for (GList* m = mounts; m; m = m->next) {
            GFile* root = g_mount_get_root(G_MOUNT(m->data));
            char* uri = g_file_get_uri(root);
            QUrl url(QString::fromUtf8(uri));
            if (url.scheme() == "smb" && !url.host().isEmpty()) {
                QString share = url.path().section('/', 1, 1);
                QUrl bare;
                bare.setScheme("smb");
                bare.setHost(url.host());
                bare.setPath("/" + share);
                QString user = url.userName().section(';', -1);
                out.emplace_back(bare.toString(QUrl::FullyEncoded).toStdString(), user.toStdString());
            }
            g_free(uri);
            g_object_unref(root);
        }
        g_list_free_full(mounts, g_object_unref);
        g_object_unref(monitor);
        return out;
    }

    std::string LocalPath(const std::string& uri) override
    {
        GFile* file = g_file_new_for_uri(uri.c_str());
        char* path = g_file_get_path(file);
        g_object_unref(file);
        std::string out = path ? path : "";
        g_free(path);
        return out;
    }
};

std::mutex g_lock; // the backend pointer, the drive table file, the sessions
std::shared_ptr<MountBackend> g_backend;
std::string g_tablePath;
// Drive letters that a mapping under way has claimed but not yet written.
std::vector<std::string> g_pendingLetters;
// The credentials this program connected to each host with: further shares
// of the host are opened with them, as the system's own sessions do. Kept in
// memory only.
struct Credentials {
    std::string user;
    std::string password;
};
std::map<std::string, Credentials> g_sessions;

std::string HostOf(const std::string& unc)
{
    if (unc.rfind("\\\\", 0) != 0)
        return {};
    return unc.substr(2, unc.find('\\', 2) - 2);
}

// ---------------------------------------------------------------------------
// The drive-letter table

struct Entry {
    std::string letter; // "Z:" or ""
    std::string remote; // "\\host\share"
    std::string user;
};

std::string TablePathLocked() { return g_tablePath.empty() ? ProgramFolder() + "drives.ini" : g_tablePath; }

// The first line of a table whose fields are escaped ("%" and a two-digit
// hex code for "%", "|" and line breaks), so that any share or user name
// holds. It has no "|": a table without it is read as it stands, and older
// readers pass over it.
constexpr char kEscapedHeader[] = "#escaped";

std::string EscapeField(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (c == '%' || c == '|' || c == '\n' || c == '\r') {
            out += '%';
            out += hex[static_cast<unsigned char>(c) >> 4];
            out += hex[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeField(const std::string& text)
{
    auto digit = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 && digit(text[i + 2]) >= 0) {
            out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<Entry> LoadTable()
{
    std::vector<Entry> entries;
    // The table names shares and users: private to the user, also when an
    // older program made it readable to others.
    const std::string path = TablePathLocked();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), st.st_mode & 0700);
    std::ifstream in(path);
    std::string line;
    bool escaped = false;
    for (bool first = true; std::getline(in, line); first = false) {
        if (first && line == kEscapedHeader) {
            escaped = true;
            continue;
        }
        std::istringstream fields(line);
        Entry e;
        if (!std::getline(fields, e.letter, '|') || !std::getline(fields, e.remote, '|'))
            continue;
        std::getline(fields, e.user);
        if (escaped) {
            e.letter = UnescapeField(e.letter);
            e.remote = UnescapeField(e.remote);
            e.user = UnescapeField(e.user);
        }
        if (!e.remote.empty())
            entries.push_back(e);
    }
    return entries;
}

// Writes the table whole beside the old one and puts it in its place only
// once it is on the disk: a write that fails (a full disk) leaves the old
// table as it was. NO_ERROR, ERROR_DISK_FULL or ERROR_WRITE_FAULT.
int SaveTable(const std::vector<Entry>& entries)
{
    std::string path = TablePathLocked();
    std::string temp = path + ".new";
    std::string text = std::string(kEscapedHeader) + "\n";
    for (const Entry& e : entries)
        text += EscapeField(e.letter) + '|' + EscapeField(e.remote) + '|' + EscapeField(e.user) + '\n';
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int error = fd < 0 ? errno : 0;
    struct stat st {};
    if (error == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0 &&
        ::fchmod(fd, 0600) != 0) // a leftover of a wider mode
        error = errno;
    for (size_t done = 0; error == 0 && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (fd >= 0 && ::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error == 0)
        return NO_ERROR;
    ::unlink(temp.c_str());
    return error == ENOSPC || error == EFBIG || error == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
}

// "\\host\share" of a remote name (a sub-folder cut off).
std::string ShareOf(const std::string& unc)
{
    if (unc.rfind("\\\\", 0) != 0)
        return {};
    size_t hostEnd = unc.find('\\', 2);
    if (hostEnd == std::string::npos || hostEnd == 2)
        return {};
    size_t shareEnd = unc.find('\\', hostEnd + 1);
    std::string share = unc.substr(0, shareEnd);
    return share.size() > hostEnd + 1 ? share : std::string();
}

std::string SmbToUnc(const std::string& url)
{
    QUrl u(QString::fromStdString(url));
    QString path = u.path();
    path.replace('/', '\\');
    return ("\\\\" + u.host() + path).toStdString();
}

// Entries of the table whose share is still mounted, and mounts the table
// does not know (no letter). Drops stale entries from the table.
std::vector<Entry> LiveEntries()
{
    std::shared_ptr<MountBackend> backend = GetMountBackend();
    std::vector<std::pair<std::string, std::string>> mounted = backend->Mounted();
    std::lock_guard<std::mutex> guard(g_lock);
    std::vector<Entry> table = LoadTable();
    std::vector<Entry> live;
    for (const Entry& e : table) {
        std::string uri = UncToSmbUrl(e.remote);
        bool up = std::any_of(mounted.begin(), mounted.end(), [&](const auto& m) { return m.first == uri; });
        if (up)
            live.push_back(e);
    }
    if (live.size() != table.size())
        SaveTable(live);
    for (const auto& [uri, user] : mounted) {
        std::string unc = SmbToUnc(uri);
        bool known = std::any_of(live.begin(), live.end(), [&](const Entry& e) { return SameName(e.remote, unc); });
        if (!known)
            live.push_back({"", unc, user});
    }
    return live;
}

} // namespace

// ---------------------------------------------------------------------------

std::shared_ptr<MountBackend> SetMountBackend(std::shared_ptr<MountBackend> backend)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return std::exchange(g_backend, std::move(backend));
}

std::shared_ptr<MountBackend> GetMountBackend()
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_backend)
        g_backend = std::make_shared<GioBackend>();
    return g_backend;
}

void SetDriveTablePath(const std::string& path)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_tablePath = path;
}

std::string UncToSmbUrl(const std::string& unc)
{
    if (unc.rfind("\\\\", 0) != 0)
        return {};
    std::string rest = unc.substr(2);
    size_t slash = rest.find('\\');
    std::string host = rest.substr(0, slash);
    if (host.empty())
        return {};
    QUrl url;
    url.setScheme("smb");
    url.setHost(QString::fromStdString(host));
    if (slash != std::string::npos) {
        QString path = QString::fromStdString(rest.substr(slash));
        path.replace('\\', '/');
        while (path.endsWith('/') && path.size() > 1)
            path.chop(1);
        url.setPath(path, QUrl::DecodedMode);
    }
    if (!url.isValid())
        return {};
    return url.toString(QUrl::FullyEncoded).toStdString();
}

std::string MakeFtpUrl(const std::string& host, const std::string& path, const std::string& user,
                       const std::string& password)
{
    QUrl url;
    url.setScheme("ftp");
    url.setHost(QString::fromStdString(host));
    if (!user.empty()) {
        url.setUserName(QString::fromStdString(user), QUrl::DecodedMode);
        if (!password.empty())
            url.setPassword(QString::fromStdString(password), QUrl::DecodedMode);
    }
    url.setPath("/" + QString::fromStdString(path), QUrl::DecodedMode);
    return url.toString(QUrl::FullyEncoded).toStdString();
}

int WNetUseConnection(const std::string& remote, const std::string& user, const std::string& password,
                      const std::string& localName)
{
    std::string share = ShareOf(remote);
    if (share.empty())
        return ERROR_BAD_NETPATH;
    std::string uri = UncToSmbUrl(share);
    std::shared_ptr<MountBackend> backend = GetMountBackend();
    bool mounted = backend->IsMounted(uri);
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!localName.empty() && std::any_of(g_pendingLetters.begin(), g_pendingLetters.end(),
                                              [&](const std::string& l) { return SameName(l, localName); }))
            return ERROR_ALREADY_ASSIGNED;
        for (const Entry& e : LoadTable()) {
            if (!localName.empty() && SameName(e.letter, localName))
                return ERROR_ALREADY_ASSIGNED;
            if (mounted && SameName(e.remote, share) && e.user != user)
                return ERROR_SESSION_CREDENTIAL_CONFLICT;
        }
        // The letter is this call's from here on: another mapping to it
        // fails at once instead of both mapping it.
        if (!localName.empty())
            g_pendingLetters.push_back(localName);
    }
    // Gives the letter back and, when the table could not take the new
    // connection, undoes the mount made for it.
    auto finish = [&](int rc) {
        if (!localName.empty()) {
            std::lock_guard<std::mutex> guard(g_lock);
            auto it = std::find_if(g_pendingLetters.begin(), g_pendingLetters.end(),
                                   [&](const std::string& l) { return SameName(l, localName); });
            if (it != g_pendingLetters.end())
                g_pendingLetters.erase(it);
        }
        return rc;
    };
    if (!mounted) {
        int rc = backend->Mount(uri, user, password);
        if (rc != NO_ERROR)
            return finish(rc);
    }
    int rc = NO_ERROR;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        std::vector<Entry> table = LoadTable();
        bool have = false;
        for (Entry& e : table) {
            if (SameName(e.remote, share) && SameName(e.letter, localName)) {
                e.user = user;
                have = true;
            } else if (!localName.empty() && SameName(e.letter, localName)) {
                rc = ERROR_ALREADY_ASSIGNED; // written meanwhile by another program
            }
        }
        if (rc == NO_ERROR) {
            if (!have)
                table.push_back({localName, share, user});
            rc = SaveTable(table);
        }
        if (rc == NO_ERROR && !user.empty())
            g_sessions[HostOf(share)] = {user, password};
    }
    if (rc != NO_ERROR && !mounted)
        backend->Unmount(uri);
    return finish(rc);
}

std::string NetErrorText(int code)
{
    switch (code) {
    case NO_ERROR: return "done";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_BAD_NETPATH: return "the share was not found on the network";
    case ERROR_ALREADY_ASSIGNED: return "the drive letter is in use";
    case ERROR_INVALID_PARAMETER: return "invalid name";
    case ERROR_BAD_DEVICE: return "invalid drive letter";
    case ERROR_CANCELLED: return "cancelled";
    case ERROR_LOGON_FAILURE: return "the user name or password was refused";
    case ERROR_NO_NETWORK: return "shares cannot be mounted here (GIO/GVfs SMB support missing)";
    case ERROR_DISK_FULL:
    case ERROR_WRITE_FAULT: {
        std::string table;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            table = TablePathLocked();
        }
        return "the drive table " + table + " could not be written" +
               (code == ERROR_DISK_FULL ? ": the disk is full" : "");
    }
    case ERROR_NOT_CONNECTED: return "not connected";
    case ERROR_SESSION_CREDENTIAL_CONFLICT: return "the share is already connected as another user";
    case ERROR_EXTENDED_ERROR: return t_extendedError.empty() ? std::string("unknown failure") : t_extendedError;
    default: return "error " + std::to_string(code);
    }
}

int WNetCancelConnection2(const std::string& name, bool /*updateProfile*/, bool force)
{
    bool isLetter = name.size() == 2 && name[1] == ':';
    // The host's session (IPC$) holds the credentials its shares are opened with.
    std::string share = ShareOf(name);
    if (share.size() > 5 && share.compare(share.size() - 5, 5, "\\IPC$") == 0) {
        std::lock_guard<std::mutex> guard(g_lock);
        return g_sessions.erase(HostOf(share)) ? NO_ERROR : ERROR_NOT_CONNECTED;
    }
    std::shared_ptr<MountBackend> backend = GetMountBackend();
    share.clear();
    // The entries this call takes out of the table: they go back when the
    // share cannot be unmounted.
    std::vector<Entry> dropped;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        std::vector<Entry> table = LoadTable();
        auto it = std::find_if(table.begin(), table.end(), [&](const Entry& e) {
            return isLetter ? SameName(e.letter, name) : SameName(e.remote, ShareOf(name));
        });
        if (it == table.end()) {
            if (isLetter)
                return ERROR_NOT_CONNECTED;
            share = ShareOf(name);
        } else {
            share = it->remote;
            dropped.push_back(*it);
            table.erase(it);
            // The share stays mounted while other letters still use it;
            // forced, it goes with all of them.
            const auto other = [&](const Entry& e) { return SameName(e.remote, share); };
            const bool inUse = std::any_of(table.begin(), table.end(), other);
            if (force) {
                std::copy_if(table.begin(), table.end(), std::back_inserter(dropped), other);
                std::erase_if(table, other);
            }
            // A table that cannot be written (a full disk) would still list
            // the letter: nothing is unmounted then, and the failure is told.
            const int written = SaveTable(table);
            if (written != NO_ERROR)
                return written;
            if (inUse && !force)
                return NO_ERROR;
        }
    }
    if (share.empty())
        return ERROR_NOT_CONNECTED;
    std::string uri = UncToSmbUrl(share);
    if (!backend->IsMounted(uri))
        return isLetter ? NO_ERROR : ERROR_NOT_CONNECTED;
    int rc = backend->Unmount(uri);
    if (rc != NO_ERROR && !dropped.empty()) {
        // Still mounted: its letters stay listed.
        std::lock_guard<std::mutex> guard(g_lock);
        std::vector<Entry> table = LoadTable();
        for (const Entry& d : dropped)
            if (std::none_of(table.begin(), table.end(), [&](const Entry& e) {
                    return SameName(e.letter, d.letter) && (!d.letter.empty() || SameName(e.remote, d.remote));
                }))
                table.push_back(d);
        SaveTable(table);
    }
    return rc;
}

int WNetGetUser(const std::string& name, std::string& user)
{
    bool isLetter = name.size() == 2 && name[1] == ':';
    for (const Entry& e : LiveEntries()) {
        if (isLetter ? SameName(e.letter, name) : SameName(e.remote, ShareOf(name))) {
            user = e.user;
            return NO_ERROR;
        }
    }
    return ERROR_NOT_CONNECTED;
}

struct NetEnum {
    std::vector<NetResource> items;
    size_t next = 0;
};

int WNetOpenEnum(NetEnumHandle* handle)
{
    if (!handle)
        return ERROR_INVALID_PARAMETER;
    // The listing may throw (a mount list that cannot be read): nothing is
    // handed out, and nothing is left behind, until it is whole.
    auto e = std::make_unique<NetEnum>();
    for (const Entry& entry : LiveEntries())
        e->items.push_back({entry.letter, entry.remote});
    *handle = e.release();
    return NO_ERROR;
}

int WNetEnumResource(NetEnumHandle handle, std::vector<NetResource>& out, unsigned count)
{
    out.clear();
    if (!handle)
        return ERROR_INVALID_PARAMETER;
    while (handle->next < handle->items.size() && out.size() < count)
        out.push_back(handle->items[handle->next++]);
    return out.empty() ? ERROR_NO_MORE_ITEMS : NO_ERROR;
}

int WNetCloseEnum(NetEnumHandle handle)
{
    delete handle;
    return NO_ERROR;
}

int NetConnections(std::vector<NetResource>& out)
{
    out.clear();
    NetEnumHandle handle = nullptr;
    int rc = WNetOpenEnum(&handle);
    if (rc != NO_ERROR)
        return rc;
    const std::unique_ptr<NetEnum, int (*)(NetEnumHandle)> open(handle, WNetCloseEnum);
    std::vector<NetResource> chunk;
    while ((rc = WNetEnumResource(handle, chunk)) == NO_ERROR)
        out.insert(out.end(), chunk.begin(), chunk.end());
    return rc == ERROR_NO_MORE_ITEMS ? NO_ERROR : rc;
}

std::vector<std::string> FreeDriveLetters()
{
    std::vector<std::string> used;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        for (const Entry& e : LoadTable())
            used.push_back(e.letter);
    }
    std::vector<std::string> free;
    for (char c = 'D'; c <= 'Z'; ++c) {
        std::string letter = std::string(1, c) + ":";
        if (std::none_of(used.begin(), used.end(), [&](const std::string& u) { return SameName(u, letter); }))
            free.push_back(letter);
    }
    return free;
}

namespace {
thread_local std::string t_shellFailure;

int OpenLocal(const std::string& target, int failure)
{
    if (ShellOpen(target))
        return SE_SUCCESS;
    t_shellFailure = ShellOpenFailure(-1);
    return failure;
}
} // namespace

std::string ShellExecuteFailure() { return t_shellFailure; }

int ShellExecute(const std::string& verb, const std::string& file)
{
    t_shellFailure.clear();
    if (verb != "open") {
        t_shellFailure = "cannot " + verb;
        return SE_ERR_NOASSOC;
    }
    if (file.rfind("\\\\", 0) == 0) {
        std::string share = ShareOf(file);
        if (share.empty()) {
            t_shellFailure = "no share named in the path";
            return SE_ERR_PNF;
        }
        std::shared_ptr<MountBackend> backend = GetMountBackend();
        std::string shareUri = UncToSmbUrl(share);
        if (!backend->IsMounted(shareUri)) {
            Credentials session;
            {
                std::lock_guard<std::mutex> guard(g_lock);
                auto it = g_sessions.find(HostOf(share));
                if (it != g_sessions.end())
                    session = it->second;
            }
            int rc = backend->Mount(shareUri, session.user, session.password);
            // A share that wants other credentials: the desktop's file
            // manager asks for them, as the system's own explorer does.
            if (rc == ERROR_ACCESS_DENIED || rc == ERROR_LOGON_FAILURE)
                return OpenLocal(UncToSmbUrl(file), SE_ERR_ACCESSDENIED);
            if (rc != NO_ERROR) {
                t_shellFailure = "the share could not be mounted: " + NetErrorText(rc);
                return SE_ERR_PNF;
            }
            // A connection of ours from now on, with the user it was made as.
            std::lock_guard<std::mutex> guard(g_lock);
            std::vector<Entry> table = LoadTable();
            table.push_back({"", share, session.user});
            SaveTable(table);
        }
        std::string uri = UncToSmbUrl(file);
        std::string local = backend->LocalPath(uri);
        return OpenLocal(local.empty() ? uri : local, SE_ERR_NOASSOC);
    }
    if (file.empty()) {
        t_shellFailure = "no path given";
        return SE_ERR_FNF;
    }
    return OpenLocal(file, SE_ERR_NOASSOC);
}

} // namespace platform
