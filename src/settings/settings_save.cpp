#include "settings/settings_file.h"

#include "nwapi/nwapi.h"
#include "platform/ports.h"
#include "settings/ini_file.h"
#include "settings/settings_path.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {

namespace {

const char* const Caption = "INI-Datei-Fehler";

std::string twoDigits(int64_t n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(n));
    return buf;
}

// Days since 1970-01-01 to year, month, day (proleptic Gregorian).
void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

void showWriteError(const std::string& path) {
    platform::showMessage(platform::joinLines({"Die Datei", "\"" + path + "\"", "kann nicht geschrieben werden",
                                               "oder Sie haben keine Schreibrechte !"}),
                          Caption);
}

void showCreateError(const std::string& path, int error) {
    platform::showMessage(platform::joinLines({"Die Datei \"" + path + "\" kann nicht erstellt werden.",
                                               std::string(std::strerror(error)) + " (" + std::to_string(error) + ")"}),
                          "Tarvelweb");
}

// A value with a line break or NUL would end its line early and corrupt the file.
bool fitsOneLine(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

bool allFitOneLine(const Values& v) {
    for (const std::string* s : {&v.BasisUserContainer, &v.BasisWorkstationContainer, &v.GroupInternetUserDeny,
                                 &v.GroupInternetWSDeny})
        if (!fitsOneLine(*s)) return false;
    for (const NameList* list : {&v.ShowContainerList, &v.NoShowContainerList, &v.ShowLeafList, &v.NoShowLeafList})
        for (const std::string& item : *list)
            if (!fitsOneLine(item)) return false;
    return true;
}

std::string joinItems(const NameList& list) {
    std::string r;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) r += ", ";
        r += list[i];
    }
    return r;
}

// ---- replacing the file ----

std::string folderPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links (also one whose target does not exist yet), so that the link stays
// and its target gets the new contents.
bool resolveLinks(const std::string& path, std::string& target, int& error) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0 || size_t(n) >= link.size()) {
            error = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        link.resize(size_t(n));
        target = (!link.empty() && link.front() == '/') ? link : folderPart(target) + "/" + link;
    }
    error = ELOOP;
    return false;
}

bool writeAll(int fd, const std::string& contents, off_t offset, int& error) {
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::pwrite(fd, contents.data() + done, contents.size() - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// The old contents, to put back should the rewrite fail; not kept beyond the size any settings
// file of ours can have.
bool readAll(int fd, std::string& out) {
    out.clear();
    char buf[65536];
    off_t offset = 0;
    while (true) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, size_t(n));
        offset += n;
        if (out.size() > MaxSettingsFileBytes) return false;
    }
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The folder takes no new file, but the file itself is writable: rewrite it where it is. Its
// space is reserved first, and on a failed write the old contents go back.
ReplaceResult rewriteInPlace(int fd, const std::string& contents, int& error) {
    std::string old;
    const bool haveOld = readAll(fd, old);
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(std::max<size_t>(contents.size(), 1))) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL) {
        error = errno;
        ::close(fd);
        return ReplaceResult::WriteFailed;
    }
    if (writeAll(fd, contents, 0, error) && ::ftruncate(fd, off_t(contents.size())) == 0 && ::fsync(fd) == 0) {
        if (::close(fd) == 0) return ReplaceResult::Written;
        error = errno;
        return ReplaceResult::WriteFailed;
    }
    if (error == 0) error = errno;
    if (haveOld) {
        int ignored = 0;
        if (writeAll(fd, old, 0, ignored) && ::ftruncate(fd, off_t(old.size())) == 0) ::fsync(fd);
    }
    ::close(fd);
    return ReplaceResult::WriteFailed;
}

}  // namespace

std::string FormatServerStamp(double dateTime) {
    // Beyond year 9999 (or not a number) no server clock answers; such a value reads as unread.
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 2958466.0) dateTime = 0;
    const int64_t totalMs = std::llround(dateTime * 86400000.0);
    int64_t days = totalMs / 86400000;
    int64_t msOfDay = totalMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    int64_t y, m, d;
    civilFromDays(days - 25569, y, m, d);
    const int64_t seconds = msOfDay / 1000;
    return twoDigits(d) + "." + twoDigits(m) + "." + std::to_string(y) + " " + twoDigits(seconds / 3600) + ":" +
           twoDigits(seconds / 60 % 60) + ":" + twoDigits(seconds % 60) + " (ServerTime)";
}

static std::string FormatWorkstationStamp(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
    return std::string(text) + " (LocalTime)";
}

