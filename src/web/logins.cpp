// The embedded tree's web logins: yescrypt hashes through libcrypt, one line per login.
#include "web/logins.h"

#include <crypt.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace web {

namespace {

// Hashed for an unknown login, so that it costs as much as a known one (same method and cost
// as the hashes writeLogin makes).
constexpr const char* DUMMY_HASH = "$y$j9T$I3A47FTkqrB6n3cNZvdcn1$Fm6UINbas0y5RgHwOqQ5mGONsB1ma8MEGsJet.OiLF/";
// Far more than a school's logins; a larger file is not one.
constexpr off_t MAX_FILE_BYTES = 16 << 20;

struct Line {
    std::string login, operatorName, hash;
};

// crypt's work area holds what the password turned into: wiped, never left on the heap.
struct CryptArea {
    std::unique_ptr<crypt_data> data = std::make_unique<crypt_data>();
    CryptArea() { std::memset(data.get(), 0, sizeof *data); }
    ~CryptArea() { explicit_bzero(data.get(), sizeof *data); }
};

bool hashMatches(const std::string& password, const std::string& hash) {
    CryptArea area;
    const char* out = crypt_rn(password.c_str(), hash.c_str(), area.data.get(), sizeof *area.data);
    if (!out || out[0] == '*') return false;
    const size_t n = std::strlen(out);
    if (n != hash.size()) return false;
    unsigned char diff = 0;  // every byte compared, whatever the first difference
    for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(out[i] ^ hash[i]);
    return diff == 0;
}

bool plainText(const std::string& s, bool colonAllowed) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f || (!colonAllowed && c == ':')) return false;
    return !s.empty();
}

// Opens the file only when it is a regular file (no link) that only its owner may write.
// -1 with error set otherwise; missing set when it does not exist.
int openChecked(const std::string& file, std::string& error, bool& missing) {
    missing = false;
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0) {
        missing = errno == ENOENT;
        error = "Die Anmeldedatei " + file + " kann nicht gelesen werden: " +
                (errno == ELOOP ? std::string("sie ist ein Verweis") : std::strerror(errno));
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
        st.st_size > MAX_FILE_BYTES) {
        ::close(fd);
        error = "Die Anmeldedatei " + file + " wird nicht benutzt: sie ist keine gewöhnliche Datei oder "
                "auch für andere beschreibbar (erlaubt ist 0600).";
        return -1;
    }
    return fd;
}

bool readLines(const std::string& file, std::vector<Line>& lines, std::string& error, bool& missing) {
    const int fd = openChecked(file, error, missing);
    if (fd < 0) return false;
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "Die Anmeldedatei " + file + " kann nicht gelesen werden: " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        // The login holds no colon and the hash none: the operator's name may.
        const size_t first = line.find(':'), last = line.rfind(':');
        if (first == std::string::npos || first == last) continue;
        lines.push_back({line.substr(0, first), line.substr(first + 1, last - first - 1), line.substr(last + 1)});
    }
    return true;
}

}  // namespace

LoginCheck checkLogin(const std::string& file, const std::string& login, const std::string& password,
                      std::string& operatorName, std::string& error) {
    operatorName.clear();
    std::vector<Line> lines;
    bool missing = false;
    if (!readLines(file, lines, error, missing)) return LoginCheck::FileError;
    const Line* found = nullptr;
    for (const Line& line : lines)
        if (line.login == login) found = &line;
    if (!found || found->hash.empty()) {
        hashMatches(password, DUMMY_HASH);
        return LoginCheck::Unknown;
    }
    if (!hashMatches(password, found->hash)) return LoginCheck::WrongPassword;
    operatorName = found->operatorName;
    return LoginCheck::Ok;
}

bool writeLogin(const std::string& file, const std::string& login, const std::string& operatorName,
                const std::string& password, std::string& error) {
    if (!plainText(login, false)) {
        error = "Der Login-Name darf nicht leer sein und keinen Doppelpunkt und keine Steuerzeichen enthalten.";
        return false;
    }
    if (!plainText(operatorName, true)) {
        error = "Der Name im Verzeichnis darf nicht leer sein und keine Steuerzeichen enthalten.";
        return false;
    }
    if (password.empty()) {
        error = "Das Kennwort darf nicht leer sein.";
        return false;
    }
    std::vector<Line> lines;
    bool missing = false;
    if (!readLines(file, lines, error, missing) && !missing) return false;
    error.clear();

    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt)) {
        error = std::string("Es kann kein Salz für yescrypt erzeugt werden: ") + std::strerror(errno);
        return false;
    }
    std::string hash;
    {
        CryptArea area;
        const char* out = crypt_rn(password.c_str(), salt, area.data.get(), sizeof *area.data);
        if (out && out[0] == '$') hash = out;
    }
    if (hash.rfind("$y$", 0) != 0) {
        error = "libcrypt kennt yescrypt nicht: kein Eintrag geschrieben.";
        return false;
    }

    std::string text;
    bool replaced = false;
    for (const Line& line : lines) {
        const bool mine = line.login == login;
        text += mine ? login + ":" + operatorName + ":" + hash : line.login + ":" + line.operatorName + ":" + line.hash;
        text += "\n";
        replaced |= mine;
    }
    if (!replaced) text += login + ":" + operatorName + ":" + hash + "\n";

    // A new file beside the old one, renamed over it: a reader sees the old lines or the new.
    std::string temporary = file + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());  // created with mode 0600
    if (fd < 0) {
        error = "Die Anmeldedatei " + file + " kann nicht geschrieben werden: " + std::strerror(errno);
        return false;
    }
    int failure = ::fchmod(fd, 0600) == 0 ? 0 : errno;
    for (size_t done = 0; !failure && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failure = n < 0 ? errno : EIO;
        else done += static_cast<size_t>(n);
    }
    if (!failure && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && !failure) failure = errno;
    if (!failure && ::rename(temporary.c_str(), file.c_str()) != 0) failure = errno;
    if (failure) {
        error = "Die Anmeldedatei " + file + " kann nicht geschrieben werden: " + std::strerror(failure);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace web
