// The HTTP side of tarvel-web over libmicrohttpd: TLS with the school's certificate, bounded
// requests (size and time), connections limited per address and in all, and the security
// headers on every answer. Handlers see a parsed request and return a whole answer; no HTTP is
// parsed here by hand.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace web {

struct Request {
    std::string method;   // "GET", "POST", ...
    std::string path;     // without the query
    std::map<std::string, std::string> query;    // decoded
    std::map<std::string, std::string> form;     // an application/x-www-form-urlencoded body, decoded
    std::map<std::string, std::string> headers;  // names lower-cased
    std::map<std::string, std::string> cookies;
    std::string body;     // as sent (JSON for the API)
    std::string clientAddress;  // the peer, or X-Forwarded-For's last hop when the peer is a TrustedProxy=
};

struct Response {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // Set-Cookie, Location, Retry-After, ...
};

using Handler = std::function<Response(const Request&)>;

struct ServerOptions {
    std::string address = "0.0.0.0";
    int port = 8443;
    std::string certificateFile;   // PEM; empty only for plain HTTP on a loopback address
    std::string keyFile;
    std::vector<std::string> trustedProxies;  // addresses whose X-Forwarded-For is believed
    size_t maxBody = 64 * 1024;    // larger bodies answer 413
    unsigned timeoutSeconds = 15;  // an idle or slow connection is closed after this
    unsigned connectionsPerAddress = 16;
    unsigned connectionLimit = 512;
    unsigned threads = 48;         // handlers at once: a job's end is waited for (up to 10 s) in one
};

class HttpServer {
public:
    HttpServer();
    ~HttpServer();  // stops
    // Starts listening. False with error set (German) when the address, the certificate or the
    // key is unusable, or plain HTTP was asked for on an address other than loopback.
    bool start(const ServerOptions& options, Handler handler, std::string& error);
    void stop();
    int port() const;  // the bound port (useful when options.port was 0)

private:
    struct Impl;
    Impl* impl_;
};

// Headers every answer carries: HSTS (over TLS), a strict Content-Security-Policy (own scripts
// and styles only, no inline code, no framing), nosniff, no referrer.
std::vector<std::pair<std::string, std::string>> securityHeaders(bool tls);

}  // namespace web
