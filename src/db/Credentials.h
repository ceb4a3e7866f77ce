// The scrambled credentials file "morvane.tab": a 1024-byte block holding
// the database user name and password, each character stored shifted by a
// per-file byte K and its position.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace movik {

// Reads the credentials file at path. user and password are "NULL" unless
// the file exists and its first 1024-byte block was read; a password that
// decodes empty stays "NULL". True when the block was read. Silent: a file
// that cannot be read just means no credentials.
bool ReadDbCredentials(std::string& user, std::string& password, const std::string& path);

constexpr std::size_t credentialsBlockSize = 1024;
constexpr std::size_t credentialsMaxLength = 32;

// Builds a credentials block for user and password, taking the shift byte
// and the filler from randomByte. The shift is drawn again until no
// character would be stored as byte 0 (which would end the text early).
// Refuses texts over 32 characters and the user name "NULL", which reads
// back as "no credentials".
bool encodeDbCredentials(const std::string& user, const std::string& password,
                         const std::function<std::uint8_t()>& randomByte, std::string& block,
                         std::string& error);

} // namespace movik
