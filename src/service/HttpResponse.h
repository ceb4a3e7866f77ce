// What the service's HTTP answer says beside its body: curl writes each
// answer's response headers into a file of their own (-D), and the program
// reads the status there before it trusts the body. Also what a status means
// for a site, and the proxy address as the log may show it.
#pragma once

#include "core/StatusFile.h"

#include <cstdint>
#include <string>

namespace movik {

// The last response in a header file, and the headers the program acts on.
// A redirect that curl did not follow, an interim "100 Continue" and a
// proxy's "200 Connection established" before the service's own answer each
// leave a response of their own in the file; the last one is the answer.
struct ResponseHead
{
    int status = 0;         // its status code; 0 when the file holds no status line
    std::string location;   // its Location header, where the service says the address moved
    std::string retryAfter; // its Retry-After header, as sent
};

ResponseHead readResponseHead(const std::string& headers);

inline bool isSuccessStatus(int status)
{
    return status >= 200 && status <= 299;
}

// A status that says the service is overloaded and may say how long to
// wait: the answer's Retry-After is honoured, and no more acknowledgements
// are sent in that cycle.
inline bool isBusyStatus(int status)
{
    return status == 429 || status == 503;
}

// How long a Retry-After value asks the program to wait, in seconds from
// now (seconds since 1970): a number of seconds, or an HTTP date. At most
// maxSeconds; -1 when the value cannot be read, 0 for a date already past.
std::int64_t retryAfterSeconds(const std::string& value, std::int64_t now, std::int64_t maxSeconds);

// The longest wait a service's Retry-After may impose on the poll.
constexpr std::int64_t MaxRetryAfterSeconds = 300;

FailureClass httpFailureClass(int status);
FailureClass curlFailureClass(int exitStatus);

// Why a response that is not a success fails, for a site: the status, its
// meaning and the start of the body, such as "the service refused the token
// in _$wak (HTTP 401): {...}". With proxied, a 401 names the proxy's
// credentials beside the token (a proxy may answer a wrong password so).
std::string httpFailureText(const ResponseHead& head, bool proxied, const std::string& body);

// True when a proxy address holds a user name or password ("user:pw@host").
bool proxyHasCredentials(const std::string& proxy);
// The proxy address with its password replaced by "***", for the log and
// the status file; empty for an empty address.
std::string proxyForLog(const std::string& proxy);

} // namespace movik
