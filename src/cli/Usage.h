#pragma once

#include <QString>

// The usage text, exactly as printed (one trailing line feed).
QString usageText();
// "brenmor-ops " + the version the build carries (the project version unless overridden).
QString versionText();
