#include "PlistVariant.h"

#include <QDateTime>
#include <QVariantList>

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace PlistVariant {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Property-list dates count seconds from 2001-01-01 00:00 UTC.
QDateTime plistEpoch() { return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC); }

QVariant toVariant(plist_t node);

struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>()(key); }
};

} // namespace

// Dictionary keys repeat across property lists ("Label", "ProgramArguments", ...): each
// distinct key is decoded once per thread and shared by every dictionary that holds it, which
// saves an allocation per key and the memory of thousands of copies. Bounded: keys past the
// limit are decoded each time.
QString sharedKey(std::string_view key)
{
    constexpr size_t maxKeys = 512;
    thread_local std::unordered_map<std::string, QString, KeyHash, std::equal_to<>> keys;
    const auto known = keys.find(key);
    if (known != keys.end())
        return known->second;
    QString text = QString::fromUtf8(key.data(), qsizetype(key.size()));
    if (keys.size() < maxKeys)
        keys.emplace(key, text);
    return text;
}

namespace {

QVariantMap dictToVariant(plist_t node, std::optional<KeyFilter> only = std::nullopt)
{
    QVariantMap map;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    if (!iter)
        return map;
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &key, &value);
        if (!key)
            break;
        if (!only || std::find(only->begin(), only->end(), std::string_view(key)) != only->end())
            map.insert(sharedKey(key), toVariant(value));
        std::free(key);
    }
    std::free(iter);
    return map;
}

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_DICT:
        return dictToVariant(node);
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t size = plist_array_get_size(node);
        list.reserve(size);
        for (uint32_t i = 0; i < size; ++i)
            list.append(toVariant(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QString::fromUtf8(text, static_cast<qsizetype>(length));
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        // libplist keeps negative integers as their two's complement.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return static_cast<qint64>(value);
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return static_cast<qint64>(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return plistEpoch().addMSecs(qint64(sec) * 1000 + usec / 1000);
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* data = plist_get_data_ptr(node, &length);
        return QByteArray(data, static_cast<qsizetype>(length));
    }
    default:
        return {};
    }
}

PlistPtr fromVariant(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            PlistPtr item = fromVariant(it.value());
            if (!item)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), item.release());
        }
        return dict;
    }
    case QMetaType::QVariantList: {
        PlistPtr array(plist_new_array());
        for (const QVariant& element : value.toList()) {
            PlistPtr item = fromVariant(element);
            if (!item)
                return nullptr;
            plist_array_append_item(array.get(), item.release());
        }
        return array;
    }
    case QMetaType::QString:
        return PlistPtr(plist_new_string(value.toString().toUtf8().constData()));
    case QMetaType::Bool:
        return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return PlistPtr(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
    case QMetaType::Double:
        return PlistPtr(plist_new_real(value.toDouble()));
    case QMetaType::QDateTime: {
        const qint64 ms = plistEpoch().msecsTo(value.toDateTime());
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        if (!value.toDateTime().isValid() || sec < std::numeric_limits<int32_t>::min() ||
            sec > std::numeric_limits<int32_t>::max())
            return nullptr;
        return PlistPtr(plist_new_date(static_cast<int32_t>(sec),
                                       static_cast<int32_t>((ms - sec * 1000) * 1000)));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return PlistPtr(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size())));
    }
    default:
        return nullptr;
    }
}

} // namespace

std::optional<QVariantMap> readDictionary(const QByteArray& bytes, std::optional<KeyFilter> only)
{
    if (bytes.startsWith("bplist00")) {
        if (auto direct = readBinaryDictionary(bytes.constData(), bytes.size(), only))
            return direct;
    } else if (auto direct = readXmlDictionary(bytes.constData(), bytes.size(), only)) {
        return direct;
    }
    return readDictionaryWithLibplist(bytes, only);
}

std::optional<QVariantMap> readDictionaryWithLibplist(const QByteArray& bytes,
                                                      std::optional<KeyFilter> only)
{
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    PlistPtr owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT)
        return std::nullopt;
    return dictToVariant(root, only);
}

std::optional<QByteArray> toXml(const QVariantMap& dictionary)
{
    PlistPtr root = fromVariant(QVariant(dictionary));
    if (!root)
        return std::nullopt;
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml)
        return std::nullopt;
    QByteArray result(xml, static_cast<qsizetype>(length));
    plist_to_xml_free(xml);
    return result;
}

} // namespace PlistVariant
