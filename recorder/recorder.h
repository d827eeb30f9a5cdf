// The recorder: Record, Play and Stop on the audio control that lives on the About window, and after
// a recording the compression and the attachment. One recorder serves the whole add-in; its state is
// the add-in's RecorderState, which it writes and the add-in reads.
//
// A recording belongs to the mail it was started for, whatever window or pane shows that mail:
// Stop attaches it there. The recorder knows nothing of windows and bars; it tells its owner after
// every change of state, and while it compresses, and the owner shows that wherever it needs to.
//
// Error modes: Record and Stop are continue-on-error (every step runs; buttons and state are set
// whatever the device did); Play is stop-at-first-error (its first failure goes back to the caller).
#pragma once
#include "common/com_object.h"
#include "recorder/recorder_state.h"
#include "recorder/recording_files.h"

namespace pvl {

class MciControl;

// What the bars show: whether Record, Play and Stop are enabled.
struct BarLook {
    bool record, play, stop;
};
inline constexpr BarLook kBarsBusy{false, false, true};       // recording or playing
inline constexpr BarLook kBarsIdle{true, true, false};        // after Stop
inline constexpr BarLook kBarsNothingToPlay{true, false, false};  // a new bar; a recording that failed

// What the recorder asks of the add-in around it.
class RecorderOwner {
public:
    // Every bar shows `look`. With `stopAtFirstError` the first failing put ends it and is returned;
    // otherwise every put is tried.
    virtual HRESULT ShowOnBars(BarLook look, bool stopAtFirstError) = 0;
    // The state changed (a recording or playback started or ended).
    virtual void RecorderChanged() = 0;
    // Compression starts (true) or ends (false): the product buttons say so meanwhile.
    virtual void ShowCompressing(bool compressing) = 0;

protected:
    ~RecorderOwner() = default;
};

class Recorder {
public:
    Recorder(pvlStates& state, RecorderOwner& owner) : state_(state), owner_(owner) {}

    pvlStates State() const { return state_; }
    bool IsRecording() const { return state_ == pvlRecording || state_ == pvlRecordPause; }
    bool IsBusy() const { return state_ != pvlNone; }
    // The mail the last recording belongs to (Stop attaches to it; Play plays it).
    IDispatch* RecordingMail() const { return recordingMail_.Get(); }
    // The mail the recorder records or plays for now.
    IDispatch* BusyFor() const { return IsBusy() ? busyFor_.Get() : nullptr; }
    // Whether a recording runs for `mailItem`.
    bool RecordsFor(IDispatch* mailItem) const;
    // Whether a recording runs for a mail other than `mailItem`: a Record or Play for that mail would
    // reopen the device and throw the other mail's recording away.
    bool RecordsForAnotherMail(IDispatch* mailItem) const;

    // How long the running recording has gone on, and how long the last one of RecordingMail() was
    // (0 when it has none), in milliseconds of the user's time.
    ULONGLONG ElapsedMs() const { return IsRecording() ? GetTickCount64() - startedAt_ : 0; }
    ULONGLONG LastLengthMs() const { return IsRecording() ? 0 : lastLengthMs_; }

    // Records a voice message for `mailItem` (continue-on-error). When the earlier recording cannot be
    // removed, or the device cannot record, nothing is recorded: the user is told, and the recorder
    // is idle.
    HRESULT Record(IDispatch* mailItem);
    // Plays the last recording, for the window of `mailItem` (stop-at-first-error).
    HRESULT Play(IDispatch* mailItem);
    // Stops what runs; after a recording, saves, compresses and attaches it to its mail
    // (continue-on-error). S_OK unless a recording ended without reaching its mail.
    HRESULT Stop();
    // The recording's mail is going away (it was sent, or closed): the recorder lets go of it.
    void ForgetMail(IDispatch* mailItem);

private:
    HRESULT RemoveEarlierRecording();
    HRESULT CannotStart();
    HRESULT CompressAndAttach();

    pvlStates& state_;
    RecorderOwner& owner_;
    RecordingFiles files_;  // the current recording's, resolved when it started
    ComPtr<IDispatch> recordingMail_;
    ComPtr<IDispatch> busyFor_;
    bool stopping_ = false;
    ULONGLONG startedAt_ = 0, lastLengthMs_ = 0;
};

}  // namespace pvl
