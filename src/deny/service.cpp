// The school's service through its JSON API: one libcurl request per call, HTTP Basic with the
// operator's own login over TLS, the certificate always checked, every request bounded in time.
#include "deny/service.h"

#include "nwapi/client_config.h"
#include "platform/ports.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <nlohmann/json.hpp>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace deny {

namespace {

using Json = nlohmann::json;

constexpr long ConnectSeconds = 10;
constexpr long AnswerSeconds = 60;
constexpr size_t MaxAnswerBytes = 64 * 1024 * 1024;

struct ServiceConf {
    std::string address;  // without a trailing slash
    std::string login;
    std::string caFile;
    std::string passwordFile;
};

std::string besideFile(const std::string& file, const std::string& value) {
    if (value.empty() || value[0] == '/') return value;
    return (std::filesystem::path(file).parent_path() / value).string();
}

bool readServiceConf(ServiceConf& conf) {
    nwapi::ClientConfiguration config;
    if (!nwapi::ReadClientConfiguration(config)) return false;
    auto value = [&](const char* key) {
        auto it = config.values.find(key);
        return it == config.values.end() ? std::string() : it->second;
    };
    conf.address = value("service");
    while (!conf.address.empty() && conf.address.back() == '/') conf.address.pop_back();
    conf.login = value("servicelogin");
    if (conf.login.empty()) {
        // The operator's first name component: lehrer1.LEHRER.UNTERRICHT logs in as lehrer1.
        std::string op = config.operatorName;
        if (!op.empty() && op[0] == '.') op.erase(0, 1);
        conf.login = op.substr(0, op.find('.'));
    }
    conf.caFile = besideFile(config.file, value("servicecafile").empty() ? value("cafile") : value("servicecafile"));
    conf.passwordFile = besideFile(config.file, value("passwordfile"));
    return true;
}

bool isLoopbackHost(std::string host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::string lower;
    for (char c : host) lower += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, lower.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, lower.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The password is asked once per process: the window sends several requests per click.
std::string& cachedPassword() {
    static std::string password;
    return password;
}

bool operatorPassword(const ServiceConf& conf, std::string& password, std::string& error) {
    if (!cachedPassword().empty()) {
        password = cachedPassword();
        return true;
    }
    // From here on no core dump may hold it.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (!conf.passwordFile.empty()) {
        struct stat st {};
        // Only the operator may read it, as for the directory's own bind.
        if (stat(conf.passwordFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
            (st.st_mode & 077) != 0) {
            error = "PasswordFile= ist nicht lesbar oder nicht nur für den Besitzer lesbar (Modus 0600): " +
                    conf.passwordFile;
            return false;
        }
        std::ifstream in(conf.passwordFile, std::ios::binary);
        std::getline(in, password);
        while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) password.pop_back();
    } else if (!platform::askPassword("Kennwort für " + conf.login + " (" + conf.address + ")", password)) {
        password.clear();
    }
    if (password.empty()) {
        error = "Kein Kennwort für den Dienst angegeben: nichts wurde geändert.";
        return false;
    }
    cachedPassword() = password;
    return true;
}

size_t collect(char* data, size_t size, size_t count, void* target) {
    std::string& body = *static_cast<std::string*>(target);
    if (body.size() + size * count > MaxAnswerBytes) return 0;  // ends the transfer with an error
    body.append(data, size * count);
    return size * count;
}

struct Answer {
    bool reached = false;
    long status = 0;
    Json json;
    std::string error;
};

class Client {
public:
    // False with error set when the configuration names no usable service.
    bool open(std::string& error) {
        if (!readServiceConf(conf_) || conf_.address.empty()) {
            error = "Kein Dienst in der nwclient.conf (Service=).";
            return false;
        }
        if (error = serviceAddressProblem(conf_.address); !error.empty()) return false;
        if (conf_.login.empty()) {
            error = "Kein Login für den Dienst: ServiceLogin= oder Operator= in der nwclient.conf.";
            return false;
        }
        return operatorPassword(conf_, password_, error);
    }

