// The HTTP side over libmicrohttpd. MHD's own threads only move bytes; each request's handler runs
// on a pool of our own while its connection is suspended, so a slow directory change neither
// blocks the other connections nor is cut off by the idle timeout.
#include "web/http.h"

#include "platform/text.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace web {

namespace {

const char* const ContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

// A numeric address only: a host name would be resolved at start, possibly to something else.
bool parseAddress(const std::string& address, int port, sockaddr_storage& out, socklen_t& length) {
    std::memset(&out, 0, sizeof out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

bool isLoopback(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr) >> 24) == 127;
    return address.ss_family == AF_INET6 &&
           IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

bool isIpAddress(const std::string& text) {
    sockaddr_storage ignored{};
    socklen_t length = 0;
    return parseAddress(text, 0, ignored, length);
}

// The peer as text; an IPv4 peer on a dual-stack socket shows as plain IPv4, as TrustedProxy= names it.
std::string peerAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return {};
    const sockaddr* sa = info->client_addr;
    const socklen_t length = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(sa, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return {};
    std::string text = host;
    if (text.rfind("::ffff:", 0) == 0 && text.find('.') != std::string::npos) text = text.substr(7);
    return text;
}


bool readFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    content = all.str();
    return static_cast<bool>(in) || in.eof();
}

// The answers the server gives by itself, in the form the path expects.
Response ownAnswer(const std::string& path, int status, const std::string& text) {
    Response r;
    r.status = status;
    if (path.rfind("/api/", 0) == 0) {
        r.contentType = "application/json; charset=utf-8";
        std::string escaped;
        for (char c : text) escaped += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        r.body = "{\"error\":\"" + escaped + "\"}";
    } else {
        r.body = "<!DOCTYPE html><html lang=\"de\"><head><meta charset=\"utf-8\"><title>Tarvel</title></head><body><p>" +
                 text + "</p></body></html>";
    }
    return r;
}

struct Pending;

}  // namespace

std::vector<std::pair<std::string, std::string>> securityHeaders(bool tls) {
    std::vector<std::pair<std::string, std::string>> h;
    if (tls) h.emplace_back("Strict-Transport-Security", "max-age=31536000");
    h.emplace_back("Content-Security-Policy", ContentSecurityPolicy);
    h.emplace_back("X-Content-Type-Options", "nosniff");
    h.emplace_back("Referrer-Policy", "no-referrer");
    h.emplace_back("X-Frame-Options", "DENY");
    return h;
}

namespace {

// One request on its way through MHD's calls and the handler pool.
struct Pending {
    MHD_Connection* connection = nullptr;
    Request request;
    MHD_PostProcessor* post = nullptr;
    bool tooLarge = false;
    bool repeated = false;  // the form field being read was seen before
    bool dispatched = false;
    bool answered = false;  // the handler's response is ready
    Response response;
    ~Pending() {
        if (post) MHD_destroy_post_processor(post);
    }
};

}  // namespace

struct HttpServer::Impl {
    ServerOptions options;
    Handler handler;
    bool tls = false;
    std::string certificate, key;  // MHD keeps pointers to these
    MHD_Daemon* daemon = nullptr;
    int boundPort = 0;

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<Pending*> queue;
    size_t running = 0;
    bool stopping = false;
    std::vector<std::thread> workers;

