#include "core/SingleInstance.h"

#include "core/Log.h"
#include "platform/InstanceLock.h"
#include "platform/Platform.h"

namespace movik {

bool claimProgramDirectory(const std::string& appPath, std::string& refusal)
{
    // Held until the process ends; the operating system releases it then,
    // however the process ends.
    static platform::InstanceLock lock;
    if (lock.held())
        return true;
    std::string holder;
    int error = 0;
    const platform::InstanceLock::Result result = lock.take(appPath + "movik.lock", holder, error);
    if (result == platform::InstanceLock::Result::Taken)
        return true;
    if (result == platform::InstanceLock::Result::Held) {
        refusal = "Already running (process " + (holder.empty() ? std::string("unknown") : holder) + ")";
    } else {
        const std::string path = appPath + "movik.lock";
        const std::string owner = platform::fileOwner(path);
        refusal = path + " cannot be locked (" + platform::fileErrorText(error) + "; owner " +
                  (owner.empty() ? std::string("unknown") : owner) +
                  "): a second copy would not be noticed, so this one does not run";
    }
    WriteLog(LogAlways, refusal);
    return false;
}

} // namespace movik
