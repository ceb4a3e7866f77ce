// The queue of visitors waiting for their passes, as the visitor service
// keeps it: flat JSON objects whose members keep the order they were given.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace movik::visitorservice {

using Json = nlohmann::ordered_json;

// The identifier of a visitor: the value of its first member whose key
// contains "Id" (a text as it is, anything else in its JSON form). Empty
// when no key contains "Id".
std::string identifierOf(const Json& visitor);

// Serialises without failing on bytes that are not UTF-8.
std::string dumpJson(const Json& value, int indent = -1);

class VisitorQueue
{
public:
    // Appends every object of a JSON array. Throws std::invalid_argument,
    // adding nothing, when it is not an array of flat objects that each have
    // an identifier member.
    void add(const Json& visitors);
    // Appends count made-up visitors: identifier, visit start and end (today,
    // in UTC) and card number, under the service's own member names.
    void generate(int count);
    // Removes the first visitor with this identifier; false when none has it.
    bool remove(const std::string& id);
    void clear() { m_visitors.clear(); }

    Json list() const;
    std::size_t size() const { return m_visitors.size(); }

private:
    std::vector<Json> m_visitors;
    int m_generated = 0;
};

} // namespace movik::visitorservice
