// A chart that runs for days: a million appends and ten thousand paints must
// not grow the process's memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "tests/chart/ChartTestSupport.h"
#include "tests/common/Counters.h"

namespace {

// Heap blocks freed back to the allocator may stay committed; the tolerance
// is far below what a per-append or per-paint leak would add.
const long long kTolerance = 512 * 1024;

TEST(ChartSoak, PrivateBytesCounterSeesADeliberateLeak) {
    long long before = PrivateBytes(::GetCurrentProcess());
    ASSERT_GT(before, 0) << "the system does not report private bytes";
    std::vector<char*> leak;
    for (int i = 0; i < 64; ++i) {
        leak.push_back(new char[64 * 1024]);
        leak.back()[0] = 1;
    }
    EXPECT_GT(PrivateBytes(::GetCurrentProcess()), before + 2 * 1024 * 1024);
    for (char* p : leak) delete[] p;
}

TEST(ChartSoak, MillionAppendsAndTenThousandPaintsKeepMemoryAndGdiFlat) {
    LivePlot live(458, 161);
    live.plot.SetValueRange(0.0f, 7000.0f);
    live.plot.SetPointSpacing(4);
    live.plot.SetCaptionMode(4);
    for (int i = 0; i < 20; ++i) live.Paint();
    int nFreeBefore = FreeGdiSlots();
    long long before = PrivateBytes(::GetCurrentProcess());
    for (int i = 0; i < 1000000; ++i) {
        live.plot.AppendValue(static_cast<float>(i % 9000));
        if (i % 100 == 0) live.Paint();
    }
    EXPECT_LE(PrivateBytes(::GetCurrentProcess()), before + kTolerance);
    EXPECT_EQ(nFreeBefore, FreeGdiSlots());
}

}  // namespace
