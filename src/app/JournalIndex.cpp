// The journal's index: an open-addressing table of digests over compact
// records, with the values of the few entries that keep them.
#include "app/JournalIndex.h"

namespace movik {

namespace {

std::uint64_t mix(std::uint64_t h)
{
    // splitmix64's finaliser: every input bit reaches every output bit.
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebull;
    return h ^ (h >> 31);
}

} // namespace

std::uint64_t visitDigest(std::string_view id, std::string_view card, std::string_view start,
                          std::string_view end)
{
    // FNV-1a over each value and its length, so that no two ways of cutting
    // the same bytes into four values give the same input.
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::string_view value : {id, card, start, end}) {
        for (char c : value) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x100000001b3ull;
        }
        h ^= value.size();
        h = mix(h);
    }
    return h;
}

void JournalIndex::clear()
{
    m_records.clear();
    m_slots.clear();
    m_visits.clear();
    m_freeVisits.clear();
    m_held = 0;
}

bool JournalIndex::sameVisit(const Record& record, const Visit& visit, const JournalLines& lines) const
{
    if (record.held != noValues)
        return m_visits[record.held] == visit;
    // A line that cannot be read joins nothing.
    std::string buffer;
    JournalEntry entry;
    return parseJournalLine(lines.lineAt(record.offset, buffer), entry) &&
           Visit{entry.id, entry.card, entry.start, entry.end} == visit;
}

JournalIndex::Key JournalIndex::keyOf(const Visit& visit) const
{
    // FNV-1a with 32 bits, independent of the digest.
    std::uint32_t h = 0x811c9dc5u;
    for (const std::string* value : {&visit.id, &visit.card, &visit.start, &visit.end}) {
        for (char c : *value) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x01000193u;
        }
        h ^= 0xffu;
        h *= 0x01000193u;
    }
    return Key{m_digest(visit.id, visit.card, visit.start, visit.end),
               static_cast<std::uint16_t>(h ^ (h >> 16))};
}

std::uint32_t JournalIndex::locate(const Key& key, const Visit& visit, const JournalLines& lines) const
{
    if (m_slots.empty())
        return notFound;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(key.digest) & mask; m_slots[i] != 0; i = (i + 1) & mask) {
        const Record& record = m_records[m_slots[i] - 1];
        if (record.digest == key.digest && record.check == key.check && sameVisit(record, visit, lines))
            return m_slots[i] - 1;
    }
    return notFound;
}

void JournalIndex::place(std::uint32_t at)
{
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = static_cast<std::size_t>(m_records[at].digest) & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = at + 1;
}

void JournalIndex::placeAll()
{
    // Kept at most half full, so that a search ends soon at an empty slot.
    std::size_t size = 64;
    while (size < 2 * (m_records.size() + 1))
        size *= 2;
    m_slots.assign(size, 0);
    for (std::uint32_t at = 0; at < m_records.size(); ++at)
        place(at);
}

std::uint32_t JournalIndex::add(const Key& key)
{
    const auto at = static_cast<std::uint32_t>(m_records.size());
    m_records.push_back(Record{});
    m_records.back().digest = key.digest;
    m_records.back().check = key.check;
    if (2 * (m_records.size() + 1) > m_slots.size())
        placeAll();
    else
        place(at);
    return at;
}

void JournalIndex::setState(Record& record, JournalState state)
{
    m_held += (state != JournalState::Removed) - (record.state != JournalState::Removed);
    record.state = state;
}

void JournalIndex::keepValues(Record& record, const Visit& visit)
{
    if (record.held != noValues)
        return;
    if (!m_freeVisits.empty()) {
        record.held = m_freeVisits.back();
        m_freeVisits.pop_back();
        m_visits[record.held] = visit;
    } else {
        record.held = static_cast<std::uint32_t>(m_visits.size());
        m_visits.push_back(visit);
    }
}

void JournalIndex::dropValues(Record& record)
{
    if (record.held == noValues)
        return;
    m_visits[record.held] = Visit{};
    m_freeVisits.push_back(record.held);
    record.held = noValues;
}

void JournalIndex::rebuild(const std::vector<std::uint32_t>& order, const std::string& text)
{
    std::vector<Record> records;
    records.reserve(order.size());
    std::vector<Visit> visits;
    // After the comments that lead the file.
    std::uint64_t offset = 0;
    while (offset < text.size() && text[offset] == '#')
        offset = text.find('\n', offset) + 1;
    for (std::uint32_t at : order) {
        Record record = m_records[at];
        record.offset = offset;
        offset = text.find('\n', offset) + 1;
        if (record.held != noValues) {
            visits.push_back(std::move(m_visits[record.held]));
            record.held = static_cast<std::uint32_t>(visits.size() - 1);
        }
        records.push_back(record);
    }
    m_records.swap(records);
    m_visits = std::move(visits);
    m_freeVisits.clear();
    m_held = m_records.size();
    placeAll();
}

} // namespace movik
