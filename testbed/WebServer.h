#pragma once
// The emulated device's web server: the CGI pages the program posts its
// forms to, the package upload and the start page, behind Basic
// authorization. A front listener of our own accepts every connection and
// passes it on to the HTTP server; that is where the fault switches act that
// an HTTP server cannot play (silence, a status line split across segments,
// refused connections).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FormParser.h"

namespace testbed {

class WebServer {
public:
    // The password of a user; nullopt when there is no such user.
    using PasswordLookup = std::function<std::optional<std::string>(const std::string& user)>;
    // Applies the cells of one form by OID. page is the form's page, e.g.
    // "/configuration/ShareManagement/PrivateFolder.shtml". false refuses the
    // form (answer 400); the callee keeps its tables unchanged then.
    using ApplyCells = std::function<bool(const std::string& page, const std::vector<FormCell>& cells)>;
    // Receives the bytes of an uploaded package.
    using PackageHandler = std::function<void(const std::string& package)>;

    enum class Fault {
        None,
        Silent,         // accept, read, never answer
        Late,           // answer only after the late delay (SetFault's lateMs)
        OkWithoutApply, // answer 200 to forms without applying them
        Unauthorized,   // answer 401 to everything
        SplitStatus,    // send the status line in two segments, split inside "200 OK"
        Refuse,         // refuse connections (nothing listens on the port)
    };

    // Form pages the server accepts.
    static const std::vector<std::string>& FormPages();

    WebServer();
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Callbacks; set them before Start (they may be replaced later too).
    void SetPasswordLookup(PasswordLookup lookup);
    void SetApplyCells(ApplyCells apply);
    void SetPackageHandler(PackageHandler handler);

    // Listens on address:port (port 0: any free port); false when it cannot.
    bool Start(const std::string& address, uint16_t port);
    void Stop();
    uint16_t Port() const;

    // Takes effect for connections accepted from now on; Refuse and back
    // take effect before SetFault returns.
    // OkWithoutApply with a page: only forms posted to a page whose path
    // holds that text go unapplied.
    void SetFault(Fault fault, unsigned lateMs = 0, const std::string& noApplyPage = {});
    Fault GetFault() const;

    unsigned Connections() const;  // connections accepted
    unsigned Requests() const;     // requests that reached the pages
    unsigned FormsApplied() const; // forms handed to ApplyCells
    unsigned PackagesReceived() const;

    // Every request read whole, as the client sent it: the head and the
    // Content-Length bytes of body (what follows them is not part of the
    // request). The last kKeptRequests are kept; index counts from 0 over all
    // requests the server ever read, -1 is the last one. nullopt for one not
    // kept.
    static constexpr unsigned kKeptRequests = 32;
    unsigned RecordedRequests() const;
    std::optional<std::string> RecordedRequest(long index) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace testbed
