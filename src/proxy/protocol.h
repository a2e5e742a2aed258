// Squid's external ACL helper protocol: one request per line on standard input, one answer per
// line on standard output, in the order asked. With concurrency= on the external_acl_type line
// each request starts with a channel ID that its answer repeats. Squid URL-escapes every field.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace proxy {

// What the directory says about one login.
struct Verdict {
    enum Kind { MayBrowse, Stopped, Broken };
    Kind kind = Broken;
    std::string message;  // for Broken: the reason, written to Squid's cache.log
};

// %XX decoded (Squid's escaping of helper fields); a "%" not followed by two hex digits stays.
std::string urlDecode(std::string_view field);

struct Request {
    std::string channel;  // empty without concurrency
    std::string login;    // decoded
    std::string problem;  // non-empty: the line cannot be answered from the directory
};

// A request line: "[CHANNEL ]LOGIN[ -]" (the "-" is Squid's empty %DATA). Anything else is a
// problem: this helper takes no ACL arguments, the deny group comes from the settings file.
Request parseRequest(std::string_view line);

// "[CHANNEL ]OK", "ERR" or "BH message=\"...\"".
std::string formatAnswer(const Request& request, const Verdict& verdict);

using Decide = std::function<Verdict(const std::string& login)>;

// Answers every line of in on out, flushing after each answer, until in ends. Squid's "-" for
// a request without a login is answered ERR without asking decide.
void serve(std::istream& in, std::ostream& out, const Decide& decide);

}  // namespace proxy
