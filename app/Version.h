// The version and publisher both executables carry; the installer takes
// the publisher from here too.
#pragma once

#define VORLANE_VERSION_BIN 1, 0, 0, 3
#define VORLANE_VERSION_TEXT "1.0.0.3"
#define VORLANE_PUBLISHER "Tobrin Quarvisk"
