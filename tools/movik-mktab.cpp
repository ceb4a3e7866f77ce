// movik-mktab: writes the scrambled credentials file "morvane.tab" that the
// program reads to log in to the access-control database.
//
//   movik-mktab [-o FILE] USER [PASSWORD]
//
// Without PASSWORD the password is read as one line from standard input,
// so that it does not show in the process list. An empty password is
// stored as none.
#include "db/Credentials.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: movik-mktab [-o FILE] USER [PASSWORD]\n"
                 "Writes FILE (default morvane.tab in the current directory); without PASSWORD\n"
                 "the password is read as one line from standard input.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string output = "morvane.tab";
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (arg == "-h" || arg == "--help")
            return usage();
        else
            words.push_back(arg);
    }
    if (words.empty() || words.size() > 2)
        return usage();

    const std::string& user = words[0];
    std::string password;
    if (words.size() == 2) {
        password = words[1];
    } else {
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
    }

    std::random_device device;
    std::uniform_int_distribution<int> byte(0, 255);
    std::string block;
    std::string error;
    if (!movik::encodeDbCredentials(
            user, password, [&] { return static_cast<std::uint8_t>(byte(device)); }, block, error)) {
        std::cerr << "movik-mktab: " << error << "\n";
        return 1;
    }

    {
        std::ofstream out(output, std::ios::binary | std::ios::trunc);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        if (!out) {
            std::cerr << "movik-mktab: cannot write " << output << "\n";
            return 1;
        }
    }
    std::error_code ec;
    std::filesystem::permissions(output,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, ec);
    // The password itself is never shown, only that there is one.
    std::cout << "movik-mktab: wrote " << output << " for user " << user
              << (password.empty() ? " without a password" : " with a password") << "\n";
    return 0;
}
