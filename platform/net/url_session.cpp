// The URL session's engine: one thread drives a libcurl multi handle; tasks are added, cancelled and
// finished there, and everything the delegate or a completion block hears goes through the delegate
// queue. Trust challenges are answered in OpenSSL's verify callback on the engine's thread.
#include "net/url_session.h"

#include "foundation/operation_queue.h"
#include "net/url_error.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace net {

namespace {

// OpenSSL frees its global state from an exit handler unless its first initialisation says otherwise.
// A session's thread (the kits' live until the process ends) may be inside a handshake or a transfer
// while the process exits, and would then run on freed state; so OpenSSL is told, before anything
// uses it, to leave its state to the process's end.
const bool tlsStateKeptThroughExit = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

} // namespace

ChallengeDisposition URLSessionDelegate::didReceiveServerTrustChallenge(URLSession&, const ServerTrust&)
{
    return ChallengeDisposition::performDefaultHandling;
}
void URLSessionDelegate::didReceiveResponse(URLSession&, URLSessionTask&, const HTTPURLResponse&) {}
void URLSessionDelegate::didReceiveData(URLSession&, URLSessionTask&, std::string_view) {}
void URLSessionDelegate::didFinishDownloadingToURL(URLSession&, URLSessionTask&, const std::filesystem::path&) {}
void URLSessionDelegate::didCompleteWithError(URLSession&, URLSessionTask&, const std::optional<foundation::Error>&) {}

struct URLSessionTask::State {
    std::weak_ptr<URLSession::Engine> engine;
    URLSessionTaskKind kind = URLSessionTaskKind::data;
    std::uint64_t identifier = 0;
    URLRequest request;
    std::filesystem::path uploadFile;
    DataTaskCompletion dataCompletion;
    DownloadTaskCompletion downloadCompletion;
    bool invokesDelegate = true;

    mutable std::mutex mutex; // guards the four below
    std::string description;
    URLSessionTaskState state = URLSessionTaskState::suspended;
    std::optional<HTTPURLResponse> response;
    std::optional<foundation::Error> error;

    // The engine thread's own.
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    int fd = -1;
    std::filesystem::path downloadPath;
    std::string body;
    HTTPURLResponse incoming;
    bool responseDelivered = false;
    bool challengeCancelled = false;
    bool writeFailed = false;
    bool httpsOnly = false;
    std::string refusedRedirect; // a redirect target httpsOnly refused
    long answerStatus = 0;       // of the answer whose header lines arrive
    std::uint64_t bodyLimit = 0; // 0: none
    std::uint64_t bodyReceived = 0;
    bool bodyTooLarge = false;
    bool cancelled = false;
    bool idleTimedOut = false;
    double idleLimit = 60.0; // seconds without progress before the task times out
    std::chrono::steady_clock::time_point lastProgress;
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;
    char errorText[CURL_ERROR_SIZE] = {};
};

struct URLSession::Engine : std::enable_shared_from_this<URLSession::Engine> {
    URLSessionConfiguration configuration;
    std::shared_ptr<foundation::OperationQueue> delegateQueue;
    std::weak_ptr<URLSession> session;

    std::mutex mutex; // guards the members below
    std::shared_ptr<URLSessionDelegate> delegate;
    bool invalidated = false;
    bool stopping = false;
    std::vector<std::shared_ptr<URLSessionTask>> liveTasks;
    std::deque<std::shared_ptr<URLSessionTask>> toStart;
    std::deque<std::shared_ptr<URLSessionTask>> toCancel;
    std::uint64_t nextIdentifier = 1;

    CURLM* multi = nullptr;
    std::thread thread;
    std::vector<std::shared_ptr<URLSessionTask>> running; // engine thread only

    ~Engine()
    {
        if (multi)
            curl_multi_cleanup(multi);
    }

    void wake()
    {
        if (multi)
            curl_multi_wakeup(multi);
    }