    void work() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || !queue.empty(); });
            if (queue.empty()) return;
            Pending* p = queue.front();
            queue.pop_front();
            ++running;
            lock.unlock();
            Response r;
            try {
                r = handler(p->request);
            } catch (...) {
                r = ownAnswer(p->request.path, 500, "Interner Fehler des Dienstes.");
            }
            lock.lock();
            p->response = std::move(r);
            p->answered = true;
            // Resumed under the lock so stop() cannot pass the daemon's end in between.
            MHD_resume_connection(p->connection);
            --running;
            if (queue.empty() && running == 0) idle.notify_all();
        }
    }

    MHD_Result send(MHD_Connection* connection, const Response& r) {
        MHD_Response* response =
            MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()), MHD_RESPMEM_MUST_COPY);
        if (!response) return MHD_NO;
        bool cacheControl = false;
        for (const auto& [name, value] : r.headers) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
            if (text::toLowerAscii(name) == "cache-control") cacheControl = true;
        }
        for (const auto& [name, value] : securityHeaders(tls)) MHD_add_response_header(response, name.c_str(), value.c_str());
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.c_str());
        const std::string type = text::toLowerAscii(r.contentType);
        if (!cacheControl && (type.rfind("text/html", 0) == 0 || type.rfind("application/json", 0) == 0))
            MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        const MHD_Result result = MHD_queue_response(connection, static_cast<unsigned>(r.status), response);
        MHD_destroy_response(response);
        return result;
    }

    std::string clientAddress(MHD_Connection* connection) {
        const std::string peer = peerAddress(connection);
        if (std::find(options.trustedProxies.begin(), options.trustedProxies.end(), peer) == options.trustedProxies.end())
            return peer;
        const char* forwarded = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For");
        if (!forwarded) return peer;
        // The last hop is the one our proxy added; anything before it the client may have forged.
        std::string last = forwarded;
        const size_t comma = last.rfind(',');
        if (comma != std::string::npos) last = last.substr(comma + 1);
        last = text::trimBlanks(last);
        return isIpAddress(last) ? last : peer;
    }

    static MHD_Result collect(void* cls, MHD_ValueKind, const char* key, const char* value) {
        auto* target = static_cast<std::map<std::string, std::string>*>(cls);
        target->emplace(key, value ? value : "");
        return MHD_YES;
    }

    static MHD_Result collectHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
        auto* target = static_cast<std::map<std::string, std::string>*>(cls);
        target->emplace(text::toLowerAscii(key), value ? value : "");
        return MHD_YES;
    }

    // MHD hands a long value over in pieces (off > 0). A repeated field keeps its first value, as
    // the query does: joining them would let a second "token" extend the first.
    static MHD_Result formField(void* cls, MHD_ValueKind, const char* key, const char*, const char*, const char*,
                                const char* data, uint64_t off, size_t size) {
        auto* p = static_cast<Pending*>(cls);
        if (off == 0) p->repeated = !p->request.form.emplace(key, std::string()).second;
        if (!p->repeated) p->request.form[key].append(data ? data : "", size);
        return MHD_YES;
    }

    MHD_Result access(MHD_Connection* connection, const char* url, const char* method, const char* uploadData,
                      size_t* uploadSize, void** context) {
        auto* p = static_cast<Pending*>(*context);
        if (!p) {
            p = new Pending;
            *context = p;
            p->connection = connection;
            p->request.method = method;
            p->request.path = url;
            MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &collect, &p->request.query);
            MHD_get_connection_values(connection, MHD_HEADER_KIND, &collectHeader, &p->request.headers);
            MHD_get_connection_values(connection, MHD_COOKIE_KIND, &collect, &p->request.cookies);
            p->request.clientAddress = clientAddress(connection);
            // A body announced too large is refused before a byte of it is read.
            const auto length = p->request.headers.find("content-length");
            if (length != p->request.headers.end()) {
                char* end = nullptr;
                errno = 0;
                const unsigned long long announced = std::strtoull(length->second.c_str(), &end, 10);
                if (errno != 0 || *end != '\0' || announced > options.maxBody) p->tooLarge = true;
            }
            if (p->tooLarge) return send(connection, ownAnswer(p->request.path, 413, "Die Anfrage ist zu groß."));
            const auto type = p->request.headers.find("content-type");
            if (type != p->request.headers.end() &&
                text::toLowerAscii(type->second).rfind(MHD_HTTP_POST_ENCODING_FORM_URLENCODED, 0) == 0)
                p->post = MHD_create_post_processor(connection, 4096, &formField, p);
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            if (p->tooLarge) return MHD_NO;
            // A body without a length that grows too large: MHD takes no answer in the middle of
            // a body, so the connection is closed instead of reading the rest.
            if (p->request.body.size() + *uploadSize > options.maxBody) return MHD_NO;
            p->request.body.append(uploadData, *uploadSize);
            if (p->post && MHD_post_process(p->post, uploadData, *uploadSize) != MHD_YES) {
                MHD_destroy_post_processor(p->post);
                p->post = nullptr;
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        if (p->tooLarge) return MHD_YES;  // answered already
        if (p->answered) return send(connection, p->response);
        if (p->dispatched) return MHD_YES;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) return send(connection, ownAnswer(p->request.path, 503, "Der Dienst wird beendet."));
            p->dispatched = true;
            MHD_suspend_connection(connection);
            queue.push_back(p);
        }
        wake.notify_one();
        return MHD_YES;
    }

    static MHD_Result accessThunk(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                  const char*, const char* uploadData, size_t* uploadSize, void** context) {
        return static_cast<Impl*>(cls)->access(connection, url, method, uploadData, uploadSize, context);
    }

    static void completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
        delete static_cast<Pending*>(*context);
        *context = nullptr;
    }
};

