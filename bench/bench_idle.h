// Identifiers of the baseline dialog's template.
#pragma once

#define IDD_BENCH_IDLE 200
#define IDC_BENCH_STATIC 1040