    // Runs the call on the delegate queue with the session and its delegate, if both are still there.
    void toDelegate(std::function<void(URLSession&, URLSessionDelegate&)> call)
    {
        delegateQueue->addOperationWithBlock([self = shared_from_this(), call = std::move(call)] {
            std::shared_ptr<URLSessionDelegate> current;
            {
                std::lock_guard lock(self->mutex);
                current = self->delegate;
            }
            const auto owner = self->session.lock();
            if (current && owner)
                call(*owner, *current);
        });
    }

    void run();
    bool startTransfer(const std::shared_ptr<URLSessionTask>& task);
    void finish(const std::shared_ptr<URLSessionTask>& task, std::optional<foundation::Error> error);
    void completeWithError(const std::shared_ptr<URLSessionTask>& task, foundation::Error error);
};

namespace {

constexpr std::string_view downloadFilePrefix = "horavine-download-";

// A download's file and its open, locked descriptor; removed once, at the latest when the last holder goes.
class DownloadFile {
public:
    DownloadFile(std::filesystem::path path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}
    ~DownloadFile() { remove(); }
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    void remove()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
        path_.clear();
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = -1;
    }

private:
    std::filesystem::path path_;
    int descriptor_;
};

foundation::Error urlError(std::int64_t code, std::string text = {})
{
    foundation::Error error;
    error.domain = std::string(URLErrorDomain);
    error.code = code;
    error.localizedDescription = std::move(text);
    return error;
}