HttpServer::HttpServer() : impl_(new Impl) {}

HttpServer::~HttpServer() {
    stop();
    delete impl_;
}

bool HttpServer::start(const ServerOptions& options, Handler handler, std::string& error) {
    stop();
    Impl& s = *impl_;
    s.options = options;
    s.handler = std::move(handler);
    s.stopping = false;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (!parseAddress(options.address, options.port, address, length) || options.port < 0 || options.port > 65535) {
        error = "Die Adresse " + options.address + ":" + std::to_string(options.port) + " ist keine gültige IP-Adresse mit Port.";
        return false;
    }
    s.tls = !options.certificateFile.empty() || !options.keyFile.empty();
    if (!s.tls && !isLoopback(address)) {
        error = "Ohne Zertifikat (Certificate=, Key=) lauscht der Dienst nur auf einer Loopback-Adresse, nicht auf " +
                options.address + ".";
        return false;
    }
    if (s.tls) {
        if (!readFile(options.certificateFile, s.certificate) || s.certificate.empty()) {
            error = "Das Zertifikat " + options.certificateFile + " kann nicht gelesen werden.";
            return false;
        }
        if (!readFile(options.keyFile, s.key) || s.key.empty()) {
            error = "Der Schlüssel " + options.keyFile + " kann nicht gelesen werden.";
            return false;
        }
    }
    const unsigned threads = std::max(1u, options.threads);
    unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
    if (s.tls) flags |= MHD_USE_TLS;
    std::vector<MHD_OptionItem> items = {
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_THREAD_POOL_SIZE, static_cast<intptr_t>(std::min(threads, 4u)), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(options.connectionLimit), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(options.connectionsPerAddress), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(options.timeoutSeconds), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::completed), nullptr},
    };
    if (s.tls) {
        items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(s.certificate.c_str())});
        items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(s.key.c_str())});
        items.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    items.push_back({MHD_OPTION_END, 0, nullptr});
    s.daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::accessThunk, &s, MHD_OPTION_ARRAY, items.data(),
                                MHD_OPTION_END);
    if (!s.daemon) {
        error = "Der Dienst kann auf " + options.address + ":" + std::to_string(options.port) +
                " nicht starten (Adresse belegt, keine Berechtigung" + (s.tls ? ", oder Zertifikat und Schlüssel unbrauchbar" : "") +
                ").";
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(s.daemon, MHD_DAEMON_INFO_BIND_PORT);
    s.boundPort = info ? info->port : options.port;
    for (unsigned i = 0; i < threads; ++i) s.workers.emplace_back([&s] { s.work(); });
    return true;
}

void HttpServer::stop() {
    Impl& s = *impl_;
    if (!s.daemon) return;
    const MHD_socket listening = MHD_quiesce_daemon(s.daemon);
    {
        // Requests already handed over finish (a change half done is worse than a late stop);
        // new ones are answered 503. Every suspended connection is resumed before MHD stops.
        std::unique_lock<std::mutex> lock(s.mutex);
        s.stopping = true;
        s.idle.wait(lock, [&] { return s.queue.empty() && s.running == 0; });
    }
    s.wake.notify_all();
    for (std::thread& t : s.workers) t.join();
    s.workers.clear();
    MHD_stop_daemon(s.daemon);
    if (listening != MHD_INVALID_SOCKET) ::close(listening);
    s.daemon = nullptr;
}

int HttpServer::port() const { return impl_->boundPort; }

}  // namespace web
