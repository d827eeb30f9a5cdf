// The soak: one long session of the mail client with the add-in connected throughout, thousands of
// mail windows opened and closed and hundreds of record/stop cycles with a fast stand-in encoder.
// Prints the process's resources at intervals and whether they stayed flat (see
// tests/soak_loop.h for what flat means); the exit code is 1 when they did not.
//   pvl_soak.exe [--windows N] [--record-every K] [--samples S] [--encoder PATH]
// The encoder defaults to the tests' stand-in, ..\tests\fake_lame.exe, put beside this program as
// lame.exe for the run.
#include "soak_loop.h"
#include "recorder/recording_files.h"
#include <objbase.h>
#include <cstdlib>
#include <cwchar>

namespace {
std::wstring Folder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    pvltest::SoakPlan plan;
    std::wstring encoder = Folder() + L"\\..\\tests\\fake_lame.exe";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring a = argv[i];
        if (a == L"--windows") plan.windows = _wtoi(argv[i + 1]);
        else if (a == L"--record-every") plan.recordEvery = _wtoi(argv[i + 1]);
        else if (a == L"--samples") plan.samples = _wtoi(argv[i + 1]);
        else if (a == L"--encoder") encoder = argv[i + 1];
    }
    if (FAILED(OleInitialize(nullptr))) return 2;
    const std::wstring beside = Folder() + L"\\lame.exe";
    if (!CopyFileW(encoder.c_str(), beside.c_str(), FALSE)) {
        std::fprintf(stderr, "no encoder at %ls\n", encoder.c_str());
        return 2;
    }
    SetEnvironmentVariableW(L"PVL_FAKE_LAME", L"encode");
    std::printf("Parvaline soak: %d mail windows, a record/stop cycle in every %d\n", plan.windows, plan.recordEvery);
    std::printf("%-12s\n", "windows/cycles");
    const pvltest::SoakResult run = pvltest::RunSoak(plan, stdout);
    DeleteFileW(beside.c_str());
    pvl::RecordingFiles files;
    if (SUCCEEDED(pvl::ResolveRecordingFiles(&files))) {
        DeleteFileW(files.wave.c_str());
        DeleteFileW(files.mp3.c_str());
    }
    const pvltest::Flatness f = pvltest::JudgeFlatness(run);
    if (run.samples.size() >= 2) {
        const auto& a = run.samples.front().r;
        const auto& b = run.samples.back().r;
        const int windows = run.samples.back().windows - run.samples.front().windows;
        std::printf("from the warm-up sample to the end (%d windows): private bytes %+.1f KiB (%+.1f bytes per "
                    "window), handles %+ld, GDI %+ld, USER %+ld, host objects %+ld, sinks %+ld\n",
                    windows, (double(b.privateBytes) - double(a.privateBytes)) / 1024.0,
                    (double(b.privateBytes) - double(a.privateBytes)) / std::max(1, windows),
                    long(b.handles) - long(a.handles), long(b.gdiObjects) - long(a.gdiObjects),
                    long(b.userObjects) - long(a.userObjects), b.hostObjects - a.hostObjects,
                    b.advisedSinks - a.advisedSinks);
    }
    std::printf("%d windows, %d record/stop cycles (%d attached) in %.1f s (%.2f ms per window)\n", run.windows,
                run.cycles, run.attached, run.seconds, 1000.0 * run.seconds / std::max(1, run.windows));
    std::printf("after release: host objects %ld, advised sinks %ld, add-in objects %ld\n",
                simhost::Host::Get().LiveObjects(), simhost::Host::Get().AdvisedSinks(), pvl::Connect::LiveObjects());
    std::printf("flat: %s\n", f.flat ? "yes" : f.why.c_str());
    OleUninitialize();
    return f.flat && run.attached == run.cycles ? 0 : 1;
}
