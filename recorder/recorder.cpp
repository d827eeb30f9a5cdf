#include "recorder/recorder.h"
#include "about/about_window.h"
#include "common/dispatch_call.h"
#include "common/result.h"
#include "recorder/compression.h"

namespace pvl {

namespace {
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

constexpr wchar_t kTitle[] = L"Parvaline";

// The device is reached through the window at every step, the add-in's one path to it.
HRESULT Device(MciControl** device) {
    AboutWindow* about = nullptr;
    RETURN_IF_FAILED(frmAbout(&about));
    if (!about->mciControl()) return E_POINTER;
    *device = about->mciControl();
    return S_OK;
}

// One device operation: `op` runs on the control if there is one.
template <class Op>
HRESULT OnDevice(Op op) {
    MciControl* device = nullptr;
    RETURN_IF_FAILED(Device(&device));
    ComPtr<MciControl> keep(device);  // a handler run meanwhile must not take it away
    return op(*device);
}
}  // namespace

bool Recorder::RecordsFor(IDispatch* mailItem) const {
    return IsRecording() && recordingMail_ && SameObject(recordingMail_.Get(), mailItem);
}

bool Recorder::RecordsForAnotherMail(IDispatch* mailItem) const {
    return IsRecording() && recordingMail_ && !SameObject(recordingMail_.Get(), mailItem);
}

HRESULT Recorder::Record(IDispatch* mailItem) {
    // Continue-on-error. A recording that runs for another mail is that mail's voice message:
    // starting again here would delete and reopen it, and it would be lost.
    if (RecordsForAnotherMail(mailItem)) return S_OK;
    RecordingFiles files;
    Guarded(ResolveRecordingFiles(&files));
    files_ = files;
    Guarded(CreateRecordingFolder(files_));
    Guarded(BoolResult(DeleteFileW(files_.wave.c_str())));
    Guarded(OnDevice([&](MciControl& d) { return d.Open(files_.wave); }));
    Guarded(OnDevice([](MciControl& d) { return d.SetTimeFormat(1); }));
    Guarded(OnDevice([](MciControl& d) { return d.Record(); }));
    Guarded(owner_.ShowOnBars(true, false));
    recordingMail_ = mailItem;
    busyFor_ = mailItem;
    state_ = pvlRecording;
    owner_.RecorderChanged();
    return S_OK;
}

HRESULT Recorder::Play(IDispatch* mailItem) {
    // Stop-at-first-error. Playing reopens the device, which would end another mail's recording
    // without saving it.
    if (RecordsForAnotherMail(mailItem)) return S_OK;
    RecordingFiles files;
    RETURN_IF_FAILED(ResolveRecordingFiles(&files));
    RETURN_IF_FAILED(OnDevice([&](MciControl& d) { return d.Open(files.wave); }));
    RETURN_IF_FAILED(OnDevice([](MciControl& d) { return d.SetTimeFormat(1); }));
    RETURN_IF_FAILED(OnDevice([](MciControl& d) { return d.Play(); }));
    RETURN_IF_FAILED(owner_.ShowOnBars(true, true));
    state_ = pvlPlaying;
    busyFor_ = mailItem;
    owner_.RecorderChanged();
    return S_OK;
}

HRESULT Recorder::Stop() {
    // Continue-on-error: every step runs; only the attachment's outcome is reported. A Stop asked
    // for while one runs (a window closed while the product button says "Compressing, wait...")
    // leaves the work to the one that runs.
    if (stopping_) return S_OK;
    stopping_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{stopping_};
    const StopRow& row = StopRowFor(state_);
    HRESULT attached = S_OK;
    if (row.sendStop) Guarded(OnDevice([](MciControl& d) { return d.Stop(); }));
    if (row.compressAndAttach) attached = CompressAndAttach();
    Guarded(OnDevice([](MciControl& d) { return d.Close(); }));
    Guarded(owner_.ShowOnBars(false, false));
    state_ = pvlNone;
    busyFor_.Reset();
    owner_.RecorderChanged();
    return attached;
}

void Recorder::ForgetMail(IDispatch* mailItem) {
    if (IsBusy() && SameObject(busyFor_.Get(), mailItem)) return;  // still in use: Stop lets go
    if (SameObject(recordingMail_.Get(), mailItem)) recordingMail_.Reset();
}

HRESULT Recorder::CompressAndAttach() {
    // Continue-on-error, inside Stop: save, compress, attach; the outcome is whether the mail got
    // this recording as its voice attachment. The mail is held here: a handler run meanwhile may
    // let go of it elsewhere.
    const ComPtr<IDispatch> mail = recordingMail_;
    Guarded(OnDevice([&](MciControl& d) { return d.Save(files_.wave); }));
    owner_.ShowCompressing(true);
    const HRESULT encoded = [&] {
        DWORD waitResult;
        return RunEncoder(files_, &waitResult);
    }();
    owner_.ShowCompressing(false);
    const HRESULT attached = [&] {
        // When the encoder did not run to its end, whatever is at the MP3 path is not this
        // recording: an earlier MP3 that could not be removed (read-only, or held open by
        // another program) would otherwise go out as this one.
        RETURN_IF_FAILED(encoded);
        return AttachVoice(mail.Get(), files_.mp3);
    }();
    if (FAILED(attached)) {
        // Said out loud: a mail that silently lacks its voice reads as one that carries it. The
        // recording itself is kept, and the box says where.
        if (MessageBoxW(nullptr, NotAttachedMessage(files_.wave).c_str(), kTitle, MB_OK | MB_TASKMODAL) == 0)
            Guarded(LastErrorResult());
    }
    return attached;
}

}  // namespace pvl
