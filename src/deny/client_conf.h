// The few keys of nwclient.conf that the deny job's companions read (the audit trail, the
// schedule of timed stops, the proxy's list file): the same file the client itself uses.
#pragma once

#include <string>

namespace deny {

struct ClientConf {
    bool found = false;     // false: no nwclient.conf or an unreadable one
    std::string file;       // where it was read from
    std::string operatorName;
    std::string bindDn;     // BindDN= of a server tree: the account bound instead of Operator='s
    std::string auditLog;   // AuditLog=
    std::string schedule;   // Schedule=
    std::string listFile;   // ListFile=
    std::string reloadCommand;  // ReloadCommand=
    int lockTimeout = 30;   // LockTimeout=: seconds to wait for the schedule's lock (0: do not wait)
};

// Reads the configuration the client uses (the one set with nw::setConfigurationFile, else the
// first on its search path). Relative paths are taken beside the file. A LockTimeout= that is no
// number of seconds up to a day keeps the default.
ClientConf readClientConf();

}  // namespace deny
