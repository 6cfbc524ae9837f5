#include "TaskJsonWriter.h"

#include <QLocale>

#include <charconv>
#include <string>
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
    void key(const char* name)
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

void writeTimes(Writer& w, const QList<TimeOfDay>& times)
{
    w.key("times");
    w.open('[');
    for (const TimeOfDay& time : times) {
        w.element();
        w.open('{');
        w.key("hour");
        w.integer(time.hour);
        w.key("minute");
        w.integer(time.minute);
        w.close('}');
    }
    w.close(']');
}

// Payload keys in alphabetical order: day, minutes, nth, times, weekday, weekdays.
struct PayloadWriter {
    Writer& w;
    void operator()(const TaskSchedule::RunAtLoad&) const {}
    void operator()(const TaskSchedule::Interval& s) const
    {
        w.key("minutes");
        w.integer(s.minutes);
    }
    void operator()(const TaskSchedule::Daily& s) const { writeTimes(w, s.times); }
    void operator()(const TaskSchedule::Weekly& s) const
    {
        writeTimes(w, s.times);
        w.key("weekdays");
        w.open('[');
        for (int day : s.weekdays) {
            w.element();
            w.integer(day);
        }
        w.close(']');
    }
    void operator()(const TaskSchedule::Monthly& s) const
    {
        w.key("day");
        w.integer(s.day);
        writeTimes(w, s.times);
    }
    void operator()(const TaskSchedule::MonthlyLastDay& s) const { writeTimes(w, s.times); }
    void operator()(const TaskSchedule::MonthlyNthWeekday& s) const
    {
        w.key("nth");
        w.integer(s.nth);
        writeTimes(w, s.times);
        w.key("weekday");
        w.integer(s.weekday);
    }
};

void writeLog(Writer& w, const TaskLog& log)
{
    w.open('{');
    w.key("exitCode");
    w.integer(log.exitCode);
    w.key("id");
    w.string(uuidUpper(log.id));
    w.key("output");
    w.string(log.output);
    w.key("timestamp");
    w.number(log.timestamp);
    w.close('}');
}

void writeTask(Writer& w, const ScheduledTask& task)
{
    w.open('{');
    w.key("command");
    w.string(task.command);
    if (task.envFilePath) {
        w.key("envFilePath");
        w.string(*task.envFilePath);
    }
    w.key("id");
    w.string(task.idString());
    w.key("isEnabled");
    w.boolean(task.isEnabled);
    w.key("logs");
    w.open('[');
    for (const TaskLog& log : task.logs) {
        w.element();
        writeLog(w, log);
    }
    w.close(']');
    w.key("name");
    w.string(task.name);
    w.key("schedule");
    w.open('{');
    w.key(TaskSchedule::caseName(task.schedule.kind()).toLatin1().constData());
    w.open('{');
    std::visit(PayloadWriter{w}, task.schedule.value());
    w.close('}');
    w.close('}');
    w.key("useLoginShell");
    w.boolean(task.useLoginShell);
    w.key("wakeBeforeRun");
    w.boolean(task.wakeBeforeRun);
    if (task.workingDirectory) {
        w.key("workingDirectory");
        w.string(*task.workingDirectory);
    }
    w.close('}');
}

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
        writeTask(w, task);
    }
    w.close(']');
    w.key("version");
    w.integer(version);
    w.close('}');
    out += '\n';
    return QByteArray(out.data(), qsizetype(out.size()));
}

} // namespace TaskJsonWriter