std::optional<foundation::Error> errorOfTransfer(CURLcode code, const URLSessionTask::State& state)
{
    const std::string text = state.errorText[0] ? state.errorText : curl_easy_strerror(code);
    if (state.cancelled)
        return urlError(URLErrorCancelled, "cancelled");
    // The trust delegate refused the server: nothing was sent, and asking again changes nothing.
    if (state.challengeCancelled)
        return urlError(URLErrorServerCertificateUntrusted,
                        "the server's certificate does not chain to a trusted root");
    if (!state.refusedRedirect.empty())
        return urlError(URLErrorAppTransportSecurityRequiresSecureConnection,
                        "a redirect to " + state.refusedRedirect + " was refused: only https is allowed");
    if (state.bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return urlError(URLErrorDataLengthExceedsMaximum,
                        "the answer is longer than " + std::to_string(state.bodyLimit) + " bytes");
    if (state.idleTimedOut)
        return urlError(URLErrorTimedOut, "no progress within the request's time-out");
    if (state.writeFailed)
        return urlError(URLErrorCannotWriteToFile, text);
    switch (code) {
    case CURLE_OK: return std::nullopt;
    case CURLE_OPERATION_TIMEDOUT: return urlError(URLErrorTimedOut, text);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return urlError(URLErrorCannotFindHost, text);
    case CURLE_COULDNT_CONNECT: return urlError(URLErrorCannotConnectToHost, text);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE: return urlError(URLErrorNetworkConnectionLost, text);
    case CURLE_SSL_CONNECT_ERROR: return urlError(URLErrorSecureConnectionFailed, text);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR: return urlError(URLErrorServerCertificateUntrusted, text);
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return urlError(state.responseDelivered ? URLErrorBadServerResponse : URLErrorBadURL, text);
    case CURLE_TOO_MANY_REDIRECTS: return urlError(URLErrorHTTPTooManyRedirects, text);
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING: return urlError(URLErrorBadServerResponse, text);
    default: return urlError(URLErrorUnknown, text);
    }
}

// The host of a URL as a certificate must name it (no brackets around an IPv6 address).
std::string hostOf(const std::string& url)
{
    CURLU* parsed = curl_url();
    std::string host;
    char* part = nullptr;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK
        && curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
        curl_free(part);
    }
    curl_url_cleanup(parsed);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

bool isHTTPS(std::string_view url)
{
    constexpr std::string_view scheme = "https://";
    return url.size() >= scheme.size() && std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

// A Location header's target made absolute against the URL that answered it.
std::string resolvedLocation(const char* base, std::string_view location)
{
    std::string resolved(location);
    CURLU* parsed = curl_url();
    char* whole = nullptr;
    if (parsed && base && curl_url_set(parsed, CURLUPART_URL, base, CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK
        && curl_url_set(parsed, CURLUPART_URL, resolved.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK
        && curl_url_get(parsed, CURLUPART_URL, &whole, CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        resolved = whole;
        curl_free(whole);
    }
    curl_url_cleanup(parsed);
    return resolved;
}

int verifyServer(X509_STORE_CTX* context, void* argument)
{
    auto* state = static_cast<URLSessionTask::State*>(argument);
    auto engine = state->engine.lock();
    ServerTrust trust;
    // The host of the URL being fetched now: after a redirect, the one redirected to.
    char* current = nullptr;
    if (state->easy)
        curl_easy_getinfo(state->easy, CURLINFO_EFFECTIVE_URL, &current);
    trust.host = hostOf(current ? std::string(current) : state->request.url);
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(context);
    for (int index = 0; chain && index < sk_X509_num(chain); ++index) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(sk_X509_value(chain, index), &der);
        if (length > 0)
            trust.certificateChain.emplace_back(der, der + length);
        OPENSSL_free(der);
    }
    if (trust.certificateChain.empty()) {
        if (X509* leaf = X509_STORE_CTX_get0_cert(context)) {
            unsigned char* der = nullptr;
            const int length = i2d_X509(leaf, &der);
            if (length > 0)
                trust.certificateChain.emplace_back(der, der + length);
            OPENSSL_free(der);
        }
    }
    ChallengeDisposition disposition = ChallengeDisposition::performDefaultHandling;
    std::shared_ptr<URLSessionDelegate> delegate;
    if (engine) {
        std::lock_guard lock(engine->mutex);
        delegate = engine->delegate;
    }
    const auto owner = engine ? engine->session.lock() : nullptr;
    if (delegate && owner)
        disposition = delegate->didReceiveServerTrustChallenge(*owner, trust);
    switch (disposition) {
    case ChallengeDisposition::useCredential: return 1;
    case ChallengeDisposition::cancelChallenge:
        state->challengeCancelled = true;
        X509_STORE_CTX_set_error(context, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    case ChallengeDisposition::performDefaultHandling: break;
    }
    return X509_verify_cert(context) == 1 ? 1 : 0;
}

CURLcode configureTLS(CURL*, void* sslContext, void* argument)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), verifyServer, argument);
    return CURLE_OK;
}

std::size_t receiveHeader(char* data, std::size_t size, std::size_t count, void* argument)
{
    auto& state = *static_cast<URLSessionTask::State*>(argument);
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.starts_with("HTTP/")) { // a new answer (after a redirect or a 100 Continue) starts afresh
        state.incoming.headerFields = HTTPHeaderFields();
        const auto space = line.find(' ');
        state.answerStatus =
            space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space + 1)).c_str());
        return size * count;
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && colon > 0) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        const std::string name(line.substr(0, colon));
        // A redirect leaves https only with the task's end: the hop is never made.
        if (state.httpsOnly && state.answerStatus >= 300 && state.answerStatus < 400
            && headerNamesEqual(name, "Location")) {
            char* current = nullptr;
            curl_easy_getinfo(state.easy, CURLINFO_EFFECTIVE_URL, &current);
            const std::string target = resolvedLocation(current, value);
            if (!isHTTPS(target)) {
                state.refusedRedirect = target;
                if (const auto engine = state.engine.lock(); engine && engine->configuration.insecureURLRefused)
                    engine->configuration.insecureURLRefused(target);
                return 0; // ends the transfer
            }
        }
        state.incoming.headerFields.add(name, std::string(value));
    }
    return size * count;
}

// The request's time-out counts from the last byte moved either way (curl's own low-speed check
// averages over several seconds, so a burst before a stall would hide the stall).
int watchProgress(void* argument, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto& state = *static_cast<URLSessionTask::State*>(argument);
    const auto now = std::chrono::steady_clock::now();
    if (downloaded != state.lastDownloaded || uploaded != state.lastUploaded) {
        state.lastDownloaded = downloaded;
        state.lastUploaded = uploaded;
        state.lastProgress = now;
        return 0;
    }
    if (std::chrono::duration<double>(now - state.lastProgress).count() > state.idleLimit) {
        state.idleTimedOut = true;
        return 1; // aborts the transfer
    }
    return 0;
}

