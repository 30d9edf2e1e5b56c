// lexaro-import on xdxf dictionaries.
#include <gtest/gtest.h>

#include "test_support.h"
