#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// The tool's two output channels. Every line is UTF-8 and ends in a line feed; an error line
// is written in one piece as "Error: " + message.
class Console {
public:
    Console(FILE* out = stdout, FILE* err = stderr) : m_out(out), m_err(err) {}

    void print(const QString& line) const { write(m_out, line + QLatin1Char('\n')); }
    // Text printed as it is (it carries its own line feeds).
    void printRaw(const QString& text) const { write(m_out, text); }
    // A finding that does not stop the command: "Warning: " + message on standard error.
    void warning(const QString& message) const
    {
        write(m_err, QStringLiteral("Warning: ") + message + QLatin1Char('\n'));
    }
    void error(const QString& message) const
    {
        write(m_err, QStringLiteral("Error: ") + message + QLatin1Char('\n'));
    }

private:
    static void write(FILE* stream, const QString& text)
    {
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
        std::fflush(stream);
    }

    FILE* m_out;
    FILE* m_err;
};
