#pragma once
#include <QLoggingCategory>

// Diagnostics go to stderr through Qt's logging; secrets (PIN, tokens, codes) are never logged.
Q_DECLARE_LOGGING_CATEGORY(lcHarbly)