std::string BuildSettingsText(const Values& v, const std::string& stamp) {
    std::string out;
    out.reserve(4096);
    auto line = [&out](const std::string& s) { out += s; out += "\r\n"; };
    auto comment = [&line](const char* s) { line(std::string("     ; ") + s); };
    auto key = [&line](const char* k, const std::string& value) { line(std::string(k) + "=" + value); };

    line("[TYP]");
    key("Bemerkung", "Diese Datei wird automatisch von Tarvel erzeugt. Nicht von Hand aendern.");
    key("Saved", stamp);
    key("TYP", "Tarvel");
    key("Ver", "100");
    line("");
    line("");

    line("[DEFAULT]");
    key("BasisUserContainer", v.BasisUserContainer);
    comment("Bei der Mitglieder-Auswahl werden die Benutzer ab");
    comment("diesem Container in der NDS angezeigt");
    line("");
    key("BasisWorkstationContainer", v.BasisWorkstationContainer);
    comment("Bei der Workstation-Auswahl werden die Gruppen ab");
    comment("diesem Container in der NDS angezeigt");
    line("");
    key("GroupInternetUserDeny", v.GroupInternetUserDeny);
    comment("Benutzer, die Mitglieder dieser Gruppe sind, haben keinen Internetzugriff");
    line("");
    key("GroupInternetWSDeny", v.GroupInternetWSDeny);
    comment("Workstations, die Mitglieder dieser Gruppe sind, haben keinen Internetzugriff");
    line("");
    line("");

    line("[SWITCH]");
    key("BasisUserContainerGoUpALevel", v.BasisUserContainerGoUpALevel ? "1" : "0");
    comment("Erlaubnis vom Basis-Benutzer-Container aus in der NDS hoch zu steigen");
    line("");
    key("BasisGroupContainerGoUpALevel", v.BasisGroupContainerGoUpALevel ? "1" : "0");
    comment("Erlaubnis vom Basis-Workstation-Container aus in der NDS hoch zu steigen");
    line("");
    line("");

    line("[SHOW]");
    key("ShowFirst", v.ShowFirst == 2 ? "2" : "1");
    comment("Beim Programmstart werden entweder die Benutzer oder die Workstations");
    comment("zuerst angezeigt. 1=Benutzer, 2=Workstations");
    line("");
    key("ShowContainer", joinItems(v.ShowContainerList));
    comment("Namens-Anfänge von anzuzeigenden User/WS-Containern. Z.B.: Schue,Kl");
    comment("Nur die Container dieser Liste werden angezeigt. Also z.B.:");
    comment("schueler, klassenarbeiten,... aber z.B. nicht Projekte");
    comment("(Kein Eintrag bedeutet: Alles wird angezeigt)");
    line("");
    key("NoShowContainer", joinItems(v.NoShowContainerList));
    comment("Namens-TEILE von NICHT anzuzeigenden User/WS-Containern. Z.B.: Verwalter, min");
    comment("Container, die die Worte dieser Liste ENTHALTEN, werden NICHT angezeigt.");
    comment("Also z.B.:");
    comment("SchuelerVerwalterContainer, KlonAdminContainer...");
    comment("(Kein Eintrag bedeutet: Kein Ausschluss)");
    line("");
    key("ShowLeaf", joinItems(v.ShowLeafList));
    comment("Namens-Anfänge von anzuzeigenden Blattobjekten(User/WS). Z.B.: Würden");
    comment("etwa alle hier interessierenden User/WS-Namen mit \"Kl\" (Kl8Schmitt,...)");
    comment("und \"Gym\" (GymMeier,...) beginnen, so wäre");
    comment("Kl, Gym");
    comment("einzutragen");
    comment("(Kein Eintrag bedeutet: Alles wird angezeigt)");
    line("");
    key("NoShowLeaf", joinItems(v.NoShowLeafList));
    comment("Namens-TEILE von NICHT anzuzeigenden Blattobjekten(User).");
    comment("Blattobjekte(User/WS), die die Worte dieser Liste ENTHALTEN, werden NICHT angezeigt.");
    comment("Also um z.B. die Benutzer TestSchueler, LehrerTestUser, SchuelerVerwalter,... ");
    comment("auszuschließen, wäre");
    comment("Test, Verwalter");
    comment("einzutragen");
    comment("(Kein Eintrag bedeutet: Kein Ausschluss)");
    line("");
    line("");
    return out;
}

