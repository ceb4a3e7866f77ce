// How the Windows services read an access list: who beyond the accounts a
// site need not be asked about (the program's user, the object's owner,
// SYSTEM, Administrators, TrustedInstaller) it lets in.
#pragma once

#include <windows.h>

#include <string>

namespace movik::platform::access {

// The rights that change what a folder or file holds, or who may.
constexpr DWORD writeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_DATA |
                              FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER |
                              DELETE;
// In a folder above the program's: the rights to rename or move what it
// holds, or to give them. Adding a folder (FILE_ADD_SUBDIRECTORY, which
// every account has on a drive's root) does not let anyone move another.
constexpr DWORD moveRights = FILE_DELETE_CHILD | DELETE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
constexpr DWORD readRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;

// The accounts beyond the trusted that an entry of acl grants any of
// access, by name (or identifier), comma-separated; empty when none. No
// access list at all lets everyone do anything. Entries that only pass
// rights on to what a folder will hold (CREATOR OWNER's among them) grant
// nothing here. owner is the object's owner as an identifier text.
std::string untrusted(PACL acl, DWORD access, const std::string& owner);

} // namespace movik::platform::access
