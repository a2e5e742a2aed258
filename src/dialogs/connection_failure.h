// Why the directory connection failed at start, for the administrator: the nwclient.conf, the
// line in it that the failure concerns, and the reason. The boxes of the failed steps keep their
// words; this goes to standard error, the diagnostics log and the about box.
#pragma once

#include <string>

struct ConnectionFailure {
    unsigned code = 0;       // the failed step's status; 0 when the connection opened
    std::string file;        // the nwclient.conf, or the places searched when there was none
    int line = 0;            // 1-based line of the concerned key; 0 when there is none
    std::string lineText;    // that line as written
    std::string reason;      // German
};

// The failure of the layer's connection as it stands now (code 0: none).
ConnectionFailure connectionFailure();

// "FILE:LINE: REASON (Fehler CODE; LINE TEXT)": one line, as compilers and linters write it.
std::string failureLine(const ConnectionFailure& failure);

// Writes failureLine to standard error and, when that is no terminal, to syslog ("tarvel"), as
// the diagnostics log does. Nothing when the connection opened.
void reportConnectionFailure();
