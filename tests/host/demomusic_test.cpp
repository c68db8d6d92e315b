#include <gtest/gtest.h>

#include "demomusic.h"
