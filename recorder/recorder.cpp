// The recorder: Record, Play and Stop on the audio control of frmAbout, and the control's events.
// The state is Connect::RecorderState; the buttons are the newest command bar's.
#include "about/about_window.h"
#include "addin/connect.h"
#include "common/host_model.h"
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

bool Connect::RecordingForAnotherMail(IDispatch* mailItem) const {
    return IsRecording() && RecordingMailItem && !SameObject(RecordingMailItem.Get(), mailItem);
}

HRESULT Connect::ButtonRecord_Click(IDispatch*, VARIANT_BOOL*) {
    return StartRecording(CurrentMailInspector.get(), CurrentMailItem.Get());
}

HRESULT Connect::StartRecording(IDispatch* inspector, IDispatch* mailItem) {
    // Continue-on-error. A recording that runs for another mail is that mail's voice message:
    // starting again here would delete and reopen it, and it would be lost.
    if (RecordingForAnotherMail(mailItem)) return S_OK;
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
    // The recording belongs to this mail: its window's close and its Send must reach Stop, whatever
    // windows open later. A connection that cannot be made leaves none, never an older mail's.
    RecordingMailItem = mailItem;
    if (FAILED(RecordingMailInspector.Assign(inspector))) RecordingMailInspector.Clear();
    if (FAILED(RecordingMailItemEvents.Assign(mailItem))) RecordingMailItemEvents.Clear();
    RecorderMailItem = mailItem;
    RecorderState = pvlRecording;
    InvalidateRibbon();
    return S_OK;
}

HRESULT Connect::ButtonPlay_Click(IDispatch*, VARIANT_BOOL*) { return PlayRecording(CurrentMailItem.Get()); }

HRESULT Connect::PlayRecording(IDispatch* mailItem) {
    // Stop-at-first-error. Playing reopens the device, which would end another mail's recording
    // without saving it.
    if (RecordingForAnotherMail(mailItem)) return S_OK;
    RETURN_IF_FAILED(SetRecordingFileName());
    RETURN_IF_FAILED(DeviceCommand(L"open"));
    RETURN_IF_FAILED(SetDeviceProperty39());
    RETURN_IF_FAILED(DeviceCommand(L"play"));
    RETURN_IF_FAILED(Enable(ButtonRecord, false));
    RETURN_IF_FAILED(Enable(ButtonPlay, false));
    RETURN_IF_FAILED(Enable(ButtonStop, true));
    RecorderState = pvlPlaying;
    RecorderMailItem = mailItem;
    InvalidateRibbon();
    return S_OK;
}

HRESULT Connect::ButtonStop_Click(IDispatch*, VARIANT_BOOL*) {
    Guarded(StopRecorder());
    return S_OK;
}

HRESULT Connect::StopRecorder() {
    // Continue-on-error: every step runs; only the attachment's outcome is reported.
    const StopRow& row = StopRowFor(RecorderState);
    HRESULT attached = S_OK;
    if (row.sendStop) Guarded(DeviceCommand(L"stop"));
    if (row.compressAndAttach) attached = CompressAndAttach();
    Guarded(DeviceCommand(L"close"));
    Guarded(Enable(ButtonRecord, true));
    Guarded(Enable(ButtonPlay, true));
    Guarded(Enable(ButtonStop, false));
    RecorderState = pvlNone;
    InvalidateRibbon();
    return attached;
}

HRESULT Connect::RecordingMailInspector_Close() {
    // Continue-on-error. The recording's own window closes while newer windows hold the bar: the
    // recording still goes to its mail before the window is gone. (When it is also the newest
    // window, its own close handler has already run Stop, and there is nothing left to do.)
    if (IsRecording()) Guarded(StopRecorder());
    return S_OK;
}

HRESULT Connect::RecordingMailItem_Send(VARIANT_BOOL* Cancel) {
    // The host raises Send before the mail leaves and its window closes; an attachment added after
    // that is not part of the sent mail. So the recording is stopped and attached now, and if it
    // could not be attached the send is held back: the mail stays open with the user.
    if (!IsRecording()) return S_OK;
    if (FAILED(StopRecorder()) && Cancel) *Cancel = VARIANT_TRUE;
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
