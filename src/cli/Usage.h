#pragma once

#include <QString>

// The usage text, exactly as printed (one trailing line feed).
QString usageText();
// "brenmor-ops " + version; the version is "dev" when the build carries none.
QString versionText();
