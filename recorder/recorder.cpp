// The recorder: Record, Play and Stop on the audio control of frmAbout, and the control's events.
// The state is Connect::RecorderState; the buttons are the newest command bar's.
#include "about/about_window.h"
#include "addin/connect.h"
#include "addin/host_model.h"
#include "common/dispatch_call.h"
#include "common/module.h"
#include "common/result.h"

namespace pvl {

namespace {
constexpr wchar_t kRecordingSuffix[] = L"\\Parvaline.wav";

// What Stop does in each state before it closes the device.
struct StopRow {
    pvlStates state;
    bool sendStop;
    bool compressAndAttach;
};
constexpr StopRow kStopTable[] = {
    {pvlNone, false, false},
    {pvlPlaying, true, false},
    {pvlRecording, true, true},
    {pvlPlayPause, true, false},
    {pvlRecordPause, true, true},
};

const StopRow& StopRowFor(pvlStates state) {
    for (const StopRow& row : kStopTable)
        if (row.state == state) return row;
    return kStopTable[0];
}

// The control is reached through the window at every step, as the add-in's only path to the device.
HRESULT DeviceControl(ComPtr<IDispatch>* control) {
    AboutWindow* about = nullptr;
    RETURN_IF_FAILED(frmAbout(&about));
    if (!about->mci()) return E_POINTER;
    *control = about->mci();
    return S_OK;
}

HRESULT SetDeviceFileName(const std::wstring& path) {
    ComPtr<IDispatch> control;
    RETURN_IF_FAILED(DeviceControl(&control));
    return PutProperty(control.Get(), mci_dispid::FileName, Variant(path.c_str()));
}

HRESULT DeviceCommand(const wchar_t* word) {
    ComPtr<IDispatch> control;
    RETURN_IF_FAILED(DeviceControl(&control));
    return PutProperty(control.Get(), mci_dispid::Command, Variant(word));
}

// The property with dispatch id 39 (the control's time format) is set to 1 after each open.
HRESULT SetDeviceProperty39() {
    ComPtr<IDispatch> control;
    RETURN_IF_FAILED(DeviceControl(&control));
    return PutProperty(control.Get(), mci_dispid::TimeFormat, Variant(1L));
}

HRESULT SetRecordingFileName() {
    std::wstring path;
    RETURN_IF_FAILED(ComponentPath(kRecordingSuffix, &path));
    return SetDeviceFileName(path);
}

HRESULT Enable(const EventConnection& button, bool enabled) {
    return PutProperty(button.get(), host::dispid::Control_Enabled, Variant(enabled));
}
}  // namespace

HRESULT Connect::ButtonRecord_Click(IDispatch*, VARIANT_BOOL*) {
    // Continue-on-error.
    Guarded([] {
        std::wstring path;
        RETURN_IF_FAILED(ComponentPath(kRecordingSuffix, &path));
        return BoolResult(DeleteFileW(path.c_str()));
    }());
    Guarded(SetRecordingFileName());
    Guarded(DeviceCommand(L"open"));
    Guarded(SetDeviceProperty39());
    Guarded(DeviceCommand(L"record"));
    Guarded(Enable(ButtonRecord, false));
    Guarded(Enable(ButtonPlay, false));
    Guarded(Enable(ButtonStop, true));
    RecorderState = pvlRecording;
    return S_OK;
}

HRESULT Connect::ButtonPlay_Click(IDispatch*, VARIANT_BOOL*) {
    // Stop-at-first-error.
    RETURN_IF_FAILED(SetRecordingFileName());
    RETURN_IF_FAILED(DeviceCommand(L"open"));
    RETURN_IF_FAILED(SetDeviceProperty39());
    RETURN_IF_FAILED(DeviceCommand(L"play"));
    RETURN_IF_FAILED(Enable(ButtonRecord, false));
    RETURN_IF_FAILED(Enable(ButtonPlay, false));
    RETURN_IF_FAILED(Enable(ButtonStop, true));
    RecorderState = pvlPlaying;
    return S_OK;
}

HRESULT Connect::ButtonStop_Click(IDispatch*, VARIANT_BOOL*) {
    // Continue-on-error.
    const StopRow& row = StopRowFor(RecorderState);
    if (row.sendStop) Guarded(DeviceCommand(L"stop"));
    if (row.compressAndAttach) Guarded(CompressAndAttach());
    Guarded(DeviceCommand(L"close"));
    Guarded(Enable(ButtonRecord, true));
    Guarded(Enable(ButtonPlay, true));
    Guarded(Enable(ButtonStop, false));
    RecorderState = pvlNone;
    return S_OK;
}

HRESULT Connect::mci_Done(short) {
    // Stop-at-first-error; Stop itself runs in its own continue-on-error mode.
    VARIANT_BOOL cancelDefault = VARIANT_TRUE;
    return ButtonStop_Click(ButtonStop.get(), &cancelDefault);
}

HRESULT Connect::mci_PlayCompleted(long) {
    // Stop-at-first-error. The state and the device stay as they are.
    RETURN_IF_FAILED(Enable(ButtonRecord, true));
    RETURN_IF_FAILED(Enable(ButtonPlay, true));
    RETURN_IF_FAILED(Enable(ButtonStop, false));
    // Task-modal, as a message of the host application's own; the box has no title of its own,
    // so it carries the product's name rather than the system's default "Error".
    if (MessageBoxW(nullptr, L"end", L"Parvaline", MB_OK | MB_TASKMODAL) == 0) return LastErrorResult();
    return S_OK;
}

}  // namespace pvl
