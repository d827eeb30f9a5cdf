#include <gtest/gtest.h>
#include <objbase.h>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace pvltest {
int RunAsExitHost(const char* mode);
}

namespace {
// A deadline for the add-in's message boxes: a test that expects one answers it at once
// (MessageBoxAnswerer); one that nobody answers would block its test until the runner's time-out.
// After 20 s the box is reported as a failure of the running test, with its text, and closed.
void WatchForUnansweredBoxes(const std::atomic<bool>& stop) {
    HWND seen = nullptr;
    ULONGLONG since = 0;
    while (!stop) {
        HWND box = FindWindowW(L"#32770", L"Parvaline");
        if (!box || !IsWindowVisible(box)) {
            seen = nullptr;
        } else if (box != seen) {
            seen = box;
            since = GetTickCount64();
        } else if (GetTickCount64() - since > 20000) {
            wchar_t text[1024] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            const std::wstring wide(text);
            ADD_FAILURE() << "a message box nobody answered for 20 s: " << std::string(wide.begin(), wide.end());
            SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            seen = nullptr;
        }
        Sleep(200);
    }
}
}  // namespace

int main(int argc, char** argv) {
    // The add-in lives in the host's single-threaded apartment; so do the tests.
    if (FAILED(OleInitialize(nullptr))) return 2;
    // Started again by the module lifetime tests as a host that ends without releasing anything.
    if (argc == 3 && std::strcmp(argv[1], "--exit-host") == 0) return pvltest::RunAsExitHost(argv[2]);
    testing::InitGoogleTest(&argc, argv);
    std::atomic<bool> stop{false};
    std::thread watchdog(WatchForUnansweredBoxes, std::cref(stop));
    const int result = RUN_ALL_TESTS();
    stop = true;
    watchdog.join();
    OleUninitialize();
    return result;
}
