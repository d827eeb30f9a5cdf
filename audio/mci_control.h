// The audio control: the add-in's own stand-in for the Multimedia Control, driving the MCI
// wave-audio device. It answers the control's automation members by their dispatch ids and raises
// its events (Done, PlayCompleted) through a connection point. Completion notices arrive as
// MM_MCINOTIFY on a message-only window, made when the device first opens, so events are raised
// from the thread's message loop.
//
// Commands, assigned to Command:
//   open    opens FileName on the device; a FileName with no file behind it starts a new recording
//           (16 kHz, 16-bit mono PCM) that a later "save" writes to FileName. An open device is
//           closed first.
//   record  starts recording and returns; play starts playback and returns, and Done reports its end
//           (a new recording that was never recorded into has nothing to play: file not found)
//   stop, save, close   wait for the device and report nothing; "stop" after "record" also waits,
//           briefly, for the driver's recording threads to end, and "close" stops a recording first
#pragma once
#include "common/connection_point.h"
#include "common/dispatch_impl.h"
#include "common/raii.h"
#include "audio/mci_backend.h"
#include <functional>
#include <memory>
#include <vector>
#include <string>

namespace pvl {

// The control's event interface and members, with the Multimedia Control's ids.
inline constexpr IID DIID_DmciEvents = {0xC1A8AF27, 0x1257, 0x101B, {0x8F, 0xB0, 0x00, 0x20, 0xAF, 0x03, 0x9C, 0xA3}};
inline constexpr IID IID_Imci = {0xB7ABC220, 0xDF71, 0x11CF, {0x8E, 0x74, 0x00, 0xA0, 0xC9, 0x0F, 0x26, 0xF8}};

namespace mci_dispid {
inline constexpr DISPID Command_Default = 0;
inline constexpr DISPID DeviceType = 21;
inline constexpr DISPID FileName = 22;
inline constexpr DISPID Command = 23;
inline constexpr DISPID ErrorMessage = 28;
inline constexpr DISPID Mode = 35;
inline constexpr DISPID TimeFormat = 39;
inline constexpr DISPID Error = 53;
inline constexpr DISPID DeviceID = 54;
// Events
inline constexpr DISPID PlayCompleted = 30;
inline constexpr DISPID Done = 38;
}  // namespace mci_dispid

// The recording format: wideband speech. 16 kHz keeps everything up to 8 kHz, where the
// consonants that make speech intelligible lie, at a quarter of CD rate.
inline constexpr DWORD kRecordSampleRate = 16000;
inline constexpr WORD kRecordBitsPerSample = 16;
inline constexpr WORD kRecordChannels = 1;

// How long stopping a recording waits for the driver's recording thread to end.
inline constexpr DWORD kRecordEndPatienceMs = 1000;

// An MCI error as a failure result.
inline HRESULT HResultFromMci(DWORD mciError) {
    return mciError ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0200 + (mciError & 0xFFFF)) : S_OK;
}

class MciControl : public DispatchImpl<IDispatch>, public ConnectionPoints {
public:
    explicit MciControl(std::unique_ptr<MciBackend> backend);
    ~MciControl();
    static const QITAB* Interfaces();
    PVL_DECLARE_IUNKNOWN;

    // The typed face the recorder uses: each is the automation operation of the same name, observed
    // the same way. Open and Save set FileName first.
    HRESULT Open(const std::wstring& file);
    HRESULT SetTimeFormat(long format);
    HRESULT Record() { return Command(L"record"); }
    HRESULT Play() { return Command(L"play"); }
    HRESULT Stop() { return Command(L"stop"); }
    HRESULT Save(const std::wstring& file);
    HRESULT Close() { return Command(L"close"); }

    // Raises PlayCompleted, as the control does when its own Play button's command ends. This
    // control shows no buttons; the host's user interface or a test calls it.
    HRESULT RaisePlayCompleted(long errorCode);
    bool IsOpen() const { return open_; }
    // Hears every automation operation as "Member=value" or "Command=word" (diagnostics and tests).
    void SetObserver(std::function<void(const std::wstring&)> observer) { observer_ = std::move(observer); }

protected:
    std::span<const DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    HRESULT SetFileName(const std::wstring& file);
    HRESULT Command(const std::wstring& word);
    HRESULT RunCommand(const std::wstring& word);
    HRESULT OpenDevice();
    HRESULT CloseDevice();
    HRESULT StopRecording();
    void AwaitDriverThreads();
    HRESULT CreateNoticeWindow();
    HRESULT Send(const std::wstring& command);
    void DropPendingNotifications();
    HRESULT RaiseDone(short notifyCode);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    std::unique_ptr<MciBackend> backend_;
    UniqueHwnd window_;
    std::wstring alias_;
    std::wstring deviceType_ = L"WAVEAudio";
    std::wstring fileName_ = L"Parvaline.wav";
    long timeFormat_ = 0;
    bool open_ = false;
    bool newElement_ = false;  // opened on a missing file: a new recording
    bool recorded_ = false;    // "record" was sent since the last "open"
    bool recording_ = false;   // ...and no "stop" has ended it yet
    UINT deviceId_ = 0;
    DWORD lastError_ = 0;
    std::function<void(const std::wstring&)> observer_;
};

// Creates a control with this module's backend.
HRESULT CreateMciControl(ComPtr<MciControl>* out);
// When the module is unloaded: the notice window's class would otherwise outlive its procedure.
void UnregisterMciWindowClass();

}  // namespace pvl
