// The files of a recording. They are resolved once, when a recording or a playback starts, and
// handed down to every step that uses them, so that one recording never mixes two folders.
//
// The encoder and LAME's library lie beside the component. The recordings lie beside it too when the
// component is installed inside the user's own profile (a per-user installation). Otherwise (a
// per-machine installation under Program Files, which users cannot write to and all users of the
// machine would share) they go to the user's own %LOCALAPPDATA%\Parvaline, created when first needed.
#pragma once
#include <windows.h>
#include <string>

namespace pvl {

struct RecordingFiles {
    std::wstring folder;   // where the recordings are kept
    std::wstring wave;     // the recording, "Parvaline.wav"
    std::wstring mp3;      // its compressed copy, the attachment "Parvaline.mp3"
    std::wstring encoder;  // lame.exe beside the component
    std::wstring library;  // libmp3lame.dll beside the component, for encoding in process
};

// From the component's folder as the system reports it now.
HRESULT ResolveRecordingFiles(RecordingFiles* files);

// The recordings' folder for a component in `componentFolder`: that folder itself when it lies inside
// `profile`, else `localAppData`\Parvaline.
std::wstring RecordingFolderFor(const std::wstring& componentFolder, const std::wstring& profile,
                                const std::wstring& localAppData);

// The recordings' folder for a component in `componentFolder`, with this user's profile and
// %LOCALAPPDATA% as the system reports them.
std::wstring RecordingFolderForComponent(const std::wstring& componentFolder);

// Makes sure the recordings' folder exists.
HRESULT CreateRecordingFolder(const RecordingFiles& files);

}  // namespace pvl
