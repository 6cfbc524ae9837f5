#pragma once

#include <QString>

// Text as one shell word: in single quotes, every ' inside written as '\''. Wrapper scripts,
// test runs and the tool's link command all build shell lines from user text this way.
QString shellQuoted(const QString& text);
