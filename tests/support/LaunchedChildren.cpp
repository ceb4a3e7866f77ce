#include "LaunchedChildren.h"

#include "platform/Launcher.h"
#include "platform/Platform.h"

namespace movik::test {

bool waitForLaunchedChildren(int timeoutMs)
{
    for (int waited = 0; platform::reapChildren() > 0; waited += 10) {
        if (waited >= timeoutMs)
            return false;
        platform::sleepMs(10);
    }
    return true;
}

} // namespace movik::test
