// ODBC connection strings: "key=value" attributes separated by ';', a value
// in braces may hold ';' (a '}' inside it doubled).
#pragma once

#include <string>

namespace movik {

// True when text is a connection string rather than a data source name.
bool isConnectionString(const std::string& text);

// The value of key (any case) in a connection string, without braces;
// false when the key is not there.
bool connectionAttribute(const std::string& text, const std::string& key, std::string& value);

// The connection string with the values of PWD and Password replaced by ***.
std::string maskPasswords(const std::string& text);

// value as it may stand after "key=": in braces when it holds characters
// that would end or change it.
std::string connectionValue(const std::string& value);

} // namespace movik