    Answer request(const std::string& method, const std::string& path, const std::string& body = {}) {
        initCurl();
        Answer a;
        CURL* curl = curl_easy_init();
        if (!curl) {
            a.error = "Der Dienst kann nicht angefragt werden (libcurl).";
            return a;
        }
        std::string received;
        char curlError[CURL_ERROR_SIZE] = {};
        curl_slist* headers = nullptr;
        headers = curl_slist_append(headers, "Accept: application/json");
        if (method == "POST") headers = curl_slist_append(headers, "Content-Type: application/json");
        const std::string url = conf_.address + path;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);  // a redirect could carry the password elsewhere
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, ConnectSeconds);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, AnswerSeconds);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        // The school's CA alone: no other CA may vouch for the service, and the system's CA folder
        // is not read again for every request.
        if (!conf_.caFile.empty()) {
            curl_easy_setopt(curl, CURLOPT_CAINFO, conf_.caFile.c_str());
            curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
        }
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(curl, CURLOPT_USERNAME, conf_.login.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlError);
        curl_easy_setopt(curl, CURLOPT_USERAGENT, "tarvel/" TARVEL_VERSION);
        if (method == "POST") {
            curl_easy_setopt(curl, CURLOPT_POST, 1L);
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
        }
        const CURLcode rc = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.status);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        if (rc != CURLE_OK) {
            a.error = transferError(rc, curlError, method == "POST");
            return a;
        }
        a.reached = true;
        a.json = Json::parse(received, nullptr, false);
        if (a.status == 401) a.error = "Anmeldung am Dienst abgelehnt (" + conf_.login + ", " + conf_.address + ").";
        else if (a.status >= 400 || a.status < 200) a.error = refusal(a);
        else if (a.json.is_discarded() || !a.json.is_object())
            a.error = "Der Dienst " + conf_.address + " gibt keine verständliche Antwort.";
        return a;
    }

    const std::string& address() const { return conf_.address; }

private:
    std::string transferError(CURLcode rc, const char* detail, bool change) const {
        const std::string why = detail && *detail ? detail : curl_easy_strerror(rc);
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return "Der Dienst ist nicht erreichbar: " + conf_.address + " (" + why + ").";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CONNECT_ERROR:
            return "Der Dienst " + conf_.address + " weist sich nicht mit einem gültigen Zertifikat aus (" + why +
                   "). ServiceCAFile= nennt die Zertifizierungsstelle der Schule.";
        case CURLE_OPERATION_TIMEDOUT:
            return "Der Dienst " + conf_.address + " antwortet nicht rechtzeitig" +
                   (change ? ": ob die Änderung ausgeführt wurde, ist unbekannt." : ".");
        default:
            return "Der Dienst " + conf_.address + " ist nicht erreichbar oder bricht ab (" + why + ")" +
                   (change ? ": ob die Änderung ausgeführt wurde, ist unbekannt." : ".");
        }
    }

    std::string refusal(const Answer& a) const {
        if (a.json.is_object() && a.json.contains("error") && a.json["error"].is_string())
            return a.json["error"].get<std::string>();
        return "Der Dienst " + conf_.address + " lehnt ab (HTTP " + std::to_string(a.status) + ").";
    }

    ServiceConf conf_;
    std::string password_;
};

std::string text(const Json& j, const char* key) {
    return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

std::time_t epoch(const Json& j, const char* key) {
    return j.contains(key) && j[key].is_number() ? std::time_t(j[key].get<double>()) : 0;
}

std::vector<std::string> textList(const Json& j, const char* key) {
    std::vector<std::string> out;
    if (j.contains(key) && j[key].is_array())
        for (const Json& item : j[key])
            if (item.is_string()) out.push_back(item.get<std::string>());
    return out;
}

}  // namespace

std::string serviceAddress() {
    ServiceConf conf;
    return readServiceConf(conf) ? conf.address : std::string();
}

