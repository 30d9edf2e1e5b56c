// lexaro-import on wiktextract dictionaries.
#include <gtest/gtest.h>

#include "test_support.h"
