// Our stand-in for the platform's URL session, on libcurl with OpenSSL: data, upload-from-file and
// download tasks, with or without completion blocks, a delegate called on a delegate queue, server
// trust challenges answered during the TLS handshake, cancel and invalidation. One libcurl multi
// thread per session carries every transfer; SIGPIPE is blocked on it.
#pragma once

#include "foundation/error.h"
#include "net/url_request.h"
#include "net/url_response.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {
class OperationQueue;
}

namespace net {

struct URLSessionConfiguration {
    // Added to every request beside same-named request fields (never replacing them).
    HTTPHeaderFields HTTPAdditionalHeaders;
    // Seconds a whole task may take.
    double timeoutIntervalForResource = 7 * 24 * 3600.0;
    // Only https: a request for another scheme ends with URLErrorAppTransportSecurityRequiresSecureConnection
    // before anything is connected, and so does a redirect to another scheme (nothing is sent there).
    bool httpsOnly = false;
    // Told the URL of each request or redirect target that httpsOnly refused (on the session's thread).
    std::function<void(const std::string& url)> insecureURLRefused;
    // Redirects followed at most; one more ends the task with URLErrorHTTPTooManyRedirects.
    long maximumRedirects = 16;
    // Bytes an answer's body may bring (0: no cap); one more ends the task with
    // URLErrorDataLengthExceedsMaximum, and a download's file goes with it.
    std::uint64_t maximumResponseBytes = 0;
    // Where download files are made; empty: $TMPDIR, else /tmp.
    std::filesystem::path downloadDirectory;
};

// What a TLS peer showed: its chain in DER, leaf first, and the host asked for.
struct ServerTrust {
    std::vector<std::vector<std::uint8_t>> certificateChain;
    std::string host;
};

enum class ChallengeDisposition : int {
    useCredential = 0,          // trust this server
    performDefaultHandling = 1, // verify against the default trust store
    cancelChallenge = 2,        // fail the task with URLErrorServerCertificateUntrusted; nothing is sent
};

enum class URLSessionTaskKind { data, upload, download };
enum class URLSessionTaskState { suspended, running, completed };

class URLSession;
class URLSessionTask;

// Every method has a default; a delegate overrides what it wants to hear. Tasks made with a
// completion block report to the delegate only their trust challenges.
class URLSessionDelegate {
public:
    virtual ~URLSessionDelegate() = default;
    // On the transfer thread, during the handshake (a busy delegate queue must not stall it).
    virtual ChallengeDisposition didReceiveServerTrustChallenge(URLSession& session, const ServerTrust& trust);
    // The rest on the delegate queue.
    virtual void didReceiveResponse(URLSession& session, URLSessionTask& task, const HTTPURLResponse& response);
    virtual void didReceiveData(URLSession& session, URLSessionTask& task, std::string_view data);
    // The file exists only during this call; move it to keep it.
    virtual void didFinishDownloadingToURL(URLSession& session, URLSessionTask& task,
                                           const std::filesystem::path& location);
    virtual void didCompleteWithError(URLSession& session, URLSessionTask& task,
                                      const std::optional<foundation::Error>& error);
};

using DataTaskCompletion = std::function<void(std::string data, std::optional<HTTPURLResponse> response,
                                              std::optional<foundation::Error> error)>;
// The file exists only during the call.
using DownloadTaskCompletion =
    std::function<void(std::optional<std::filesystem::path> location, std::optional<HTTPURLResponse> response,
                       std::optional<foundation::Error> error)>;

class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
public:
    URLSessionTaskKind kind() const;
    std::uint64_t taskIdentifier() const;
    const URLRequest& originalRequest() const; // with the configuration's additional headers
    std::string taskDescription() const;
    void setTaskDescription(std::string description);
    URLSessionTaskState state() const;
    std::optional<HTTPURLResponse> response() const;
    std::optional<foundation::Error> error() const;

    // Starts the task (once); a cancelled or completed task stays as it is.
    void resume();
    // Ends the task with URLErrorCancelled unless it completed already.
    void cancel();

    // The session engine's side of the task.
    struct State;
    explicit URLSessionTask(std::shared_ptr<State> state);
    static std::size_t receiveBody(URLSessionTask& task, std::string_view data);
    std::shared_ptr<State> internal;
};

class URLSession {
public:
    // A delegate without a queue gets a new queue running one operation at a time.
    static std::shared_ptr<URLSession>
    sessionWithConfiguration(URLSessionConfiguration configuration,
                             std::shared_ptr<URLSessionDelegate> delegate = nullptr,
                             std::shared_ptr<foundation::OperationQueue> delegateQueue = nullptr);
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    const URLSessionConfiguration& configuration() const;

    std::shared_ptr<URLSessionTask> dataTaskWithRequest(const URLRequest& request, DataTaskCompletion completion = {});
    // The body streams from the file (never loaded whole).
    std::shared_ptr<URLSessionTask> uploadTaskWithRequestFromFile(const URLRequest& request,
                                                                  const std::filesystem::path& file,
                                                                  DataTaskCompletion completion = {});
    // The body goes to a new "horavine-download-*" file in the configuration's download folder, locked
    // (flock) and kept while the task and its completion run, removed however the task ends.
    std::shared_ptr<URLSessionTask> downloadTaskWithRequest(const URLRequest& request,
                                                            DownloadTaskCompletion completion = {});

    // On the delegate queue: the live (not completed) tasks by kind.
    void getTasksWithCompletionHandler(std::function<void(std::vector<std::shared_ptr<URLSessionTask>> dataTasks,
                                                          std::vector<std::shared_ptr<URLSessionTask>> uploadTasks,
                                                          std::vector<std::shared_ptr<URLSessionTask>> downloadTasks)>
                                           completion);
    // Cancels every live task and drops the delegate: nobody is called afterwards.
    void invalidateAndCancel();
    // Lets running tasks finish, refuses new ones, and drops the delegate once the last one ended.
    void finishTasksAndInvalidate();
    bool isInvalidated() const;

    struct Engine;

private:
    explicit URLSession(std::shared_ptr<Engine> engine);
    std::shared_ptr<Engine> engine_;
};

// Removes the "horavine-download-*" files of `directory` that no task holds any more (left by a process
// that ended before removing them), or with `includingRunning` every one of them.
void removeDownloadFiles(const std::filesystem::path& directory, bool includingRunning = false);

// The CA file that default handling verifies against. The program uses the system's bundle; a
// test binary links its own definition of this function (tests/support/hooks).
std::string defaultTrustStoreFile();

} // namespace net
