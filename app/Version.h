// The version both executables carry.
#pragma once

#define VORLANE_VERSION_BIN 1, 0, 0, 3
#define VORLANE_VERSION_TEXT "1.0.0.3"
