// Splitting of a command-line text into arguments, and quoting a text so
// that it survives the split, shared by every platform: on Windows the
// started program splits its own command line by these rules, on Linux the
// launcher splits it before the start.
#include "platform/Launcher.h"

namespace movik::platform {

std::vector<std::string> splitCommandLine(const std::string& text)
{
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (;;) {
        while (i < n && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        std::string argument;
        bool quoted = false;
        while (i < n) {
            char c = text[i];
            if (c == '\\') {
                std::size_t run = 0;
                while (i < n && text[i] == '\\') {
                    ++run;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    argument.append(run / 2, '\\');
                    if (run % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(run, '\\');
                }
                continue;
            }
            if (c == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            if (!quoted && (c == ' ' || c == '\t'))
                break;
            argument += c;
            ++i;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::string quoteForCommandLine(const std::string& text)
{
    std::string quoted;
    std::size_t run = 0;
    for (char c : text) {
        if (c == '\\') {
            ++run;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * run + 1, '\\');
        } else {
            quoted.append(run, '\\');
        }
        quoted += c;
        run = 0;
    }
    quoted.append(2 * run, '\\');
    return quoted;
}

} // namespace movik::platform
