// lexaro-import on dsl dictionaries.
#include <gtest/gtest.h>

#include "test_support.h"
