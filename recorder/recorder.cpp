#include "recorder/recorder.h"
#include "about/about_window.h"
#include "common/dispatch_call.h"
#include "common/result.h"
#include "recorder/compression.h"
#include "recorder/recording_checks.h"
#include "recorder/user_messages.h"

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
    // Continue-on-error, but for what would make the recording a lie: an earlier recording that
    // cannot be removed, or a device that cannot record. The user is told, and the recorder stays
    // (or goes back to) idle: nothing is recorded that Stop would attach as this mail's voice.
    //
    // A recording that runs for another mail is that mail's voice message: starting again here
    // would delete and reopen it, and it would be lost.
    if (RecordsForAnotherMail(mailItem)) return S_OK;
    RecordingFiles files;
    Guarded(ResolveRecordingFiles(&files));
    files_ = files;
    Guarded(CreateRecordingFolder(files_));
    if (FAILED(RemoveEarlierRecording())) return S_OK;
    const HRESULT opened = OnDevice([&](MciControl& d) { return d.Open(files_.wave); });
    if (SUCCEEDED(opened)) Guarded(OnDevice([](MciControl& d) { return d.SetTimeFormat(1); }));
    const HRESULT started = FAILED(opened) ? opened : OnDevice([](MciControl& d) { return d.Record(); });
    if (FAILED(started)) return CannotStart();
    Guarded(owner_.ShowOnBars(kBarsBusy, false));
    recordingMail_ = mailItem;
    busyFor_ = mailItem;
    startedAt_ = GetTickCount64();
    lastLengthMs_ = 0;
    state_ = pvlRecording;
    owner_.RecorderChanged();
    return S_OK;
}

HRESULT Recorder::RemoveEarlierRecording() {
    // The device records into the file it finds: an earlier recording left in place would become
    // the start of this one, and a failed save would send it as this mail's voice.
    if (DeleteFileW(files_.wave.c_str())) return S_OK;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return S_OK;
    // The add-in's own device may be what holds it (a playback): it lets go first.
    if (IsBusy()) {
        Guarded(OnDevice([](MciControl& d) { return d.Close(); }));
        if (DeleteFileW(files_.wave.c_str())) return S_OK;
        error = GetLastError();
    }
    Guarded(TellUser(RecordingHeldText(files_.wave, ProgramsUsing(files_.wave))));
    return HRESULT_FROM_WIN32(error);
}

HRESULT Recorder::CannotStart() {
    // Whatever the device opened goes; the earlier recording is gone already, so nothing is left to
    // play either.
    Guarded(OnDevice([](MciControl& d) { return d.Close(); }));
    Guarded(TellUser(kCannotStartText));
    Guarded(owner_.ShowOnBars(kBarsNothingToPlay, false));
    recordingMail_.Reset();
    busyFor_.Reset();
    lastLengthMs_ = 0;
    state_ = pvlNone;
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
    RETURN_IF_FAILED(owner_.ShowOnBars(kBarsBusy, true));
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
    if (row.compressAndAttach) lastLengthMs_ = GetTickCount64() - startedAt_;
    HRESULT attached = S_OK;
    if (row.sendStop) Guarded(OnDevice([](MciControl& d) { return d.Stop(); }));
    if (row.compressAndAttach) attached = CompressAndAttach();
    Guarded(OnDevice([](MciControl& d) { return d.Close(); }));
    Guarded(owner_.ShowOnBars(kBarsIdle, false));
    state_ = pvlNone;
    busyFor_.Reset();
    owner_.RecorderChanged();
    return attached;
}

void Recorder::ForgetMail(IDispatch* mailItem) {
    if (IsBusy() && SameObject(busyFor_.Get(), mailItem)) return;  // still in use: Stop lets go
    if (SameObject(recordingMail_.Get(), mailItem)) {
        recordingMail_.Reset();
        lastLengthMs_ = 0;
    }
}

HRESULT Recorder::CompressAndAttach() {
    // Continue-on-error, inside Stop: save, compress, attach; the outcome is whether the mail got
    // this recording as its voice attachment. The mail is held here: a handler run meanwhile may
    // let go of it elsewhere.
    const ComPtr<IDispatch> mail = recordingMail_;
    // Without a saved recording there is nothing of this one to encode: whatever lies at the wave's
    // path is not it.
    const HRESULT saved = OnDevice([&](MciControl& d) { return d.Save(files_.wave); });
    HRESULT encoded = saved;
    if (SUCCEEDED(saved)) {
        owner_.ShowCompressing(true);
        DWORD waitResult;
        encoded = RunEncoder(files_, &waitResult);
        owner_.ShowCompressing(false);
    }
    const HRESULT attached = FAILED(encoded) ? encoded : AttachVoice(mail.Get(), files_.mp3);
    if (FAILED(attached)) {
        // Said out loud: a mail that silently lacks its voice reads as one that carries it. The
        // recording itself is kept where there is one, and the box says where.
        Guarded(TellUser(NotAttachedMessage(files_.wave)));
    } else if (IsSilentWave(files_.wave)) {
        // Attached all the same: the user decides. But a muted microphone, or Windows keeping desktop
        // programs from it, records silence without an error anywhere.
        Guarded(TellUser(kSilentText));
    }
    return attached;
}

}  // namespace pvl