std::string serviceAddressProblem(const std::string& address) {
    CURLU* url = curl_url();
    char* scheme = nullptr;
    char* host = nullptr;
    const bool parsed = url && curl_url_set(url, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK &&
                        curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                        curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK;
    const std::string s = scheme ? scheme : "", h = host ? host : "";
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(url);
    if (!parsed || (s != "https" && s != "http") || address.find("://") == std::string::npos)
        return "Service=" + address + " ist keine Adresse des Dienstes (https://SERVER:8443).";
    if (s == "http" && !isLoopbackHost(h))
        return "Service=" + address +
               ": unverschlüsselt (http://) nur zu einer Loopback-Adresse, sonst gingen Kennwörter im Klartext "
               "über das Netz. Bitte https:// verwenden.";
    return {};
}

ServiceJob serviceChange(ServiceAction action, const text::NameList& names, std::time_t until,
                         const ProgressFn& progress) {
    ServiceJob job;
    Client client;
    if (!client.open(job.error)) return job;
    Json body;
    body["names"] = Json::array();
    for (const std::string& n : names) body["names"].push_back(n);
    const char* path = "/api/go";
    if (action == ServiceAction::Stop) {
        path = "/api/stop";
        if (until) body["until"] = int64_t(until);
        else body["until"] = "weiter";
    } else if (action == ServiceAction::Release) {
        path = "/api/release";
    }
    Answer a = client.request("POST", path, body.dump());
    if (!a.error.empty()) {
        job.reached = a.reached;
        job.error = a.error;
        return job;
    }
    job.reached = true;
    std::string id;
    if (a.json.contains("job") && a.json["job"].is_number_integer()) id = std::to_string(a.json["job"].get<int64_t>());
    else id = text(a.json, "job");
    if (id.empty() || id.find_first_not_of("0123456789abcdefABCDEF-") != std::string::npos) {
        job.error = "Der Dienst " + client.address() + " nennt keinen Auftrag: ob die Änderung ausgeführt wird, ist unbekannt.";
        return job;
    }
    // The job runs in the service whatever happens here. The service answers at the job's end,
    // or after a second with its progress.
    for (;;) {
        a = client.request("GET", "/api/jobs/" + id + "?wait=1");
        if (!a.error.empty()) {
            job.error = a.error + " Der Auftrag " + id + " läuft im Dienst weiter.";
            return job;
        }
        if (text(a.json, "state") == "done") break;
        if (progress) progress(size_t(std::max(0.0, a.json.value("done", 0.0))), size_t(std::max(0.0, a.json.value("total", 0.0))));
    }
    job.ok = a.json.value("ok", false);
    job.caption = text(a.json, "caption");
    job.lines = textList(a.json, "lines");
    if (a.json.contains("boxes") && a.json["boxes"].is_array())
        for (const Json& box : a.json["boxes"])
            if (box.is_object()) job.boxes.push_back({text(box, "caption"), text(box, "text")});
    if (a.json.contains("ended") && a.json["ended"].is_array())
        for (const Json& e : a.json["ended"])
            if (e.is_object()) {
                Hold h;
                h.user = text(e, "name");
                h.holder = text(e, "holder");
                h.until = epoch(e, "until");
                job.ended.push_back(h);
            }
    return job;
}

bool serviceHolds(std::vector<Hold>& holds, std::string& error) {
    holds.clear();
    Client client;
    if (!client.open(error)) return false;
    const Answer a = client.request("GET", "/api/holds");
    if (!a.error.empty()) {
        error = a.error;
        return false;
    }
    if (!a.json.contains("holds") || !a.json["holds"].is_array()) {
        error = "Der Dienst " + client.address() + " gibt keine verständliche Antwort.";
        return false;
    }
    for (const Json& h : a.json["holds"]) {
        if (!h.is_object()) continue;
        Hold hold;
        hold.user = text(h, "name");
        hold.holder = text(h, "holder");
        hold.since = epoch(h, "since");
        hold.until = epoch(h, "until");
        holds.push_back(hold);
    }
    return true;
}

bool serviceLog(std::time_t since, std::vector<std::string>& lines, std::string& error) {
    lines.clear();
    Client client;
    if (!client.open(error)) return false;
    const Answer a = client.request("GET", "/api/log" + (since ? "?since=" + std::to_string(since) : std::string()));
    if (!a.error.empty()) {
        error = a.error;
        return false;
    }
    if (!a.json.contains("lines") || !a.json["lines"].is_array()) {
        error = "Der Dienst " + client.address() + " gibt keine verständliche Antwort.";
        return false;
    }
    lines = textList(a.json, "lines");
    return true;
}

}  // namespace deny