ReplaceResult replaceFileContents(const std::string& path, const std::string& contents, int& error) {
    error = 0;
    std::string target;
    if (!resolveLinks(path, target, error)) return ReplaceResult::CreateFailed;

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists) {
        // Only a regular file is replaced: a FIFO, a device or a folder stays what it is.
        if (!S_ISREG(old.st_mode)) {
            error = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
            return ReplaceResult::WriteFailed;
        }
        // A write-protected file is not replaced behind its back just because its folder
        // takes new files; the system's own answer is shown.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            error = errno;
            return ReplaceResult::CreateFailed;
        }
    }

    std::string temp = folderPart(target) + "/.tarvel-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int createError = errno;
        if (exists && S_ISREG(old.st_mode)) {
            const int inPlace = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
            if (inPlace >= 0) return rewriteInPlace(inPlace, contents, error);
            error = errno;
            return ReplaceResult::CreateFailed;
        }
        error = createError;
        return ReplaceResult::CreateFailed;
    }

    auto fail = [&](int e) {
        error = e;
        ::close(fd);
        ::unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    };
    if (!writeAll(fd, contents, 0, error)) return fail(error);
    if (::fsync(fd) != 0) return fail(errno);
    if (exists) {
        // The new file takes the old one's place with its permissions and owner. Where the
        // owner cannot be given to it (someone else's file that we may write), the old file is
        // rewritten where it is instead, which keeps owner and group.
        ::fchmod(fd, old.st_mode & 07777);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            const int inPlace = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
            if (inPlace < 0) {
                error = errno;
                return ReplaceResult::CreateFailed;
            }
            struct stat now {};
            if (::fstat(inPlace, &now) != 0 || !S_ISREG(now.st_mode)) {
                error = EINVAL;
                ::close(inPlace);
                return ReplaceResult::WriteFailed;
            }
            return rewriteInPlace(inPlace, contents, error);
        }
    } else {
        ::fchmod(fd, 0666 & ~currentUmask());
    }
    if (::close(fd) != 0) {
        error = errno;
        ::unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temp.c_str());
        return ReplaceResult::WriteFailed;
    }
    const int folder = ::open(folderPart(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return ReplaceResult::Written;
}

bool SaveSettings(const std::string& path) {
    try {
        // Rights test on NetWare paths; a local path ("L") or one whose rights cannot be
        // determined ("?") is written without it.
        const std::string folder = FolderOf(path);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            const std::string fileRights = nwapi::GetRightsText(path);
            if (fileRights != "?" && fileRights != "L") {
                const std::string folderRights = nwapi::GetRightsText(folder);
                if (!nwapi::ContainsAllLetters("E", fileRights) || !nwapi::ContainsAllLetters("RWECMF", folderRights)) {
                    platform::showMessage(
                        platform::joinLines({"Um die Datei", path, "bearbeiten zu können, scheinen Sie",
                                             "keine ausreichenden Rechte zu besitzen !", "",
                                             "[" + fileRights + "]: " + path, "[" + folderRights + "]: " + folder, "",
                                             "Speichern wird abgebrochen."}),
                        Caption);
                    return true;
                }
            }
        } else {
            const std::string folderRights = nwapi::GetRightsText(folder);
            if (folderRights != "?" && folderRights != "L" && !nwapi::ContainsAllLetters("RWECMF", folderRights)) {
                platform::showMessage(platform::joinLines({"Um die Datei", path, "erzeugen zu können, scheinen Sie",
                                                           "keine ausreichenden Verzeichnisrechte zu besitzen !", "",
                                                           "[" + folderRights + "]: " + folder, "",
                                                           "Speichern wird abgebrochen."}),
                                      Caption);
                return true;
            }
        }

        double now = 0;
        nwapi::GetServerDateTime(now);
        // A server without a clock gives 0, which reads as 30.12.1899: the workstation's time is
        // nearer the truth, and the stamp says whose it is.
        const std::string stamp = now == 0 ? FormatWorkstationStamp(std::time(nullptr)) : FormatServerStamp(now);
        const Values& v = values();
        std::string bytes;
        // A value that would break its line, or that Windows-1252 cannot hold, is never
        // written altered: the save is refused and the file stays as it was.
        if (!allFitOneLine(v) || !text::utf8ToCp1252(BuildSettingsText(v, stamp), bytes)) {
            showWriteError(path);
            return true;
        }
        int error = 0;
        switch (replaceFileContents(path, bytes, error)) {
        case ReplaceResult::Written:
            return true;
        case ReplaceResult::CreateFailed:
            showCreateError(path, error);
            return false;
        case ReplaceResult::WriteFailed:
            showWriteError(path);
            return true;
        }
        return true;
    } catch (const std::exception&) {
        showWriteError(path);
        return true;
    }
}

}  // namespace settings
