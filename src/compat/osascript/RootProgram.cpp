#include "RootProgram.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>

namespace {

bool isKeyword(const QString& word)
{
    static const QSet<QString> keywords{
        QStringLiteral("if"),   QStringLiteral("then"),  QStringLiteral("else"),
        QStringLiteral("elif"), QStringLiteral("fi"),    QStringLiteral("do"),
        QStringLiteral("done"), QStringLiteral("while"), QStringLiteral("until"),
        QStringLiteral("!"),    QStringLiteral("{"),     QStringLiteral("}"),
        QStringLiteral("time")};
    return keywords.contains(word);
}

bool isAssignment(const QString& word)
{
    const qsizetype equals = word.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return false;
    for (qsizetype i = 0; i < equals; ++i) {
        const QChar c = word.at(i);
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_')) || (i == 0 && c.isDigit()))
            return false;
    }
    return true;
}

QString ownerName(uid_t uid)
{
    const passwd* entry = ::getpwuid(uid);
    return entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name)
                                   : QStringLiteral("user %1").arg(uid);
}

// Why `path` and the folders above it do not keep a user out; nothing when they do.
std::optional<QString> pathRefusal(const QString& path)
{
    QStringList prefixes{QStringLiteral("/")};
    QString prefix;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix += QLatin1Char('/') + part;
        prefixes << prefix;
    }
    for (const QString& each : prefixes) {
        struct stat info {};
        if (::lstat(QFile::encodeName(each).constData(), &info) != 0)
            return QStringLiteral("%1: %2").arg(each, QString::fromLocal8Bit(std::strerror(errno)));
        if (info.st_uid != 0)
            return QStringLiteral("%1 is owned by %2, not by root")
                .arg(each, ownerName(info.st_uid));
        // A symbolic link's own mode means nothing; its target is checked below.
        if (!S_ISLNK(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            return QStringLiteral("%1 is writable by group or others").arg(each);
    }
    return std::nullopt;
}

} // namespace

QStringList programsOfCommand(const QString& command)
{
    QStringList programs;
    QString word;
    bool inWord = false;
    bool expecting = true; // the next word may name the program
    const auto endWord = [&] {
        if (!inWord)
            return;
        if (expecting && !isKeyword(word) && !isAssignment(word)) {
            programs << word;
            expecting = false;
        }
        word.clear();
        inWord = false;
    };
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (c == QLatin1Char('\'')) {
            const qsizetype end = command.indexOf(QLatin1Char('\''), i + 1);
            const qsizetype stop = end < 0 ? command.size() : end;
            word += command.mid(i + 1, stop - i - 1);
            inWord = true;
            i = stop;
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            bool substitutes = false;
            for (++i; i < command.size() && command.at(i) != QLatin1Char('"'); ++i) {
                // A command substituted inside quotes starts a program this check cannot name.
                if (!substitutes && (command.at(i) == QLatin1Char('`') ||
                                     command.mid(i, 2) == QLatin1String("$("))) {
                    programs << QStringLiteral("`");
                    substitutes = true;
                }
                if (command.at(i) == QLatin1Char('\\') && i + 1 < command.size())
                    ++i;
                word += command.at(i);
            }
        } else if (c == QLatin1Char('\\')) {
            inWord = true;
            if (i + 1 < command.size() && command.at(i + 1) != QLatin1Char('\n'))
                word += command.at(i + 1);
            ++i;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            endWord();
        } else if (QStringLiteral(";&|\n()`").contains(c)) {
            endWord();
            expecting = true;
        } else if (c == QLatin1Char('<') || c == QLatin1Char('>')) {
            // A redirection (its descriptor number and target) is not the program.
            bool number = inWord && !word.isEmpty();
            for (const QChar digit : std::as_const(word))
                number = number && digit.isDigit();
            if (number) {
                word.clear();
                inWord = false;
            }
            endWord();
            while (i + 1 < command.size() && QStringLiteral("<>&").contains(command.at(i + 1)))
                ++i;
            while (i + 1 < command.size() && command.at(i + 1) == QLatin1Char(' '))
                ++i;
            const bool wasExpecting = expecting;
            while (i + 1 < command.size() &&
                   !QStringLiteral(" \t;&|\n()").contains(command.at(i + 1)))
                ++i;
            expecting = wasExpecting;
        } else {
            word += c;
            inWord = true;
        }
    }
    endWord();
    return programs;
}

std::optional<QString> rootRefusal(const QString& path)
{
    const auto refused = [&path](const QString& why) {
        return QStringLiteral("Refusing to run %1 as root: %2.").arg(path, why);
    };
    if (path.contains(QLatin1Char('$')) || path.contains(QLatin1Char('`')))
        return refused(QStringLiteral("the program is only known when the command runs"));
    if (!path.startsWith(QLatin1Char('/')))
        return refused(QStringLiteral("it is not named by an absolute path"));
    if (const auto why = pathRefusal(QDir::cleanPath(path)))
        return refused(*why);
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return refused(QString::fromLocal8Bit(std::strerror(errno)));
    const QString target = QFile::decodeName(resolved);
    if (const auto why = pathRefusal(target))
        return refused(*why);
    if (!QFileInfo(target).isFile())
        return refused(QStringLiteral("it is not a regular file"));
    return std::nullopt;
}

std::optional<QString> commandRefusal(const QString& command, const QString& searchPath)
{
    for (const QString& program : programsOfCommand(command)) {
        if (program.contains(QLatin1Char('/')) || program.contains(QLatin1Char('$')) ||
            program.contains(QLatin1Char('`'))) {
            if (auto why = rootRefusal(program))
                return why;
            continue;
        }
        for (const QString& folder : searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            const QFileInfo candidate(folder + QLatin1Char('/') + program);
            if (candidate.isFile() && candidate.isExecutable()) {
                if (auto why = rootRefusal(candidate.filePath()))
                    return why;
                break;
            }
        }
    }
    return std::nullopt;
}
