#include "db/Credentials.h"

#include "platform/Platform.h"

#include <exception>

namespace movik {

namespace {

constexpr std::size_t passwordOffset = 96;

// Offset of character i (from 1) of the text that starts at base.
std::size_t characterOffset(unsigned shift, std::size_t base, std::size_t i)
{
    return shift + base + 3 * i - 1;
}

std::string decodeText(const std::string& block, unsigned shift, std::size_t base)
{
    std::string text;
    for (std::size_t i = 1; i <= credentialsMaxLength; ++i) {
        const auto stored = static_cast<unsigned char>(block[characterOffset(shift, base, i)]);
        if (stored == 0)
            break;
        // A character that decodes to 0 is kept: only a stored 0 ends the text.
        text += static_cast<char>((stored + shift + i) % 256);
    }
    return text;
}

std::uint8_t storedByte(char c, unsigned shift, std::size_t i)
{
    return static_cast<std::uint8_t>((static_cast<unsigned char>(c) + 256 * 2 - shift - i) % 256);
}

bool storable(const std::string& text, unsigned shift)
{
    for (std::size_t i = 1; i <= text.size(); ++i)
        if (storedByte(text[i - 1], shift, i) == 0)
            return false;
    return true;
}

void encodeText(std::string& block, const std::string& text, unsigned shift, std::size_t base)
{
    for (std::size_t i = 1; i <= text.size(); ++i)
        block[characterOffset(shift, base, i)] = static_cast<char>(storedByte(text[i - 1], shift, i));
    if (text.size() < credentialsMaxLength)
        block[characterOffset(shift, base, text.size() + 1)] = 0;
}

} // namespace

bool ReadDbCredentials(std::string& user, std::string& password, const std::string& path)
{
    user = "NULL";
    password = "NULL";
    try {
        if (!platform::fileExists(path))
            return false;
        // Read-only: the file is never written, and a site may well protect it.
        platform::InputFile file;
        int error = 0;
        if (!file.open(path, error))
            return false;
        std::string block(credentialsBlockSize, '\0');
        std::size_t filled = 0;
        while (filled < block.size()) {
            long long n = file.read(block.data() + filled, block.size() - filled, error);
            if (n <= 0)
                return false; // short file or read error: no credentials
            filled += static_cast<std::size_t>(n);
        }
        file.close();

        const unsigned shift = static_cast<unsigned char>(block[1]);
        user = decodeText(block, shift, 0);
        std::string decodedPassword = decodeText(block, shift, passwordOffset);
        if (!decodedPassword.empty())
            password = decodedPassword;
        return true;
    } catch (const std::exception&) {
        user = "NULL";
        password = "NULL";
        return false;
    }
}

bool encodeDbCredentials(const std::string& user, const std::string& password,
                         const std::function<std::uint8_t()>& randomByte, std::string& block,
                         std::string& error)
{
    if (user.size() > credentialsMaxLength || password.size() > credentialsMaxLength) {
        error = "user name and password are limited to 32 characters";
        return false;
    }
    if (user == "NULL") {
        error = "the user name \"NULL\" reads back as no credentials";
        return false;
    }
    // Each character rules out one shift, so at most 64 of the 256 are
    // unusable; a draw that hits one is simply drawn again.
    unsigned shift = 0;
    do {
        shift = randomByte();
    } while (!storable(user, shift) || !storable(password, shift));

    block.assign(credentialsBlockSize, '\0');
    for (char& c : block)
        c = static_cast<char>(randomByte());
    block[1] = static_cast<char>(shift);
    encodeText(block, user, shift, 0);
    encodeText(block, password, shift, passwordOffset);
    return true;
}

} // namespace movik
