#pragma once

#include <QTest>

// QVERIFY for anything that returns a Result: on failure the log shows the error's message.
#define VERIFY_OK(expression)                                                                      \
    do {                                                                                           \
        const auto& checked_ = (expression);                                                       \
        QVERIFY2(checked_.ok(), qPrintable(checked_.message()));                                   \
    } while (false)