std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, void* argument)
{
    auto& state = *static_cast<URLSessionTask::State*>(argument);
    ssize_t result;
    do
        result = ::read(state.fd, buffer, size * count);
    while (result < 0 && errno == EINTR);
    return result < 0 ? CURL_READFUNC_ABORT : static_cast<std::size_t>(result);
}

int rewindUpload(void* argument, curl_off_t offset, int origin)
{
    auto& state = *static_cast<URLSessionTask::State*>(argument);
    return ::lseek(state.fd, static_cast<off_t>(offset), origin) < 0 ? CURL_SEEKFUNC_FAIL : CURL_SEEKFUNC_OK;
}

} // namespace

void URLSession::Engine::completeWithError(const std::shared_ptr<URLSessionTask>& task, foundation::Error error)
{
    finish(task, std::move(error));
}

bool URLSession::Engine::startTransfer(const std::shared_ptr<URLSessionTask>& task)
{
    auto& state = *task->internal;
    state.httpsOnly = configuration.httpsOnly;
    state.bodyLimit = configuration.maximumResponseBytes;
    if (state.httpsOnly && !isHTTPS(state.request.url)) {
        if (configuration.insecureURLRefused)
            configuration.insecureURLRefused(state.request.url);
        completeWithError(task, urlError(URLErrorAppTransportSecurityRequiresSecureConnection,
                                         "not sent to " + state.request.url + ": only https is allowed"));
        return false;
    }
    if (state.kind == URLSessionTaskKind::upload) {
        do
            state.fd = ::open(state.uploadFile.c_str(), O_RDONLY | O_CLOEXEC);
        while (state.fd < 0 && errno == EINTR);
        if (state.fd < 0) {
            completeWithError(task, urlError(URLErrorFileDoesNotExist, "cannot open " + state.uploadFile.string()));
            return false;
        }
    }
    if (state.kind == URLSessionTaskKind::download) {
        std::filesystem::path folder = configuration.downloadDirectory;
        if (folder.empty()) {
            const char* temporary = std::getenv("TMPDIR");
            folder = temporary && *temporary ? temporary : "/tmp";
        }
        std::error_code ignored; // a folder that cannot be made shows when the file cannot be
        std::filesystem::create_directories(folder, ignored);
        std::string pattern = (folder / (std::string(downloadFilePrefix) + "XXXXXX")).string();
        state.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (state.fd < 0) {
            completeWithError(
                task, urlError(URLErrorCannotWriteToFile, "cannot create a download file in " + folder.string()));
            return false;
        }
        // Held until the file is removed: a sweep for files left by ended processes passes it by.
        ::flock(state.fd, LOCK_EX | LOCK_NB);
        state.downloadPath = pattern;
    }
    CURL* easy = curl_easy_init();
    if (!easy) {
        completeWithError(task, urlError(URLErrorUnknown, "curl_easy_init failed"));
        return false;
    }
    state.easy = easy;
    const URLRequest& request = state.request;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, task.get());
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, state.errorText);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, std::max(0L, configuration.maximumRedirects));
    const char* protocols = state.httpsOnly ? "https" : "http,https";
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    if (state.bodyLimit > 0) // refused at once when the answer announces a longer body
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(state.bodyLimit));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    const std::string caFile = defaultTrustStoreFile();
    curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, configureTLS);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &state);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION,
        +[](char* data, std::size_t size, std::size_t count, void* argument) -> std::size_t {
            return URLSessionTask::receiveBody(*static_cast<URLSessionTask*>(argument),
                                               std::string_view(data, size * count));
        });
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, task.get());

    // Time-outs: the request's as an idle time-out, the configuration's for the whole task.
    const double idle =
        std::isfinite(request.timeoutInterval) && request.timeoutInterval > 0 ? request.timeoutInterval : 60.0;
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::min(idle, 86400.0) * 1000));
    state.idleLimit = std::min(idle, 86400.0);
    state.lastProgress = std::chrono::steady_clock::now();
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, watchProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &state);
    const double whole = configuration.timeoutIntervalForResource;
    if (std::isfinite(whole) && whole > 0)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(std::min(whole, 30.0 * 86400.0) * 1000));

    // The wire carries exactly the request's headers: curl's own Accept, Expect and form Content-Type
    // are switched off unless the request sets them. The body's length is curl's to write: it is always
    // the true length, and it is dropped when a redirect turns the request into a GET without a body
    // (a request's own Content-Length would then promise bytes that never come).
    for (const auto& [name, value] : request.headerFields.fields())
        if (!headerNamesEqual(name, "Content-Length"))
            state.headers =
                curl_slist_append(state.headers, (value.empty() ? name + ";" : name + ": " + value).c_str());
    for (const char* own : {"Accept", "Expect", "Content-Type"})
        if (!request.headerFields.value(own))
            state.headers = curl_slist_append(state.headers, (std::string(own) + ":").c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, state.headers);

    // POST and PUT go as curl's own methods: a custom method name would stay on every redirect, where
    // 301, 302 and 303 turn a POST into a GET without its body.
    if (state.kind == URLSessionTaskKind::upload) {
        struct stat facts {};
        ::fstat(state.fd, &facts);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, readUpload);
        curl_easy_setopt(easy, CURLOPT_READDATA, &state);
        // A 307 or 308 sends the file again from its start.
        curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, rewindUpload);
        curl_easy_setopt(easy, CURLOPT_SEEKDATA, &state);
        if (request.httpMethod == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(facts.st_size));
        } else {
            curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(facts.st_size));
            if (request.httpMethod != "PUT")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());
        }
    } else if (request.httpMethod == "GET" && request.httpBody.empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (request.httpMethod == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.httpBody.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.httpBody.data());
        if (request.httpMethod != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());
    }
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        completeWithError(task, urlError(URLErrorUnknown, "curl_multi_add_handle failed"));
        return false;
    }
    running.push_back(task);
    return true;
}

