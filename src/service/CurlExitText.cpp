#include "service/CurlExitText.h"

namespace movik {

namespace {

const char* meaning(int status)
{
    switch (status) {
    case 0:
        return "success";
    case 1:
        return "the address's scheme is not supported";
    case 2:
        return "could not start";
    case 3:
        return "the address is malformed";
    case 5:
        return "could not resolve the proxy";
    case 6:
        return "could not resolve the host";
    case 7:
        return "could not connect to the service";
    case 8:
        return "the service's answer was not understood";
    case 16:
        return "HTTP/2 failed";
    case 18:
        return "the answer was cut short";
    case 22:
        return "the service answered with an HTTP error";
    case 23:
        return "could not write the answer file";
    case 26:
        return "could not read a file to send";
    case 27:
        return "out of memory";
    case 28:
        return "timed out";
    case 35:
        return "the TLS handshake failed";
    case 47:
        return "too many redirects";
    case 52:
        return "the service closed the connection without an answer";
    case 55:
        return "could not send the request";
    case 56:
        return "the connection broke while receiving the answer";
    case 58:
        return "the client certificate was refused";
    case 60:
        return "the service's certificate is not trusted";
    case 77:
        return "could not read the trusted certificates";
    default:
        return nullptr;
    }
}

} // namespace

std::string curlExitText(int status, const std::string& proxy)
{
    std::string text = "curl " + std::to_string(status);
    if (!proxy.empty() && status == 7)
        return text + ": could not connect to the proxy " + proxy;
    if (const char* words = meaning(status))
        text += std::string(": ") + words;
    if (!proxy.empty() && status == 5)
        text += " " + proxy;
    else if (!proxy.empty() && (status == 28 || status == 56))
        text += ", through the proxy " + proxy;
    return text;
}

} // namespace movik
