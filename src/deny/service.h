// The school's service as seen from the window and tarvel-ctl: with Service=https://server:8443
// in nwclient.conf they record their stops (also timed ones) as holds there and their goes as
// ends of holds, through its JSON API with the operator's own credentials (HTTP Basic over
// TLS), and read the holders and the audit trail from it. Without Service= nothing here is used.
//
// nwclient.conf keys: Service= (an https:// address; http:// only to a loopback address),
// ServiceLogin= (the login; default: Operator='s first name component), ServiceCAFile= (default:
// CAFile=). The password is PasswordFile='s or asked through the credentials port.
#pragma once

#include "deny/describe.h"
#include "deny/holds.h"
#include "platform/text.h"

#include <ctime>
#include <string>
#include <vector>

namespace deny {

// Service= of the client's configuration; empty when none.
std::string serviceAddress();
// Why address cannot be used as Service= (German); empty when it can. http:// only to a loopback
// address: anywhere else the passwords would cross the network in clear.
std::string serviceAddressProblem(const std::string& address);

struct ServiceJob {
    bool ok = false;                 // everything asked for is done
    bool reached = false;            // false: the service could not be asked (error says why)
    std::string caption;
    std::vector<std::string> lines;  // the service's words for the result (describe's)
    std::string error;               // German
    struct Box {
        std::string caption, text;
    };
    std::vector<Box> boxes;          // further boxes of the job (a refusal, the plan), as the window shows them
    std::vector<Hold> ended;         // "Internet an": whose holds it ended (user, holder, until)
};

enum class ServiceAction { Stop, Release, Go };

// Sends the action for names (users or containers) and waits for the job's end; until: 0 for
// good (stop only). progress gets the job's counts while it runs.
ServiceJob serviceChange(ServiceAction action, const text::NameList& names, std::time_t until,
                         const ProgressFn& progress = {});

// The holds the service keeps. False with error set when it could not be asked.
bool serviceHolds(std::vector<Hold>& holds, std::string& error);
// The audit trail's lines since since (0: all). False with error set.
bool serviceLog(std::time_t since, std::vector<std::string>& lines, std::string& error);

}  // namespace deny
