#include "VisitorQueue.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

namespace movik::visitorservice {

namespace {

std::string isoUtc(std::time_t t)
{
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void checkVisitor(const Json& visitor)
{
    if (!visitor.is_object())
        throw std::invalid_argument("a visitor must be a JSON object");
    for (const auto& member : visitor.items()) {
        if (member.value().is_object() || member.value().is_array())
            throw std::invalid_argument("visitor members must be plain values");
    }
    bool hasIdentifier = std::any_of(visitor.items().begin(), visitor.items().end(), [](const auto& member) {
        return member.key().find("Id") != std::string::npos;
    });
    if (!hasIdentifier)
        throw std::invalid_argument("a visitor needs a member whose key contains \"Id\"");
}

} // namespace

std::string identifierOf(const Json& visitor)
{
    for (const auto& member : visitor.items()) {
        if (member.key().find("Id") == std::string::npos)
            continue;
        if (member.value().is_string())
            return member.value().get<std::string>();
        return dumpJson(member.value());
    }
    return {};
}

std::string dumpJson(const Json& value, int indent)
{
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

void VisitorQueue::add(const Json& visitors)
{
    if (!visitors.is_array())
        throw std::invalid_argument("visitors must be given as a JSON array");
    for (const Json& visitor : visitors)
        checkVisitor(visitor);
    for (const Json& visitor : visitors)
        m_visitors.push_back(visitor);
}

void VisitorQueue::generate(int count)
{
    // Visits of today from 08:00 to 17:00 UTC; numbers go on across calls so
    // that identifiers and cards stay unique.
    std::time_t now = std::time(nullptr);
    std::time_t midnight = now - now % 86400;
    for (int i = 0; i < count; ++i) {
        int n = ++m_generated;
        char id[32];
        char card[32];
        std::snprintf(id, sizeof id, "ZUN-%06d", n);
        std::snprintf(card, sizeof card, "%08d", 40000000 + n);
        Json visitor = Json::object();
        visitor["VisitorId"] = id;
        visitor["VisitStart"] = isoUtc(midnight + 8 * 3600);
        visitor["VisitEnd"] = isoUtc(midnight + 17 * 3600);
        visitor["CardNumber"] = card;
        m_visitors.push_back(std::move(visitor));
    }
}

bool VisitorQueue::remove(const std::string& id)
{
    auto it = std::find_if(m_visitors.begin(), m_visitors.end(),
                           [&](const Json& visitor) { return identifierOf(visitor) == id; });
    if (it == m_visitors.end())
        return false;
    m_visitors.erase(it);
    return true;
}

Json VisitorQueue::list() const
{
    Json array = Json::array();
    for (const Json& visitor : m_visitors)
        array.push_back(visitor);
    return array;
}

} // namespace movik::visitorservice
