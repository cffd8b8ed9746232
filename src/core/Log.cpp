#include "core/Log.h"

Q_LOGGING_CATEGORY(lcHarbly, "harbly", QtInfoMsg)
