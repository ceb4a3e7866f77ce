// What the transfer tool's exit status means, in words a site administrator
// can act on.
#pragma once

#include <string>

namespace movik {

// "curl 7: could not connect to the service" for the common statuses,
// "curl N" for the others. With proxy (as proxyForLog gives it) the
// statuses of a connection name the proxy: through one, curl connects to
// the proxy alone.
std::string curlExitText(int status, const std::string& proxy = {});

} // namespace movik
