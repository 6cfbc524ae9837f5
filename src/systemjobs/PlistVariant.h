#pragma once

#include <QByteArray>
#include <QVariantMap>

#include <optional>
#include <span>
#include <string_view>

// Property lists as Qt values: dict → QVariantMap, array → QVariantList, string → QString,
// integer and uid → qint64, real → double, bool, date → QDateTime (UTC), data → QByteArray.
namespace PlistVariant {

// Top-level keys to keep: the values of the others are checked as the rest, but not kept.
using KeyFilter = std::span<const std::string_view>;

// Parses XML or binary plist bytes; nothing when they do not parse or the top level is not a
// dictionary. The XML and binary plists launchd jobs are written in are read directly
// (readXmlDictionary, readBinaryDictionary); the rest goes to libplist. With `only`, the dictionary
// holds only those of its keys.
std::optional<QVariantMap> readDictionary(const QByteArray& bytes,
                                          std::optional<KeyFilter> only = std::nullopt);

// How deep the direct readers follow nested dictionaries and arrays; deeper documents go to
// libplist.
inline constexpr int directReaderMaxDepth = 64;

// The direct reader alone: nothing when the bytes hold anything it leaves to libplist (see
// PlistXml.cpp), else exactly what libplist gives.
std::optional<QVariantMap> readXmlDictionary(const char* data, qsizetype size,
                                             std::optional<KeyFilter> only = std::nullopt);
// The direct reader of binary plists alone (see PlistBinary.cpp), on the same terms.
std::optional<QVariantMap> readBinaryDictionary(const char* data, qsizetype size,
                                                std::optional<KeyFilter> only = std::nullopt);
// libplist alone.
std::optional<QVariantMap> readDictionaryWithLibplist(const QByteArray& bytes,
                                                      std::optional<KeyFilter> only = std::nullopt);

// A dictionary key as text, shared with every other dictionary holding the same key.
QString sharedKey(std::string_view key);

// The dictionary as an XML property list; nothing when a value has no plist form.
std::optional<QByteArray> toXml(const QVariantMap& dictionary);

} // namespace PlistVariant
