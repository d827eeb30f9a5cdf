#include "audio/mci_control.h"
#include "common/module.h"
#include <mmsystem.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>
#include <vector>

namespace pvl {

namespace {
constexpr wchar_t kNotifyWindowClass[] = L"ParvalineMciNotify";

const DispMember kMembers[] = {
    {L"DeviceType", mci_dispid::DeviceType}, {L"FileName", mci_dispid::FileName},
    {L"Command", mci_dispid::Command},       {L"TimeFormat", mci_dispid::TimeFormat},
    {L"Error", mci_dispid::Error},           {L"ErrorMessage", mci_dispid::ErrorMessage},
    {L"DeviceID", mci_dispid::DeviceID},
};

// --- The driver's recording threads ---------------------------------------------------------------
// The driver may record on a thread of its own that outlives "stop ... wait": Wine's answers as soon
// as it has asked its recording thread to end, and that thread then still writes the last buffers
// into the file and closes the wave device. A "save" or "close" meanwhile races it: the process
// could fault, or the file stay open. So the threads that start in the driver's module while a
// recording runs are noted as they start, and stopping waits, briefly, until they have ended.
//
// The loader tells every module of each new thread, on that thread, before the thread's own code
// runs; a TLS callback hears it both in the DLL and in the programs the device layer is linked into.
// It runs under the loader lock, for every thread the process starts, so it does little: one flag
// read while no recording runs; otherwise the thread's start address, and a handle on the thread if
// that lies in the driver's module. The lock below is held elsewhere only for a few stores, never
// across a wait or a call out.
struct DriverThreads {
    SRWLOCK lock;
    const void* owner;       // the control whose recording runs; one at a time (the device serves one)
    ULONG_PTR begin, end;    // the driver module's image
    DWORD count;
    HANDLE threads[MAXIMUM_WAIT_OBJECTS];
};
// Constant-initialized: the loader may call back before any constructor of this module has run.
constinit DriverThreads g_driverThreads = {SRWLOCK_INIT, nullptr, 0, 0, 0, {}};
constinit std::atomic<bool> g_watching{false};

using QueryThreadFn = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
constinit std::atomic<QueryThreadFn> g_queryThread{nullptr};
constexpr ULONG kThreadQuerySetWin32StartAddress = 9;

void NTAPI NoteDriverThread(void*, DWORD reason, void*) {
    if (reason != DLL_THREAD_ATTACH || !g_watching.load(std::memory_order_acquire)) return;
    const QueryThreadFn query = g_queryThread.load(std::memory_order_acquire);
    ULONG_PTR start = 0;
    if (!query || query(GetCurrentThread(), kThreadQuerySetWin32StartAddress, &start, sizeof(start), nullptr) < 0)
        return;
    DriverThreads& d = g_driverThreads;
    AcquireSRWLockExclusive(&d.lock);
    if (d.owner && start >= d.begin && start < d.end && d.count < MAXIMUM_WAIT_OBJECTS &&
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &d.threads[d.count], SYNCHRONIZE,
                        FALSE, 0))
        ++d.count;
    ReleaseSRWLockExclusive(&d.lock);
}
// Among the TLS callbacks, after the runtime's own (.CRT$XLC, XLD, XLF) and before the list's end (XLZ).
[[gnu::used, gnu::section(".CRT$XLP")]] const PIMAGE_TLS_CALLBACK kNoteDriverThread = NoteDriverThread;

// The handles noted so far, handed over as owned ones (taken under the lock, wrapped after it).
struct NotedThreads {
    DWORD count = 0;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    void TakeFrom(DriverThreads& d) { std::copy(d.threads, d.threads + (count = std::exchange(d.count, 0)), handles); }
    std::vector<UniqueHandle> Owned() const { return std::vector<UniqueHandle>(handles, handles + count); }
};

// From now until EndDriverWatch, threads that start in `driver` are `owner`'s to wait for.
void WatchDriverThreads(const void* owner, HMODULE driver) {
    if (!driver) return;
    if (!g_queryThread.load(std::memory_order_relaxed))
        g_queryThread.store(reinterpret_cast<QueryThreadFn>(reinterpret_cast<void*>(
                                GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread"))),
                            std::memory_order_release);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(driver);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(driver) + dos->e_lfanew);
    DriverThreads& d = g_driverThreads;
    NotedThreads dropped;
    AcquireSRWLockExclusive(&d.lock);
    if (d.owner != owner) dropped.TakeFrom(d);  // another control's recording, never stopped: no one waits
    d.owner = owner;
    d.begin = reinterpret_cast<ULONG_PTR>(driver);
    d.end = d.begin + nt->OptionalHeader.SizeOfImage;
    ReleaseSRWLockExclusive(&d.lock);
    g_watching.store(true, std::memory_order_release);
    dropped.Owned();  // closed here, outside the lock
}

// Ends `owner`'s watch and hands over the threads it noted.
std::vector<UniqueHandle> EndDriverWatch(const void* owner) {
    DriverThreads& d = g_driverThreads;
    NotedThreads noted;
    AcquireSRWLockExclusive(&d.lock);
    if (d.owner == owner) {
        g_watching.store(false, std::memory_order_relaxed);
        d.owner = nullptr;
        noted.TakeFrom(d);
    }
    ReleaseSRWLockExclusive(&d.lock);
    return noted.Owned();
}

}  // namespace

MciControl::MciControl(std::unique_ptr<MciBackend> backend) : backend_(std::move(backend)) {
    AddConnectionPoint(DIID_DmciEvents);
    wchar_t alias[32];
    swprintf(alias, 32, L"parvaline%p", static_cast<void*>(this));
    alias_ = alias;
}

MciControl::~MciControl() {
    if (open_) CloseDevice();
    EndDriverWatch(this);
    if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    window_.reset();
}

const QITAB* MciControl::Interfaces() {
    static const QITAB table[] = {
        QITABENT(MciControl, IDispatch),
        QITABENTMULTI2(MciControl, IID_Imci, IDispatch),
        QITABENT(MciControl, IConnectionPointContainer),
        {},
    };
    return table;
}

// Made when the device first opens, not with the control: the control is made while the host
// starts and connects its add-ins, which should cost it as little as possible.
HRESULT MciControl::CreateNoticeWindow() {
    if (window_) return S_OK;
    // Registered on first need and unregistered when the module is unloaded. A class that is still
    // there (a host that unloaded us without unregistering, at the same address) has this very
    // window procedure and serves as well.
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = &MciControl::WindowProc;
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = kNotifyWindowClass;
    if (!GetClassInfoExW(ModuleInstance(), kNotifyWindowClass, &wc) && !RegisterClassExW(&wc) &&
        GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return LastErrorResult();
    window_.reset(CreateWindowExW(0, kNotifyWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ModuleInstance(), this));
    return window_ ? S_OK : LastErrorResult();
}

LRESULT CALLBACK MciControl::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MciControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == MM_MCINOTIFY && self) {
        // Only the device that is open now reports: a notice from a device closed since belongs
        // to a command that is no longer anyone's concern.
        if (self->open_ && static_cast<UINT>(lp) == self->deviceId_) {
            ComPtr<IDispatch> keep(self);
            self->RaiseDone(static_cast<short>(wp));
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

std::span<const DispMember> MciControl::Members() const { return kMembers; }

HRESULT MciControl::InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    switch (id) {
        case mci_dispid::Command:
        case mci_dispid::Command_Default:
            if (IsPut(flags)) {
                std::wstring word;
                RETURN_IF_FAILED(GetPutString(params, &word));
                return Command(word);
            }
            return ReturnString(L"", result);
        case mci_dispid::FileName:
            if (IsPut(flags)) {
                std::wstring name;
                RETURN_IF_FAILED(GetPutString(params, &name));
                return SetFileName(name);
            }
            return ReturnString(fileName_, result);
        case mci_dispid::DeviceType:
            if (IsPut(flags)) return GetPutString(params, &deviceType_);
            return ReturnString(deviceType_, result);
        case mci_dispid::TimeFormat:
            // Kept, not applied: nothing in the add-in reads positions or lengths.
            if (IsPut(flags)) {
                long format = 0;
                RETURN_IF_FAILED(GetPutLong(params, &format));
                return SetTimeFormat(format);
            }
            return ReturnLong(timeFormat_, result);
        case mci_dispid::Error:
            return IsPut(flags) ? DISP_E_MEMBERNOTFOUND : ReturnLong(static_cast<long>(lastError_), result);
        case mci_dispid::ErrorMessage: {
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            wchar_t text[256] = L"";
            if (lastError_) mciGetErrorStringW(lastError_, text, 256);
            return ReturnString(text, result);
        }
        case mci_dispid::DeviceID:
            return IsPut(flags) ? DISP_E_MEMBERNOTFOUND : ReturnLong(open_ ? static_cast<long>(deviceId_) : 0, result);
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

// --- The typed face: the same operations as the automation members, without dispatch ids ---------------

HRESULT MciControl::SetFileName(const std::wstring& file) {
    fileName_ = file;
    if (observer_) observer_(L"FileName=" + fileName_);
    return S_OK;
}

HRESULT MciControl::SetTimeFormat(long format) {
    // Kept, not applied: nothing in the add-in reads positions or lengths.
    timeFormat_ = format;
    if (observer_) observer_(L"TimeFormat=" + std::to_wstring(timeFormat_));
    return S_OK;
}

HRESULT MciControl::Command(const std::wstring& word) {
    if (observer_) observer_(L"Command=" + word);
    return RunCommand(word);
}

HRESULT MciControl::Open(const std::wstring& file) {
    RETURN_IF_FAILED(SetFileName(file));
    return Command(L"open");
}

HRESULT MciControl::Save(const std::wstring& file) {
    RETURN_IF_FAILED(SetFileName(file));
    return Command(L"save");
}

HRESULT MciControl::Send(const std::wstring& command) {
    lastError_ = backend_->Send(command, window_.get());
    return HResultFromMci(lastError_);
}

HRESULT MciControl::RunCommand(const std::wstring& word) {
    auto is = [&](const wchar_t* w) { return CompareStringOrdinal(word.c_str(), -1, w, -1, TRUE) == CSTR_EQUAL; };
    const std::wstring quotedFile = L" \"" + fileName_ + L"\"";
    if (is(L"open")) return OpenDevice();
    if (is(L"close")) return CloseDevice();
    if (is(L"record")) {
        // Stopping waits for the driver's threads that start from here on (see StopRecording).
        WatchDriverThreads(this, backend_->DriverModule());
        const HRESULT hr = Send(L"record " + alias_);
        if (FAILED(hr)) {
            if (!recording_) EndDriverWatch(this);
            return hr;
        }
        recorded_ = recording_ = true;
        return S_OK;
    }
    if (is(L"play")) {
        // A new recording with nothing in it yet: FileName named no file, and there is nothing to
        // play. Said here because drivers differ (some play the empty element, some refuse it).
        if (open_ && newElement_ && !recorded_) {
            lastError_ = MCIERR_FILE_NOT_FOUND;
            return HResultFromMci(lastError_);
        }
        return Send(L"play " + alias_ + L" notify");
    }
    if (is(L"stop")) return StopRecording();
    if (is(L"save")) return Send(L"save " + alias_ + quotedFile + L" wait");
    lastError_ = MCIERR_UNRECOGNIZED_COMMAND;
    return HResultFromMci(lastError_);
}

HRESULT MciControl::OpenDevice() {
    if (open_) Guarded(CloseDevice());
    RETURN_IF_FAILED(CreateNoticeWindow());
    const bool existing = GetFileAttributesW(fileName_.c_str()) != INVALID_FILE_ATTRIBUTES;
    const std::wstring open = existing
        ? L"open \"" + fileName_ + L"\" type " + deviceType_ + L" alias " + alias_ + L" wait"
        : L"open new type " + deviceType_ + L" alias " + alias_ + L" buffer 4 wait";
    RETURN_IF_FAILED(Send(open));
    open_ = true;
    newElement_ = !existing;
    recorded_ = false;
    deviceId_ = backend_->DeviceId(alias_);
    DropPendingNotifications();
    if (existing) return S_OK;
    // A new recording: the whole format in one command, since MCI would otherwise record 8-bit
    // 11 kHz, and a partial change can leave an inconsistent format behind.
    wchar_t format[200];
    swprintf(format, 200,
             L"set %ls format tag pcm channels %u samplespersec %lu bitspersample %u bytespersec %lu alignment %u wait",
             alias_.c_str(), kRecordChannels, kRecordSampleRate, kRecordBitsPerSample,
             kRecordSampleRate * kRecordChannels * kRecordBitsPerSample / 8u, kRecordChannels * kRecordBitsPerSample / 8u);
    return Send(format);
}

HRESULT MciControl::StopRecording() {
    const HRESULT hr = Send(L"stop " + alias_ + L" wait");
    // A device that refused to stop records on: the watch goes on until it stops or closes.
    if (recording_ && SUCCEEDED(hr)) AwaitDriverThreads();
    return hr;
}

// Waits until the driver's threads that came with the recording have ended (see WatchDriverThreads),
// for at most kRecordEndPatienceMs: a driver thread that lives on delays Stop by no more.
void MciControl::AwaitDriverThreads() {
    recording_ = false;
    const std::vector<UniqueHandle> threads = EndDriverWatch(this);
    std::vector<HANDLE> handles;
    for (const UniqueHandle& h : threads) handles.push_back(h.get());
    if (!handles.empty())
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, kRecordEndPatienceMs);
}

HRESULT MciControl::CloseDevice() {
    // A recording is stopped, and its driver's threads waited for, before the device closes.
    if (recording_) Guarded(StopRecording());
    const HRESULT hr = Send(L"close " + alias_ + L" wait");
    if (recording_) {  // it refused to stop; closing ended it
        recording_ = false;
        EndDriverWatch(this);
    }
    if (SUCCEEDED(hr) || open_) {
        open_ = false;
        deviceId_ = 0;
        DropPendingNotifications();
    }
    return hr;
}

void MciControl::DropPendingNotifications() {
    MSG msg;
    if (window_)
        while (PeekMessageW(&msg, window_.get(), MM_MCINOTIFY, MM_MCINOTIFY, PM_REMOVE)) {
        }
}

HRESULT MciControl::RaiseDone(short notifyCode) {
    VARIANT arg;
    arg.vt = VT_I2 | VT_BYREF;
    arg.piVal = &notifyCode;
    return FireEvent(DIID_DmciEvents, mci_dispid::Done, &arg, 1);
}

HRESULT MciControl::RaisePlayCompleted(long errorCode) {
    VARIANT arg;
    arg.vt = VT_I4 | VT_BYREF;
    arg.plVal = &errorCode;
    return FireEvent(DIID_DmciEvents, mci_dispid::PlayCompleted, &arg, 1);
}

void UnregisterMciWindowClass() { UnregisterClassW(kNotifyWindowClass, ModuleInstance()); }

HRESULT CreateMciControl(ComPtr<MciControl>* out) {
    PVL_COM_TRY
    auto control = MakeComObject<MciControl>(MakeMciBackend());
    if (!control) return E_OUTOFMEMORY;
    *out = control;
    return S_OK;
    PVL_COM_CATCH
}

}  // namespace pvl