std::size_t URLSessionTask::receiveBody(URLSessionTask& task, std::string_view data)
{
    auto& state = *task.internal;
    // Counted as it arrives: an answer without a length, or with a false one, is cut at the cap too.
    state.bodyReceived += data.size();
    if (state.bodyLimit > 0 && state.bodyReceived > state.bodyLimit) {
        state.bodyTooLarge = true;
        return 0; // ends the transfer
    }
    const auto engine = state.engine.lock();
    if (!state.responseDelivered) {
        state.responseDelivered = true;
        long status = 0;
        curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
        char* effective = nullptr;
        curl_easy_getinfo(state.easy, CURLINFO_EFFECTIVE_URL, &effective);
        state.incoming.url = effective ? effective : state.request.url;
        state.incoming.statusCode = status > 0 ? std::optional<long>(status) : std::nullopt;
        {
            std::lock_guard lock(state.mutex);
            state.response = state.incoming;
        }
        if (state.invokesDelegate && engine) {
            engine->toDelegate([task = task.shared_from_this(),
                                response = state.incoming](URLSession& session, URLSessionDelegate& delegate) {
                delegate.didReceiveResponse(session, *task, response);
            });
        }
    }
    if (state.kind == URLSessionTaskKind::download) {
        std::size_t written = 0;
        while (written < data.size()) {
            const ssize_t result = ::write(state.fd, data.data() + written, data.size() - written);
            if (result < 0 && errno == EINTR)
                continue;
            if (result <= 0) {
                state.writeFailed = true;
                return 0;
            }
            written += static_cast<std::size_t>(result);
        }
        return data.size();
    }
    if (state.dataCompletion)
        state.body.append(data);
    if (state.invokesDelegate && engine) {
        engine->toDelegate([task = task.shared_from_this(), bytes = std::string(data)](URLSession& session,
                                                                                       URLSessionDelegate& delegate) {
            delegate.didReceiveData(session, *task, bytes);
        });
    }
    return data.size();
}

