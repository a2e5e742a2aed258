// The HTTP server as clients meet it: libcurl over TLS and plain HTTP, raw sockets for the hostile ones.
#include "web/http.h"

#include "temp_trees.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

using testsupport::TempDir;

struct Answer {
    long status = 0;
    std::string headers, body;
};

size_t append(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

Answer fetch(const std::string& url, const std::string& post = {}, std::vector<std::string> headerLines = {}) {
    Answer a;
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const auto& h : headerLines) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);  // the test's own certificate
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &append);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &a.headers);
    if (!post.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post.c_str());
    if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return a;
}

// A raw connection that sends text, and what it reads until the server closes it (rather than the wait running out).
int rawSend(int port, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval wait{6, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    return fd;
}

std::string readUntilClosed(int fd) {
    std::string got;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) got.append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != ECONNRESET) got += "<still open>";
    return got;
}

// Echoes what the server made of the request; /wait blocks until /release has been answered.
struct Echo {
    std::atomic<bool> released{false};
    web::Response operator()(const web::Request& r) {
        web::Response out;
        if (r.path == "/release") released = true;
        for (int i = 0; r.path == "/wait" && !released && i < 100; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto value = [](const auto& map, const char* key) { return map.count(key) ? map.at(key) : "-"; };
        out.body = r.method + " " + r.path + " q=" + value(r.query, "q") + " f=" + value(r.form, "f") + "|" + value(r.form, "g") +
                   " c=" + value(r.cookies, "tarvel") + " h=" + value(r.headers, "x-probe") + " from=" +
                   r.clientAddress + (r.path == "/wait" && !released ? " alone" : "");
        return out;
    }
};

struct HttpServer : ::testing::Test {
    TempDir dir;
    Echo echo;
    web::HttpServer server;
    web::ServerOptions options;
    HttpServer() {
        options.address = "127.0.0.1";
        options.port = 0;
    }
    void useCertificate() {
        ASSERT_EQ(testsupport::runCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                                          "-subj /CN=localhost -keyout " + dir.file("key.pem") + " -out " + dir.file("cert.pem")),
                  0);
        options.certificateFile = dir.file("cert.pem");
        options.keyFile = dir.file("key.pem");
    }
    void start() {
        std::string error;
        ASSERT_TRUE(server.start(options, [this](const web::Request& r) { return echo(r); }, error)) << error;
    }
    std::string url(const std::string& path, bool tls = false) {
        return (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(server.port()) + path;
    }
};

TEST_F(HttpServer, TlsRequestIsParsedByMhdAndEveryAnswerCarriesTheSecurityHeaders) {
    useCertificate();
    start();
    const Answer a = fetch(url("/p?q=a%20b", true), "f=%C3%A4+x&f=2&g=%3Cz%3E",
                           {"Cookie: tarvel=abc; other=1", "X-Probe: yes"});
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "POST /p q=a b f=ä x|<z> c=abc h=yes from=127.0.0.1");
    for (const char* header : {"Strict-Transport-Security: max-age=", "X-Content-Type-Options: nosniff",
                               "Referrer-Policy: no-referrer", "Cache-Control: no-store",
                               "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; "
                               "img-src 'self'; connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'"})
        EXPECT_NE(a.headers.find(header), std::string::npos) << header << " missing in\n" << a.headers;
    EXPECT_EQ(fetch(url("/p")).status, 0) << "plain HTTP answered on the TLS port";
}

TEST_F(HttpServer, PlainHttpOnlyOnLoopbackAndNeverWithHsts) {
    std::string error;
    for (const char* address : {"0.0.0.0", "192.0.2.1", "::", "localhost"}) {
        options.address = address;
        EXPECT_FALSE(server.start(options, [this](const web::Request& r) { return echo(r); }, error)) << address;
        EXPECT_FALSE(error.empty());
    }
    options.address = "127.0.0.1";
    start();
    const Answer a = fetch(url("/"));
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.headers.find("Strict-Transport-Security"), std::string::npos);
}

TEST_F(HttpServer, ClientAddressFromXForwardedForOnlyBehindATrustedProxy) {
    struct Case {
        std::vector<std::string> trusted;
        const char* forwarded;
        const char* seen;
    } cases[] = {
        {{}, "203.0.113.9", "from=127.0.0.1"},
        {{"127.0.0.1"}, "198.51.100.1, 192.0.2.7, 203.0.113.9", "from=203.0.113.9"},  // the hop our proxy added
        {{"127.0.0.1"}, "203.0.113.9, <script>", "from=127.0.0.1"},
        {{"10.0.0.1"}, "203.0.113.9", "from=127.0.0.1"},
    };
    for (const Case& c : cases) {
        options.trustedProxies = c.trusted;
        start();
        const Answer a = fetch(url("/"), {}, {std::string("X-Forwarded-For: ") + c.forwarded});
        EXPECT_NE(a.body.find(c.seen), std::string::npos) << c.forwarded << ": " << a.body;
        server.stop();
    }
}

TEST_F(HttpServer, TooLargeBodyIsRefusedWithoutReadingIt) {
    options.maxBody = 1024;
    start();
    // Announced: the answer comes although the body never follows.
    const int fd = rawSend(server.port(), "POST /p HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n");
    EXPECT_EQ(readUntilClosed(fd).rfind("HTTP/1.1 413", 0), 0u);
    ::close(fd);
    // Sent in chunks without a length: closed unanswered, as MHD takes no answer in mid-body.
    EXPECT_EQ(fetch(url("/p"), "f=" + std::string(5000, 'x'), {"Transfer-Encoding: chunked"}).status, 0);
    EXPECT_EQ(fetch(url("/p"), "f=" + std::string(1000, 'x')).status, 200);
}

TEST_F(HttpServer, SlowClientsAndTooManyConnectionsFromOneAddressAreClosed) {
    options.timeoutSeconds = 1;
    options.connectionsPerAddress = 2;
    start();
    const std::string half = "GET / HTTP/1.1\r\nHost: x\r\n";
    int held[2];
    for (int& fd : held) fd = rawSend(server.port(), half);
    const int third = rawSend(server.port(), half + "Connection: close\r\n\r\n");
    EXPECT_EQ(readUntilClosed(third), "") << "a third connection from one address was served";
    for (int fd : held) EXPECT_EQ(readUntilClosed(fd), "") << "half a header held the connection";
    for (int fd : {held[0], held[1], third}) ::close(fd);
    // The address's connections count as ended once the server has cleaned them up, a moment
    // after the client saw them closed.
    int status = 0;
    for (int tries = 0; tries < 40 && status != 200; ++tries) {
        if (tries) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        status = fetch(url("/")).status;
    }
    EXPECT_EQ(status, 200);
}

TEST_F(HttpServer, ASlowHandlerDoesNotHoldUpTheOthers) {
    options.threads = 2;
    start();
    std::thread slow([&] { EXPECT_EQ(fetch(url("/wait")).body.find("alone"), std::string::npos); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(fetch(url("/release")).status, 200);
    slow.join();
}

}  // namespace
