// lexaro-import on csv dictionaries.
#include <gtest/gtest.h>

#include "test_support.h"
