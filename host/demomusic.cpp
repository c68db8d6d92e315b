#include "demomusic.h"
