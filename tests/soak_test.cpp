// A short soak: hundreds of mail windows and dozens of recordings in one session must leave the
// process where they found it. The long run is the soak program (bench/soak.cpp).
#include "support.h"
#include "soak_loop.h"

namespace pvltest {
namespace {

TEST(SoakTest, HundredsOfMailWindowsAndDozensOfRecordingsKeepTheProcessFlat) {
    const std::wstring encoder = TestFolder() + L"\\lame.exe";
    ASSERT_TRUE(CopyFileW((TestFolder() + L"\\fake_lame.exe").c_str(), encoder.c_str(), FALSE));
    SetEnvironmentVariableW(L"PVL_FAKE_LAME", L"encode");
    SoakPlan plan;
    plan.windows = 400;
    plan.recordEvery = 8;
    plan.samples = 8;
    const SoakResult run = RunSoak(plan, stdout);
    SetEnvironmentVariableW(L"PVL_FAKE_LAME", nullptr);
    DeleteFileW(encoder.c_str());
    DeleteFileW(Mp3Path().c_str());
    DeleteFileW(RecordingPath().c_str());

    EXPECT_EQ(run.windows, plan.windows);
    EXPECT_EQ(run.cycles, plan.windows / plan.recordEvery);
    EXPECT_EQ(run.attached, run.cycles) << "every recording reached its mail";
    const Flatness f = JudgeFlatness(run);
    EXPECT_TRUE(f.flat) << f.why;
    std::printf("Soak: %d windows, %d record/stop cycles in %.1f s; flat: %s\n", run.windows, run.cycles, run.seconds,
                f.flat ? "yes" : f.why.c_str());
    EXPECT_EQ(simhost::Host::Get().LiveObjects(), 0);
    EXPECT_EQ(simhost::Host::Get().AdvisedSinks(), 0);
    EXPECT_EQ(pvl::Connect::LiveObjects(), 0);
}

// The soak's verdict is only as good as its instruments: each must see what a leak would leave.
TEST(SoakTest, TheInstrumentsSeeWhatALeakWouldLeave) {
    const Resources before = MeasureResources();
    std::vector<std::vector<char>> blocks;
    for (int i = 0; i < 2048; ++i) blocks.emplace_back(1024, char(i));  // 2 MiB in small blocks
    std::vector<HANDLE> events;
    for (int i = 0; i < 10; ++i) events.push_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    std::vector<HBITMAP> bitmaps;
    for (int i = 0; i < 10; ++i) bitmaps.push_back(CreateBitmap(16, 16, 1, 32, nullptr));
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const Resources during = MeasureResources();
    DestroyWindow(window);
    for (HBITMAP b : bitmaps) DeleteObject(b);
    for (HANDLE e : events) CloseHandle(e);
    blocks.clear();
    const Resources after = MeasureResources();

    EXPECT_GE(double(during.privateBytes) - double(before.privateBytes), 1024.0 * 1024.0);
    EXPECT_GE(during.handles, before.handles + 10);
    EXPECT_GE(during.gdiObjects, before.gdiObjects + 10);
    EXPECT_GE(during.userObjects, before.userObjects + 1);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    EXPECT_EQ(after.userObjects, before.userObjects);
}

}  // namespace
}  // namespace pvltest
