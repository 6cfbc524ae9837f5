#include "JobSpec.h"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

bool isType(plist_t node, plist_type type) { return node && plist_get_node_type(node) == type; }

std::optional<QString> stringValue(plist_t node)
{
    if (!isType(node, PLIST_STRING))
        return std::nullopt;
    char* raw = nullptr;
    plist_get_string_val(node, &raw);
    if (!raw)
        return std::nullopt;
    QString value = QString::fromUtf8(raw);
    std::free(raw);
    return value;
}

std::optional<qint64> integerValue(plist_t node)
{
    if (!isType(node, PLIST_UINT))
        return std::nullopt;
    uint64_t raw = 0;
    plist_get_uint_val(node, &raw);
    // Negative integers come back in two's complement.
    return static_cast<qint64>(raw);
}

std::optional<bool> boolValue(plist_t node)
{
    if (!isType(node, PLIST_BOOLEAN))
        return std::nullopt;
    uint8_t raw = 0;
    plist_get_bool_val(node, &raw);
    return raw != 0;
}

QString stringItem(plist_t dict, const char* key)
{
    return stringValue(plist_dict_get_item(dict, key)).value_or(QString());
}

std::optional<CalendarEntry> calendarEntry(plist_t dict)
{
    if (!isType(dict, PLIST_DICT))
        return std::nullopt;
    QMap<QString, qint64> keys;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    bool allIntegers = true;
    while (iter) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &key, &value);
        if (!key)
            break;
        const QString name = QString::fromUtf8(key);
        std::free(key);
        const auto number = integerValue(value);
        if (number)
            keys.insert(name, *number);
        else
            allIntegers = false;
    }
    std::free(iter);
    if (!allIntegers)
        return std::nullopt;
    return CalendarEntry::fromKeys(keys);
}

void readCalendar(plist_t node, JobSpec& definition)
{
    QList<plist_t> entries;
    if (isType(node, PLIST_DICT)) {
        entries.append(node);
    } else if (isType(node, PLIST_ARRAY)) {
        const uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i)
            entries.append(plist_array_get_item(node, i));
    } else if (node) {
        ++definition.rejectedCalendarEntries;
    }
    for (plist_t item : entries) {
        if (const auto entry = calendarEntry(item))
            definition.calendar.append(*entry);
        else
            ++definition.rejectedCalendarEntries;
    }
}

QStringList keysOf(plist_t dict)
{
    QStringList keys;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    while (iter) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &key, &value);
        if (!key)
            break;
        keys.append(QString::fromUtf8(key));
        std::free(key);
    }
    std::free(iter);
    return keys;
}

std::optional<QStringList> stringArray(plist_t node)
{
    if (!isType(node, PLIST_ARRAY))
        return std::nullopt;
    QStringList values;
    const uint32_t count = plist_array_get_size(node);
    for (uint32_t i = 0; i < count; ++i) {
        const auto value = stringValue(plist_array_get_item(node, i));
        if (!value)
            return std::nullopt;
        values.append(*value);
    }
    return values;
}

QMap<QString, QString> environmentOf(plist_t node)
{
    QMap<QString, QString> environment;
    if (!isType(node, PLIST_DICT))
        return environment;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    while (iter) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iter, &key, &value);
        if (!key)
            break;
        const QString name = QString::fromUtf8(key);
        std::free(key);
        if (const auto text = stringValue(value))
            environment.insert(name, *text);
    }
    std::free(iter);
    return environment;
}

} // namespace

Result<JobSpec, JobSpecError> parseJobSpec(const QByteArray& bytes)
{
    const auto failed = [](QString reason) {
        return Result<JobSpec, JobSpecError>::failure({std::move(reason)});
    };
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<int32_t>::max())
        return failed(QStringLiteral("empty or oversized property list"));
    plist_t raw = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &raw);
    const PlistPtr root(raw);
    if (!isType(raw, PLIST_DICT))
        return failed(QStringLiteral("not a property list dictionary"));

    JobSpec definition;
    definition.label = stringItem(raw, "Label");
    if (definition.label.isEmpty())
        return failed(QStringLiteral("no Label"));
    definition.program = stringItem(raw, "Program");
    if (plist_t arguments = plist_dict_get_item(raw, "ProgramArguments")) {
        const auto list = stringArray(arguments);
        if (!list)
            return failed(QStringLiteral("ProgramArguments is not an array of strings"));
        definition.arguments = *list;
    }
    if (definition.arguments.isEmpty()) {
        if (definition.program.isEmpty())
            return failed(QStringLiteral("no ProgramArguments or Program"));
        definition.arguments = QStringList{definition.program};
    }
    definition.runAtLoad = boolValue(plist_dict_get_item(raw, "RunAtLoad")).value_or(false);
    if (const auto interval = integerValue(plist_dict_get_item(raw, "StartInterval"))) {
        if (*interval > 0 && *interval <= std::numeric_limits<int>::max())
            definition.startInterval = static_cast<int>(*interval);
    }
    readCalendar(plist_dict_get_item(raw, "StartCalendarInterval"), definition);
    definition.standardOutPath = stringItem(raw, "StandardOutPath");
    definition.standardErrorPath = stringItem(raw, "StandardErrorPath");
    definition.workingDirectory = stringItem(raw, "WorkingDirectory");
    definition.environment = environmentOf(plist_dict_get_item(raw, "EnvironmentVariables"));
    definition.keys = keysOf(raw);
    return definition;
}
