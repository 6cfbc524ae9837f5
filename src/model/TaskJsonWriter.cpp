#include "TaskJsonWriter.h"

#include "TaskFields.h"

#include <QJsonArray>

#include <QLocale>

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace TaskJsonWriter {

namespace {

// Members of one object or elements of one array, in the layout Qt's writer uses:
// "{\n", each member on its own line indented four spaces per level, ",\n" between them,
// "\n" after the last, the closing bracket at the parent's indentation.
class Writer {
public:
    // std::string: QByteArray's appends go through its general insert and cost more than
    // the whole rest of the writer.
    explicit Writer(std::string& out) : m_out(out) {}

    void open(char bracket)
    {
        m_out += bracket;
        m_out += '\n';
        ++m_depth;
        m_first.push_back(true);
    }
    void close(char bracket)
    {
        const bool empty = m_first.back();
        m_first.pop_back();
        --m_depth;
        if (!empty)
            m_out += '\n';
        m_out.append(size_t(4 * m_depth), ' ');
        m_out += bracket;
    }
    // Starts an array element.
    void element()
    {
        separate();
        m_out.append(size_t(4 * m_depth), ' ');
    }
    // Starts an object member; keys are plain ASCII.
    void key(std::string_view name)
    {
        element();
        m_out += '"';
        m_out += name;
        m_out += "\": ";
    }
    void string(const QString& text)
    {
        const QByteArray bytes = text.toUtf8();
        m_out += '"';
        qsizetype plain = 0; // start of the run of bytes that need no escape
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
                continue;
            m_out.append(bytes.constData() + plain, size_t(i - plain));
            plain = i + 1;
            appendEscaped(c);
        }
        m_out.append(bytes.constData() + plain, size_t(bytes.size() - plain));
        m_out += '"';
    }
    void integer(qint64 value)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        m_out.append(digits, size_t(end - digits));
    }
    void number(double value)
    {
        m_out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
    }
    void boolean(bool value) { m_out += value ? "true" : "false"; }

private:
    void appendEscaped(char c)
    {
        switch (c) {
        case '"':
            m_out += "\\\"";
            break;
        case '\\':
            m_out += "\\\\";
            break;
        case '\b':
            m_out += "\\b";
            break;
        case '\f':
            m_out += "\\f";
            break;
        case '\n':
            m_out += "\\n";
            break;
        case '\r':
            m_out += "\\r";
            break;
        case '\t':
            m_out += "\\t";
            break;
        default: {
            static const char hex[] = "0123456789abcdef";
            m_out += "\\u00";
            m_out += hex[(c >> 4) & 0xF];
            m_out += hex[c & 0xF];
        }
        }
    }

    void separate()
    {
        if (!m_first.back())
            m_out += ",\n";
        m_first.back() = false;
    }

    std::string& m_out;
    int m_depth = 0;
    std::vector<bool> m_first;
};

// Writes each described value; objects take their keys in sorted order, as Qt's writer does.
struct ValueWriter {
    Writer& w;

    void value(const QUuid& id) const { w.string(uuidUpper(id)); }
    void value(const QString& text) const { w.string(text); }
    void value(bool flag) const { w.boolean(flag); }
    void value(int number) const { w.integer(number); }
    void value(double number) const { w.number(number); }
    template <typename E> void value(const QList<E>& list) const
    {
        w.open('[');
        for (const E& item : list) {
            w.element();
            value(item);
        }
        w.close(']');
    }
    void value(const TaskSchedule& schedule) const
    {
        w.open('{');
        w.key(TaskFields::caseNames[schedule.value().index()]);
        std::visit([this](const auto& payload) { value(payload); }, schedule.value());
        w.close('}');
    }
    template <TaskFields::Described T> void value(const T& object) const
    {
        w.open('{');
        TaskFields::visitSorted(object, [this](const TaskFields::Field& field, const auto& member) {
            if constexpr (requires { member.has_value(); }) {
                if (member) {
                    w.key(field.name);
                    value(*member);
                }
            } else {
                w.key(field.name);
                value(member);
            }
        });
        w.close('}');
    }
};

// The same values as QJsonValue.
struct JsonBuilder {
    static QJsonValue value(const QUuid& id) { return uuidUpper(id); }
    static QJsonValue value(const QString& text) { return text; }
    static QJsonValue value(bool flag) { return flag; }
    static QJsonValue value(int number) { return number; }
    static QJsonValue value(double number) { return number; }
    template <typename E> static QJsonValue value(const QList<E>& list)
    {
        QJsonArray array;
        for (const E& item : list)
            array.append(value(item));
        return array;
    }
    static QJsonValue value(const TaskSchedule& schedule) { return object(schedule); }
    template <TaskFields::Described T> static QJsonValue value(const T& described)
    {
        return object(described);
    }

    static QJsonObject object(const TaskSchedule& schedule)
    {
        const std::string_view name = TaskFields::caseNames[schedule.value().index()];
        return {{QLatin1StringView(name.data(), qsizetype(name.size())),
                 std::visit([](const auto& payload) { return value(payload); }, schedule.value())}};
    }
    template <TaskFields::Described T> static QJsonObject object(const T& described)
    {
        QJsonObject object;
        TaskFields::visitFields(described, [&](const TaskFields::Field& field, const auto& member) {
            const QLatin1StringView key(field.name.data(), qsizetype(field.name.size()));
            if constexpr (requires { member.has_value(); }) {
                if (member)
                    object.insert(key, value(*member));
            } else {
                object.insert(key, value(member));
            }
        });
        return object;
    }
};

} // namespace

QByteArray envelope(int version, const QList<ScheduledTask>& tasks)
{
    std::string out;
    out.reserve(size_t(64 + tasks.size() * 512));
    Writer w(out);
    w.open('{');
    w.key("tasks");
    w.open('[');
    for (const ScheduledTask& task : tasks) {
        w.element();
        ValueWriter{w}.value(task);
    }
    w.close(']');
    w.key("version");
    w.integer(version);
    w.close('}');
    out += '\n';
    return QByteArray(out.data(), qsizetype(out.size()));
}

QJsonObject object(const ScheduledTask& task) { return JsonBuilder::object(task); }
QJsonObject object(const TaskLog& log) { return JsonBuilder::object(log); }
QJsonObject object(const TaskSchedule& schedule) { return JsonBuilder::object(schedule); }

} // namespace TaskJsonWriter