void URLSession::Engine::finish(const std::shared_ptr<URLSessionTask>& task, std::optional<foundation::Error> error)
{
    auto& state = *task->internal;
    if (state.easy) {
        curl_multi_remove_handle(multi, state.easy);
        if (!state.responseDelivered && !error) {
            // An answer without a body: its status and headers are still the response.
            long status = 0;
            curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
            char* effective = nullptr;
            curl_easy_getinfo(state.easy, CURLINFO_EFFECTIVE_URL, &effective);
            state.incoming.url = effective ? effective : state.request.url;
            state.incoming.statusCode = status > 0 ? std::optional<long>(status) : std::nullopt;
            {
                std::lock_guard lock(state.mutex);
                state.response = state.incoming;
            }
            if (state.invokesDelegate) {
                toDelegate([task, response = state.incoming](URLSession& owner, URLSessionDelegate& listener) {
                    listener.didReceiveResponse(owner, *task, response);
                });
            }
        }
        curl_easy_cleanup(state.easy);
        state.easy = nullptr;
    }
    curl_slist_free_all(state.headers);
    state.headers = nullptr;
    // A download's file stays open, and so locked, until it is removed.
    auto download =
        std::make_shared<DownloadFile>(state.downloadPath, state.kind == URLSessionTaskKind::download ? state.fd : -1);
    if (state.fd >= 0 && state.kind != URLSessionTaskKind::download)
        ::close(state.fd);
    state.fd = -1;
    std::erase(running, task);
    std::optional<HTTPURLResponse> response;
    {
        std::lock_guard lock(state.mutex);
        state.state = URLSessionTaskState::completed;
        state.error = error;
        response = state.response;
    }
    bool lastOfFinishing = false;
    {
        std::lock_guard lock(mutex);
        std::erase(liveTasks, task);
        lastOfFinishing = invalidated && liveTasks.empty();
    }

    const std::optional<std::filesystem::path> location =
        state.kind == URLSessionTaskKind::download && !state.downloadPath.empty() && !error
            ? std::optional<std::filesystem::path>(state.downloadPath)
            : std::nullopt;
    // A failed download's file goes at once; a finished one's once its completion has seen it.
    if (error)
        download->remove();
    const auto removeDownload = [download] { download->remove(); };
    if (state.dataCompletion || state.downloadCompletion) {
        delegateQueue->addOperationWithBlock(
            [task, body = std::move(state.body), response, error, location, removeDownload]() mutable {
                auto& finished = *task->internal;
                if (finished.dataCompletion)
                    finished.dataCompletion(std::move(body), response, error);
                else
                    finished.downloadCompletion(location, response, error);
                removeDownload();
            });
    } else {
        // One operation: the download's file lives exactly as long as the delegate's call, and is
        // removed even when the delegate is gone.
        delegateQueue->addOperationWithBlock([self = shared_from_this(), task, error, location, removeDownload] {
            std::shared_ptr<URLSessionDelegate> current;
            {
                std::lock_guard lock(self->mutex);
                current = self->delegate;
            }
            const auto owner = self->session.lock();
            if (current && owner && location)
                current->didFinishDownloadingToURL(*owner, *task, *location);
            removeDownload();
            if (current && owner)
                current->didCompleteWithError(*owner, *task, error);
        });
    }
    if (lastOfFinishing) {
        // The last task of a session that finishes its tasks: the delegate goes after its calls.
        delegateQueue->addOperationWithBlock([self = shared_from_this()] {
            std::lock_guard lock(self->mutex);
            self->delegate.reset();
        });
    }
}

void URLSession::Engine::run()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr); // a peer that hangs up gives EPIPE, not a signal
    while (true) {
        std::deque<std::shared_ptr<URLSessionTask>> starting, cancelling;
        {
            std::lock_guard lock(mutex);
            if (stopping)
                break;
            starting.swap(toStart);
            cancelling.swap(toCancel);
        }
        for (const auto& task : starting) {
            if (task->internal->cancelled) // made after the session was invalidated
                finish(task, urlError(URLErrorCancelled, "the session is invalidated"));
            else
                startTransfer(task);
        }
        for (const auto& task : cancelling)
            if (task->state() != URLSessionTaskState::completed)
                finish(task, urlError(URLErrorCancelled, "cancelled"));
        int active = 0;
        curl_multi_perform(multi, &active);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            URLSessionTask* raw = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &raw);
            const CURLcode result = message->data.result;
            const auto found =
                std::find_if(running.begin(), running.end(), [raw](const auto& task) { return task.get() == raw; });
            if (found == running.end())
                continue;
            const auto task = *found;
            finish(task, errorOfTransfer(result, *task->internal));
        }
        curl_multi_poll(multi, nullptr, 0, 200, nullptr);
    }
    // The session is gone: every task not yet completed ends cancelled, so no completion is lost.
    std::vector<std::shared_ptr<URLSessionTask>> live;
    {
        std::lock_guard lock(mutex);
        live = liveTasks;
    }
    for (const auto& task : live)
        if (task->state() != URLSessionTaskState::completed)
            finish(task, urlError(URLErrorCancelled, "cancelled"));
}

