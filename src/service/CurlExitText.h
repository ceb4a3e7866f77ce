// What the transfer tool's exit status means, in words a site administrator
// can act on.
#pragma once

#include <string>

namespace movik {

// "curl 7: could not connect to the service" for the common statuses,
// "curl N" for the others.
std::string curlExitText(int status);

} // namespace movik
