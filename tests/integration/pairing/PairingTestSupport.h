#pragma once
// Kept for tests written against it: the helpers now live in the shared test support.
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>