URLSessionTask::URLSessionTask(std::shared_ptr<State> state) : internal(std::move(state)) {}

URLSessionTaskKind URLSessionTask::kind() const
{
    return internal->kind;
}
std::uint64_t URLSessionTask::taskIdentifier() const
{
    return internal->identifier;
}
const URLRequest& URLSessionTask::originalRequest() const
{
    return internal->request;
}

std::string URLSessionTask::taskDescription() const
{
    std::lock_guard lock(internal->mutex);
    return internal->description;
}

void URLSessionTask::setTaskDescription(std::string description)
{
    std::lock_guard lock(internal->mutex);
    internal->description = std::move(description);
}

URLSessionTaskState URLSessionTask::state() const
{
    std::lock_guard lock(internal->mutex);
    return internal->state;
}

std::optional<HTTPURLResponse> URLSessionTask::response() const
{
    std::lock_guard lock(internal->mutex);
    return internal->response;
}

std::optional<foundation::Error> URLSessionTask::error() const
{
    std::lock_guard lock(internal->mutex);
    return internal->error;
}

void URLSessionTask::resume()
{
    const auto engine = internal->engine.lock();
    {
        std::lock_guard lock(internal->mutex);
        if (internal->state != URLSessionTaskState::suspended)
            return;
        internal->state = URLSessionTaskState::running;
    }
    if (!engine)
        return;
    {
        std::lock_guard lock(engine->mutex);
        engine->toStart.push_back(shared_from_this());
    }
    engine->wake();
}

void URLSessionTask::cancel()
{
    const auto engine = internal->engine.lock();
    if (!engine)
        return;
    {
        std::lock_guard lock(internal->mutex);
        if (internal->state == URLSessionTaskState::completed)
            return;
        internal->state = URLSessionTaskState::running; // a later resume starts nothing
    }
    // The engine ends it: a running transfer is removed, a suspended task completes without one.
    {
        std::lock_guard lock(engine->mutex);
        engine->toCancel.push_back(shared_from_this());
    }
    engine->wake();
}

std::shared_ptr<URLSession>
URLSession::sessionWithConfiguration(URLSessionConfiguration configuration,
                                     std::shared_ptr<URLSessionDelegate> delegate,
                                     std::shared_ptr<foundation::OperationQueue> delegateQueue)
{
    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!curlReady)
        return nullptr;
    auto engine = std::make_shared<Engine>();
    engine->configuration = std::move(configuration);
    engine->delegate = std::move(delegate);
    engine->delegateQueue = delegateQueue ? std::move(delegateQueue) : std::make_shared<foundation::OperationQueue>(1);
    engine->multi = curl_multi_init();
    if (!engine->multi)
        return nullptr;
    std::shared_ptr<URLSession> session(new URLSession(engine));
    engine->session = session;
    engine->thread = std::thread([engine] { engine->run(); });
    return session;
}

URLSession::URLSession(std::shared_ptr<Engine> engine) : engine_(std::move(engine)) {}

URLSession::~URLSession()
{
    invalidateAndCancel();
    {
        std::lock_guard lock(engine_->mutex);
        engine_->stopping = true;
    }
    engine_->wake();
    if (engine_->thread.get_id() == std::this_thread::get_id())
        engine_->thread.detach(); // the engine's own callback dropped the last reference
    else if (engine_->thread.joinable())
        engine_->thread.join();
}

