#include "audio/mci_control.h"
#include "common/module.h"
#include "common/system_library.h"
#include <mmsystem.h>
#include <tlhelp32.h>
#include <set>
#include <cstdio>

namespace pvl {

namespace {
constexpr wchar_t kNotifyWindowClass[] = L"ParvalineMciNotify";

const DispMember kMembers[] = {
    {L"DeviceType", mci_dispid::DeviceType}, {L"FileName", mci_dispid::FileName},
    {L"Command", mci_dispid::Command},       {L"TimeFormat", mci_dispid::TimeFormat},
    {L"Error", mci_dispid::Error},           {L"ErrorMessage", mci_dispid::ErrorMessage},
    {L"DeviceID", mci_dispid::DeviceID},
};

}  // namespace

MciControl::MciControl(std::unique_ptr<MciBackend> backend) : backend_(std::move(backend)) {
    AddConnectionPoint(DIID_DmciEvents);
    wchar_t alias[32];
    swprintf(alias, 32, L"parvaline%p", static_cast<void*>(this));
    alias_ = alias;
}

MciControl::~MciControl() {
    if (open_) CloseDevice();
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

HRESULT MciControl::Initialize() {
    // Wine unloads the wave driver when its last device closes, even while the driver's capture or
    // playback thread is still finishing, and the process faults. That thread can outlive this
    // control too, so the driver is pinned for the life of the process. On Windows this only keeps
    // a driver loaded that would be loaded again at the next recording.
    static const bool driverPinned = [] {
        HMODULE driver = LoadSystemLibrary(L"mciwave.dll");
        return driver && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                            reinterpret_cast<LPCWSTR>(driver), &driver);
    }();
    (void)driverPinned;

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
        // Stopping waits for the threads the recording brings to end (see StopRecording).
        const std::set<DWORD> before = ProcessThreads();
        RETURN_IF_FAILED(Send(L"record " + alias_));
        recorded_ = true;
        KeepRecordingThreads(before);
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
    if (SUCCEEDED(hr)) AwaitRecordingThreads();  // a device that refused to stop records on
    return hr;
}

// The threads the process has now, by id.
std::set<DWORD> MciControl::ProcessThreads() {
    std::set<DWORD> ids;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{sizeof(entry)};
    if (!snapshot) return ids;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    return ids;
}

// The driver may record on a thread of its own that outlives "stop ... wait": Wine's answers as
// soon as it has asked its recording thread to end, and that thread then still writes the last
// buffers into the file and closes the wave device. A "save" or "close" meanwhile races it: the
// process could fault, or the file stay open. So the threads that starting the recording brought
// are remembered, and stopping waits, briefly, until one of them has ended. (A driver whose
// threads all outlive the recording costs that wait once; later recordings bring none.)
void MciControl::KeepRecordingThreads(const std::set<DWORD>& before) {
    recordingThreads_.clear();
    for (DWORD id : ProcessThreads()) {
        if (before.count(id) || recordingThreads_.size() >= MAXIMUM_WAIT_OBJECTS) continue;
        if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) recordingThreads_.emplace_back(thread);
    }
}

void MciControl::AwaitRecordingThreads() {
    std::vector<HANDLE> handles;
    for (const UniqueHandle& h : recordingThreads_) handles.push_back(h.get());
    if (!handles.empty())
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, kRecordEndPatienceMs);
    recordingThreads_.clear();
}

HRESULT MciControl::CloseDevice() {
    if (!recordingThreads_.empty()) Guarded(StopRecording());
    const HRESULT hr = Send(L"close " + alias_ + L" wait");
    recordingThreads_.clear();
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
    RETURN_IF_FAILED(control->Initialize());
    *out = control;
    return S_OK;
    PVL_COM_CATCH
}

}  // namespace pvl
