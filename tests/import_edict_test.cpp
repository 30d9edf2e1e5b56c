// lexaro-import on edict dictionaries.
#include <gtest/gtest.h>

#include "test_support.h"
