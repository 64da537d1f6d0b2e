// Identifiers of the floor's dialog template; its controls carry the main
// window's identifiers.
#pragma once

#include "ui/resource.h"

#define IDD_BENCH_IDLE 200
