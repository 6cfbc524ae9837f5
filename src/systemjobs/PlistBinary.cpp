#include "PlistVariant.h"

#include <QVariantList>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

// A direct reader of binary property lists ("bplist00") holding what launchd jobs hold:
// dictionaries with text keys, arrays, ASCII strings, integers of up to eight bytes, reals,
// booleans and data. Whatever else it meets (dates, uids, UTF-16 or non-ASCII text, sets, null,
// duplicate keys, nesting deeper than libplist's readers go, anything malformed) it leaves to
// libplist by answering nothing, so a file it takes gives exactly what libplist gives and one
// it does not take is judged by libplist as before.
namespace PlistVariant {

namespace {

constexpr qsizetype headerSize = 8;
constexpr qsizetype trailerSize = 32;

quint64 bigEndian(const unsigned char* at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | at[i];
    return value;
}

class BinaryReader {
public:
    BinaryReader(const unsigned char* data, qsizetype size, std::optional<KeyFilter> only)
        : m_data(data), m_size(size), m_only(only)
    {}

    std::optional<QVariantMap> document()
    {
        if (m_size < headerSize + trailerSize + 1 || std::memcmp(m_data, "bplist00", 8) != 0)
            return std::nullopt;
        const unsigned char* trailer = m_data + m_size - trailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        const quint64 objects = bigEndian(trailer + 8, 8);
        const quint64 top = bigEndian(trailer + 16, 8);
        const quint64 table = bigEndian(trailer + 24, 8);
        const auto plainSize = [](int bytes) {
            return bytes == 1 || bytes == 2 || bytes == 4 || bytes == 8;
        };
        if (!plainSize(m_offsetSize) || !plainSize(m_refSize) || objects == 0 || top >= objects ||
            table < quint64(headerSize) || table > quint64(m_size - trailerSize) ||
            objects > (quint64(m_size - trailerSize) - table) / quint64(m_offsetSize))
            return std::nullopt;
        m_objects = qsizetype(objects);
        m_table = qsizetype(table);
        // Objects may be shared; a file that makes the walk visit many more than it holds
        // (a deep chain of shared objects) is left to libplist.
        m_budget = 4 * m_objects + 1024;
        QVariantMap dict;
        if (!dictionary(qsizetype(top), 1, &dict))
            return std::nullopt;
        return dict;
    }

private:
    // Where object `index` starts, within the objects before the offset table.
    std::optional<qsizetype> offsetOf(qsizetype index) const
    {
        if (index < 0 || index >= m_objects)
            return std::nullopt;
        const quint64 offset = bigEndian(m_data + m_table + index * m_offsetSize, m_offsetSize);
        if (offset < quint64(headerSize) || offset >= quint64(m_table))
            return std::nullopt;
        return qsizetype(offset);
    }

    bool has(qsizetype at, qsizetype bytes) const
    {
        return bytes >= 0 && at <= m_table && bytes <= m_table - at;
    }

    // The element count after a marker at `at`: its low nibble, or the integer that follows
    // when that is 0xF. `next` is where the elements begin.
    std::optional<qsizetype> count(qsizetype at, qsizetype* next) const
    {
        const int nibble = m_data[at] & 0x0F;
        *next = at + 1;
        if (nibble != 0x0F)
            return nibble;
        if (!has(*next, 1) || (m_data[*next] & 0xF0) != 0x10)
            return std::nullopt;
        const int bytes = 1 << (m_data[*next] & 0x0F);
        if (bytes > 8 || !has(*next + 1, bytes))
            return std::nullopt;
        const quint64 value = bigEndian(m_data + *next + 1, bytes);
        *next += 1 + bytes;
        if (value > quint64(m_table))
            return std::nullopt;
        return qsizetype(value);
    }

    std::optional<qsizetype> reference(qsizetype at) const
    {
        return qsizetype(bigEndian(m_data + at, m_refSize));
    }

    // The ASCII string object `index` (a key); nothing for any other object.
    std::optional<std::string_view> asciiString(qsizetype index) const
    {
        const auto at = offsetOf(index);
        if (!at || (m_data[*at] & 0xF0) != 0x50)
            return std::nullopt;
        qsizetype begin = 0;
        const auto length = count(*at, &begin);
        if (!length || !has(begin, *length))
            return std::nullopt;
        const char* text = reinterpret_cast<const char*>(m_data + begin);
        // NUL and bytes past ASCII are left to libplist's own decoding.
        for (qsizetype i = 0; i < *length; ++i) {
            if (text[i] == '\0' || static_cast<unsigned char>(text[i]) >= 0x80)
                return std::nullopt;
        }
        return std::string_view(text, size_t(*length));
    }

