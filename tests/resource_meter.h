// What the add-in could cost its host process, read from the system: private bytes, kernel handles,
// GDI and USER objects, and the simulated host's live objects and advised sinks. Shared by the
// tests and the soak program, so both measure the same way.
//
// Wine answers GetProcessHandleCount and GetGuiResources with 0, and leaves PrivateUsage out, so
// there the counts are taken another way, named in `method`: private bytes by adding up the
// process's committed private regions; kernel handles by asking the system about each handle value in
// turn (Wine hands out the lowest free value, so the table is dense and ends at the first long
// gap); GDI objects from the process's GDI handle table, which Wine lays out as Windows did and
// publishes in the PEB; USER objects as the windows of the process (top-level, child and
// message-only), which are the only USER objects the add-in makes.
#pragma once
#include <windows.h>
#include <winternl.h>
#include <psapi.h>
#include <cstdio>
#include "simhost/simhost.h"

namespace pvltest {

namespace detail {
inline DWORD CountKernelHandles() {
    DWORD n = 0;
    int misses = 0;
    for (ULONG_PTR value = 4; misses < 256; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++n;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return n;
}

inline DWORD CountGdiObjects() {
    struct Entry {  // a cell of the GDI handle table, the same size on both architectures under Wine
        unsigned long long object;
        unsigned int owner;
        unsigned short unique;
        unsigned char type;
        unsigned char flags;
        unsigned long long user;
    };
    const PEB* peb = NtCurrentTeb()->ProcessEnvironmentBlock;
    const size_t offset = sizeof(void*) == 8 ? 0xF8 : 0x94;  // PEB.GdiSharedHandleTable
    const Entry* table = *reinterpret_cast<Entry* const*>(reinterpret_cast<const char*>(peb) + offset);
    if (!table) return 0;
    DWORD n = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (table[i].type) ++n;
    return n;
}

// Committed memory that belongs to this process alone, region by region.
inline SIZE_T CountPrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION m{};
    for (const char* at = nullptr; VirtualQuery(at, &m, sizeof m) == sizeof m;) {
        if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) total += m.RegionSize;
        const char* next = static_cast<const char*>(m.BaseAddress) + m.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

inline BOOL CALLBACK CountWindow(HWND hwnd, LPARAM counter) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId()) ++*reinterpret_cast<DWORD*>(counter);
    return TRUE;
}

inline BOOL CALLBACK CountWindowAndChildren(HWND hwnd, LPARAM counter) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId()) {
        ++*reinterpret_cast<DWORD*>(counter);
        EnumChildWindows(hwnd, &CountWindow, counter);
    }
    return TRUE;
}

inline DWORD CountUserObjects() {
    DWORD n = 0;
    EnumWindows(&CountWindowAndChildren, reinterpret_cast<LPARAM>(&n));
    for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr))
        CountWindowAndChildren(w, reinterpret_cast<LPARAM>(&n));
    return n;
}
}  // namespace detail

struct Resources {
    SIZE_T privateBytes = 0;
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    long hostObjects = 0;
    long advisedSinks = 0;
    const char* method = "system";  // or "counted" where the system's counters answer 0
};

inline Resources MeasureResources() {
    Resources r;
    HANDLE self = GetCurrentProcess();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
        r.privateBytes = memory.PrivateUsage;
    if (r.privateBytes == 0) r.privateBytes = detail::CountPrivateBytes();
    GetProcessHandleCount(self, &r.handles);
    r.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
    r.userObjects = GetGuiResources(self, GR_USEROBJECTS);
    if (r.handles == 0 && r.gdiObjects == 0 && r.userObjects == 0) {
        r.method = "counted";
        r.handles = detail::CountKernelHandles();
        r.gdiObjects = detail::CountGdiObjects();
        r.userObjects = detail::CountUserObjects();
    }
    r.hostObjects = simhost::Host::Get().LiveObjects();
    r.advisedSinks = simhost::Host::Get().AdvisedSinks();
    return r;
}

inline void PrintResources(FILE* out, const char* label, const Resources& r) {
    std::fprintf(out, "%-12s private %8.1f KiB  handles %5lu  GDI %4lu  USER %4lu  host objects %ld  sinks %ld (%s)\n",
                 label, r.privateBytes / 1024.0, static_cast<unsigned long>(r.handles),
                 static_cast<unsigned long>(r.gdiObjects), static_cast<unsigned long>(r.userObjects), r.hostObjects,
                 r.advisedSinks, r.method);
}

}  // namespace pvltest
