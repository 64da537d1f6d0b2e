// A chart that runs for days: a million appends and ten thousand paints must
// not grow the process's memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "tests/chart/ChartTestSupport.h"

namespace {

// Committed private memory, summed over the address space: Wine leaves the
// private-usage field of the process memory counters at 0.
SIZE_T PrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (const char* p = nullptr; ::VirtualQuery(p, &mbi, sizeof(mbi)) == sizeof(mbi);
         p = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
        if (mbi.RegionSize == 0) break;
    }
    return total;
}

// Heap blocks freed back to the allocator may stay committed; the tolerance
// is far below what a per-append or per-paint leak would add.
const SIZE_T kTolerance = 512 * 1024;

TEST(ChartSoak, PrivateBytesCounterSeesADeliberateLeak) {
    SIZE_T before = PrivateBytes();
    ASSERT_GT(before, 0u) << "the system does not report private bytes";
    std::vector<char*> leak;
    for (int i = 0; i < 64; ++i) {
        leak.push_back(new char[64 * 1024]);
        leak.back()[0] = 1;
    }
    EXPECT_GT(PrivateBytes(), before + 2 * 1024 * 1024);
    for (char* p : leak) delete[] p;
}

TEST(ChartSoak, MillionAppendsAndTenThousandPaintsKeepMemoryAndGdiFlat) {
    LivePlot live(458, 161);
    live.plot.SetValueRange(0.0f, 7000.0f);
    live.plot.SetPointSpacing(4);
    live.plot.SetCaptionMode(4);
    for (int i = 0; i < 20; ++i) live.Paint();
    int nFreeBefore = FreeGdiSlots();
    SIZE_T before = PrivateBytes();
    for (int i = 0; i < 1000000; ++i) {
        live.plot.AppendValue(static_cast<float>(i % 9000));
        if (i % 100 == 0) live.Paint();
    }
    EXPECT_LE(PrivateBytes(), before + kTolerance);
    EXPECT_EQ(nFreeBefore, FreeGdiSlots());
}

}  // namespace
