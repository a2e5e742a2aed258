// The embedded tree's web logins: a file of lines "login:operator:hash", the hash crypt(3)'s
// yescrypt. The file belongs to the service's account, mode 0600; tarvel-web passwd writes it.
#pragma once

#include <string>

namespace web {

enum class LoginCheck { Ok, Unknown, WrongPassword, FileError };

// Checks password for login; operatorName gets the tree name the login maps to. Takes the same
// time for an unknown login as for a wrong password.
LoginCheck checkLogin(const std::string& file, const std::string& login, const std::string& password,
                      std::string& operatorName, std::string& error);

// Adds or replaces login's line (atomically, mode 0600). False with error set (German).
bool writeLogin(const std::string& file, const std::string& login, const std::string& operatorName,
                const std::string& password, std::string& error);

}  // namespace web