const URLSessionConfiguration& URLSession::configuration() const
{
    return engine_->configuration;
}

namespace {

std::shared_ptr<URLSessionTask> makeTask(const std::shared_ptr<URLSession::Engine>& engine, URLSessionTaskKind kind,
                                         const URLRequest& request)
{
    auto state = std::make_shared<URLSessionTask::State>();
    state->engine = engine;
    state->kind = kind;
    state->request = request;
    for (const auto& [name, value] : engine->configuration.HTTPAdditionalHeaders.fields())
        state->request.headerFields.add(name, value);
    auto task = std::make_shared<URLSessionTask>(state);
    std::lock_guard lock(engine->mutex);
    state->identifier = engine->nextIdentifier++;
    if (engine->invalidated)
        state->cancelled = true; // an invalidated session runs nothing new: resume ends it cancelled
    engine->liveTasks.push_back(task);
    return task;
}

} // namespace

std::shared_ptr<URLSessionTask> URLSession::dataTaskWithRequest(const URLRequest& request,
                                                                DataTaskCompletion completion)
{
    auto task = makeTask(engine_, URLSessionTaskKind::data, request);
    task->internal->invokesDelegate = !completion;
    task->internal->dataCompletion = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::uploadTaskWithRequestFromFile(const URLRequest& request,
                                                                          const std::filesystem::path& file,
                                                                          DataTaskCompletion completion)
{
    auto task = makeTask(engine_, URLSessionTaskKind::upload, request);
    task->internal->request.httpBody.clear();
    task->internal->uploadFile = file;
    task->internal->invokesDelegate = !completion;
    task->internal->dataCompletion = std::move(completion);
    return task;
}

std::shared_ptr<URLSessionTask> URLSession::downloadTaskWithRequest(const URLRequest& request,
                                                                    DownloadTaskCompletion completion)
{
    auto task = makeTask(engine_, URLSessionTaskKind::download, request);
    task->internal->invokesDelegate = !completion;
    task->internal->downloadCompletion = std::move(completion);
    return task;
}

void URLSession::getTasksWithCompletionHandler(
    std::function<void(std::vector<std::shared_ptr<URLSessionTask>>, std::vector<std::shared_ptr<URLSessionTask>>,
                       std::vector<std::shared_ptr<URLSessionTask>>)>
        completion)
{
    std::vector<std::shared_ptr<URLSessionTask>> live;
    {
        std::lock_guard lock(engine_->mutex);
        live = engine_->liveTasks;
    }
    engine_->delegateQueue->addOperationWithBlock([live, completion = std::move(completion)] {
        std::vector<std::shared_ptr<URLSessionTask>> data, upload, download;
        for (const auto& task : live) {
            if (task->state() == URLSessionTaskState::completed)
                continue;
            (task->kind() == URLSessionTaskKind::data     ? data
             : task->kind() == URLSessionTaskKind::upload ? upload
                                                          : download)
                .push_back(task);
        }
        if (completion)
            completion(std::move(data), std::move(upload), std::move(download));
    });
}

void URLSession::invalidateAndCancel()
{
    std::vector<std::shared_ptr<URLSessionTask>> live;
    {
        std::lock_guard lock(engine_->mutex);
        engine_->invalidated = true;
        engine_->delegate.reset();
        live = engine_->liveTasks;
    }
    for (const auto& task : live)
        task->cancel();
}

void URLSession::finishTasksAndInvalidate()
{
    std::lock_guard lock(engine_->mutex);
    engine_->invalidated = true;
    if (engine_->liveTasks.empty())
        engine_->delegate.reset();
}

bool URLSession::isInvalidated() const
{
    std::lock_guard lock(engine_->mutex);
    return engine_->invalidated;
}

void removeDownloadFiles(const std::filesystem::path& directory, bool includingRunning)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::filesystem::path path = entry->path();
        if (!path.filename().string().starts_with(downloadFilePrefix))
            continue;
        if (includingRunning) {
            ::unlink(path.c_str());
            continue;
        }
        // A running task holds its file's lock; a file whose lock can be had was left behind.
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (descriptor < 0)
            continue;
        if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(descriptor);
    }
}

} // namespace net