    bool dictionary(qsizetype index, int depth, QVariantMap* out) const
    {
        const auto at = offsetOf(index);
        if (!at || (m_data[*at] & 0xF0) != 0xD0 || depth > directReaderMaxDepth)
            return false;
        qsizetype refs = 0;
        const auto size = count(*at, &refs);
        if (!size || !has(refs, 2 * *size * m_refSize))
            return false;
        std::vector<std::string_view> seen;
        seen.reserve(size_t(*size));
        for (qsizetype i = 0; i < *size; ++i) {
            const auto key = asciiString(*reference(refs + i * m_refSize));
            if (!key || std::find(seen.begin(), seen.end(), *key) != seen.end())
                return false;
            seen.push_back(*key);
            QVariant value;
            if (!element(*reference(refs + (*size + i) * m_refSize), depth, &value))
                return false;
            const bool keep = depth > 1 || !m_only ||
                              std::find(m_only->begin(), m_only->end(), *key) != m_only->end();
            if (keep)
                out->insert(sharedKey(*key), std::move(value));
        }
        return true;
    }

    bool element(qsizetype index, int depth, QVariant* out) const
    {
        const auto at = offsetOf(index);
        if (!at || --m_budget < 0)
            return false;
        const unsigned char marker = m_data[*at];
        switch (marker & 0xF0) {
        case 0x00:
            if (marker != 0x08 && marker != 0x09)
                return false; // null and fill are left to libplist
            *out = marker == 0x09;
            return true;
        case 0x10: {
            // One, two and four bytes are unsigned, eight the two's complement of a signed
            // value; sixteen-byte integers are left to libplist.
            const int bytes = 1 << (marker & 0x0F);
            if (bytes > 8 || !has(*at + 1, bytes))
                return false;
            *out = static_cast<qint64>(bigEndian(m_data + *at + 1, bytes));
            return true;
        }
        case 0x20: {
            const int bytes = 1 << (marker & 0x0F);
            if ((bytes != 4 && bytes != 8) || !has(*at + 1, bytes))
                return false;
            const quint64 bits = bigEndian(m_data + *at + 1, bytes);
            if (bytes == 4) {
                const auto narrow = static_cast<quint32>(bits);
                float value = 0;
                std::memcpy(&value, &narrow, sizeof value);
                *out = double(value);
            } else {
                double value = 0;
                std::memcpy(&value, &bits, sizeof value);
                *out = value;
            }
            return true;
        }
        case 0x40: {
            qsizetype begin = 0;
            const auto length = count(*at, &begin);
            if (!length || !has(begin, *length))
                return false;
            *out = QByteArray(reinterpret_cast<const char*>(m_data + begin), *length);
            return true;
        }
        case 0x50: {
            const auto text = asciiString(index);
            if (!text)
                return false;
            *out = QString::fromLatin1(text->data(), qsizetype(text->size()));
            return true;
        }
        case 0xA0: {
            if (depth + 1 > directReaderMaxDepth)
                return false;
            qsizetype refs = 0;
            const auto size = count(*at, &refs);
            if (!size || !has(refs, *size * m_refSize))
                return false;
            QVariantList list;
            list.reserve(*size);
            for (qsizetype i = 0; i < *size; ++i) {
                QVariant item;
                if (!element(*reference(refs + i * m_refSize), depth + 1, &item))
                    return false;
                list.append(std::move(item));
            }
            *out = std::move(list);
            return true;
        }
        case 0xD0: {
            QVariantMap dict;
            if (!dictionary(index, depth + 1, &dict))
                return false;
            *out = std::move(dict);
            return true;
        }
        default:
            return false; // dates, UTF-16 text, uids, sets and the rest: libplist's
        }
    }

    const unsigned char* m_data;
    qsizetype m_size;
    std::optional<KeyFilter> m_only;
    int m_offsetSize = 0;
    int m_refSize = 0;
    qsizetype m_objects = 0;
    qsizetype m_table = 0;
    mutable qsizetype m_budget = 0;
};

} // namespace

std::optional<QVariantMap> readBinaryDictionary(const char* data, qsizetype size,
                                                std::optional<KeyFilter> only)
{
    if (size <= 0)
        return std::nullopt;
    return BinaryReader(reinterpret_cast<const unsigned char*>(data), size, only).document();
}

} // namespace PlistVariant
