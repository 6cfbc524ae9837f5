#pragma once

#include <QByteArray>
#include <QVariantMap>

#include <optional>

// Property lists as Qt values: dict → QVariantMap, array → QVariantList, string → QString,
// integer and uid → qint64, real → double, bool, date → QDateTime (UTC), data → QByteArray.
namespace PlistVariant {

// Parses XML or binary plist bytes; nothing when they do not parse or the top level is not a
// dictionary.
std::optional<QVariantMap> readDictionary(const QByteArray& bytes);

// The dictionary as an XML property list; nothing when a value has no plist form.
std::optional<QByteArray> toXml(const QVariantMap& dictionary);

} // namespace PlistVariant
