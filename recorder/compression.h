// After a recording: the encoder and the attachment, the steps of Stop between "save" and "close".
// Exposed for the recorder, tests and the benchmark.
#pragma once
#include "recorder/recording_files.h"
#include <oaidl.h>

namespace pvl {

// The encoder's command line: the program, then the wave and the MP3, each quoted.
std::wstring EncoderCommandLine(const RecordingFiles& files);
// How long Stop waits for the encoder before it gives up on it, for a wave file of this size.
DWORD EncoderTimeoutMs(const std::wstring& wavePath);
// Replaces the bound (0 restores it): tests that hang the encoder on purpose need not wait minutes.
void OverrideEncoderTimeout(DWORD ms);
// Makes the encoder's process creation fail with `error` (ERROR_SUCCESS restores it), as a PC whose
// policy forbids the mail program to start programs does: tests of the in-process encoder.
void OverrideEncoderStart(DWORD error);
// Removes an earlier MP3, runs the encoder hidden and waits for it (bounded). When the program
// cannot start, or fails (a non-zero exit code, no MP3 or an empty one, the bound reached), encodes
// in process with LAME's library instead (under the same bound). S_OK only with a new MP3; on
// failure nothing is left at the MP3's path.
HRESULT RunEncoder(const RecordingFiles& files, DWORD* waitResult);

// Attaches the MP3 to the mail as its voice message, replacing the earlier one, so that the mail
// keeps one voice attachment.
HRESULT AttachVoice(IDispatch* mailItem, const std::wstring& mp3Path);

// What Stop tells the user when a recording ended but the mail did not receive it: followed by the
// path of the recording, which is kept; or, where there is no recording to keep, that it was lost.
inline constexpr wchar_t kNotAttachedText[] =
    L"The voice message could not be attached to the mail. The recording was kept in:\n";
inline constexpr wchar_t kLostText[] =
    L"The voice message could not be attached to the mail, and the recording was lost. "
    L"Please record it again.";
std::wstring NotAttachedMessage(const std::wstring& wavePath);

}  // namespace pvl
