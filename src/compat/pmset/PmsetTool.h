#pragma once

#include <QString>
#include <QStringList>

// What one pmset run prints and returns.
struct PmsetToolOutcome {
    int status = 0;
    QString standardOutput;
    QString standardError;
};

// The usage text shown after an argument error.
QString pmsetUsage();

// Runs pmset with `args` (without the program name) against the state file of this process.
PmsetToolOutcome runPmset(const QStringList& args);
