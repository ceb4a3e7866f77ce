#include "service/HttpResponse.h"

#include "core/Dates.h"
#include "core/StringUtil.h"
#include "service/PollAnswer.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace movik {

namespace {

// The code of a status line "HTTP/1.1 503 Service Unavailable" (or
// "HTTP/2 503"); 0 when line is none.
int statusOfLine(std::string_view line)
{
    if (line.substr(0, 5) != "HTTP/")
        return 0;
    const std::size_t blank = line.find(' ');
    std::int64_t code = 0;
    if (blank == std::string_view::npos || !parseDigits(line.substr(blank + 1, 3), 3, code) || code < 100)
        return 0;
    return static_cast<int>(code);
}

// An HTTP date as RFC 9110 prefers it, "Sun, 06 Nov 1994 08:49:37 GMT",
// in seconds since 1970; false for anything else.
bool readHttpDate(const std::string& text, std::int64_t& seconds)
{
    static constexpr std::array<std::string_view, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::string_view t(text);
    if (t.size() != 29 || t.substr(3, 2) != ", " || t[7] != ' ' || t[11] != ' ' || t[16] != ' ' ||
        t[19] != ':' || t[22] != ':' || t.substr(25) != " GMT")
        return false;
    const auto month = std::find(months.begin(), months.end(), t.substr(8, 3));
    std::int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
    return month != months.end() && parseDigits(t.substr(5, 2), 2, day) &&
           parseDigits(t.substr(12, 4), 4, year) && parseDigits(t.substr(17, 2), 2, hour) &&
           parseDigits(t.substr(20, 2), 2, minute) && parseDigits(t.substr(23, 2), 2, second) &&
           secondsFromCivil(year, month - months.begin() + 1, day, hour, minute, second, seconds);
}

} // namespace

ResponseHead readResponseHead(const std::string& headers)
{
    ResponseHead head;
    forEachLine(headers, [&head](std::size_t, std::string_view line) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (const int status = statusOfLine(line); status != 0) {
            // A new response: what the one before it said is not the answer.
            head = ResponseHead{};
            head.status = status;
            return;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || head.status == 0)
            return;
        const std::string name = lowerCase(std::string(line.substr(0, colon)));
        const std::string value = trimBlanks(std::string(line.substr(colon + 1)));
        if (name == "location")
            head.location = value;
        else if (name == "retry-after")
            head.retryAfter = value;
    });
    return head;
}

std::int64_t retryAfterSeconds(const std::string& value, std::int64_t now, std::int64_t maxSeconds)
{
    std::int64_t seconds = 0;
    if (parseDigits(value, 18, seconds))
        return std::min(seconds, maxSeconds);
    std::int64_t until = 0;
    if (!readHttpDate(value, until))
        return -1;
    return std::clamp<std::int64_t>(until - now, 0, maxSeconds);
}

FailureClass httpFailureClass(int status)
{
    if (isSuccessStatus(status))
        return FailureClass::None;
    if (status == 401 || status == 403 || status == 404 || status == 407)
        return FailureClass::NeedsAction;
    if (status == 408 || status == 429 || (status >= 500 && status <= 599))
        return FailureClass::Busy;
    return FailureClass::Other;
}

FailureClass curlFailureClass(int exitStatus)
{
    switch (exitStatus) {
    case 0:
        return FailureClass::None;
    case 60: // the service's certificate is not trusted (or not its name)
    case 77: // the trusted certificates cannot be read
        return FailureClass::NeedsAction;
    case 35: // a handshake can fail for a moment
        return FailureClass::Busy;
    default:
        return FailureClass::Other;
    }
}

std::string httpFailureText(const ResponseHead& head, bool proxied, const std::string& body)
{
    const int status = head.status;
    std::string meaning;
    if (status == 0)
        meaning = "the service's answer holds no HTTP status";
    else if (status == 401 && proxied)
        meaning = "the service refused the token in _$wak, or the proxy the credentials in ProxyServer";
    else if (status == 401 || status == 403)
        meaning = "the service refused the token in _$wak";
    else if (status == 407)
        meaning = "the proxy refused the credentials in ProxyServer";
    else if (status == 404)
        meaning = "the service has no such address: check the path in CurlURL";
    else if (status >= 300 && status <= 399)
        meaning = "the service's address has moved" +
                  (head.location.empty() ? std::string() : " to " + visibleText(head.location)) +
                  ": check CurlURL";
    else if (httpFailureClass(status) == FailureClass::Busy)
        meaning = "the service is busy or broken";
    else
        meaning = "the service did not accept the request";
    std::string text = meaning;
    if (status != 0)
        text += " (HTTP " + std::to_string(status) + ")";
    return text + ": " + answerExcerpt(body);
}

namespace {

// Where the user and password of a proxy address are: [scheme://]user:pw@host.
bool credentialsOf(const std::string& proxy, std::size_t& from, std::size_t& at)
{
    const std::size_t scheme = proxy.find("://");
    from = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t end = proxy.find_first_of("/?#", from);
    at = proxy.rfind('@', end == std::string::npos ? std::string::npos : end);
    return at != std::string::npos && at >= from;
}

} // namespace

bool proxyHasCredentials(const std::string& proxy)
{
    std::size_t from = 0;
    std::size_t at = 0;
    return credentialsOf(proxy, from, at);
}

std::string proxyForLog(const std::string& proxy)
{
    std::size_t from = 0;
    std::size_t at = 0;
    if (!credentialsOf(proxy, from, at))
        return visibleText(proxy);
    const std::size_t colon = proxy.find(':', from);
    const std::size_t userEnd = colon != std::string::npos && colon < at ? colon : at;
    return visibleText(proxy.substr(0, userEnd) + (userEnd < at ? ":***" : "") + proxy.substr(at));
}

} // namespace movik
