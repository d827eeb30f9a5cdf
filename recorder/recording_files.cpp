#include "recorder/recording_files.h"
#include "common/module.h"
#include "common/result.h"
#include <shlobj.h>

namespace pvl {

namespace {
constexpr wchar_t kWaveName[] = L"\\Parvaline.wav";
constexpr wchar_t kMp3Name[] = L"\\Parvaline.mp3";
constexpr wchar_t kEncoderName[] = L"\\lame.exe";
constexpr wchar_t kLibraryName[] = L"\\libmp3lame.dll";
constexpr wchar_t kPerUserFolder[] = L"\\Parvaline";
// The two known folders, by id. Declared here: taking them from the uuid library brings every one of
// its thousands of shell ids into the module.
constexpr KNOWNFOLDERID kProfile = {0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}};
constexpr KNOWNFOLDERID kLocalAppData = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

HRESULT KnownFolder(REFKNOWNFOLDERID id, std::wstring* path) {
    PWSTR found = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &found);
    if (SUCCEEDED(hr) && found) path->assign(found);
    CoTaskMemFree(found);
    return FAILED(hr) ? hr : (path->empty() ? E_FAIL : S_OK);
}

bool SameText(const wchar_t* a, int aLength, const wchar_t* b, int bLength) {
    return CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

// Whether `path` is `folder` or lies below it; case does not matter on Windows' file systems.
bool IsInside(const std::wstring& path, std::wstring folder) {
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (folder.empty() || path.size() < folder.size()) return false;
    if (!SameText(path.c_str(), static_cast<int>(folder.size()), folder.c_str(), static_cast<int>(folder.size())))
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\' || folder.back() == L'\\';
}
}  // namespace

std::wstring RecordingFolderFor(const std::wstring& componentFolder, const std::wstring& profile,
                                const std::wstring& localAppData) {
    if (IsInside(componentFolder, profile) || localAppData.empty()) return componentFolder;
    return localAppData + kPerUserFolder;
}

std::wstring RecordingFolderForComponent(const std::wstring& componentFolder) {
    std::wstring profile, localAppData;
    // Without a profile to compare with, the recordings stay beside the component.
    if (FAILED(KnownFolder(kProfile, &profile)) || FAILED(KnownFolder(kLocalAppData, &localAppData)))
        localAppData.clear();
    return RecordingFolderFor(componentFolder, profile, localAppData);
}

HRESULT ResolveRecordingFiles(RecordingFiles* files) {
    std::wstring component;
    RETURN_IF_FAILED(ComponentFolder(&component));
    RecordingFiles out;
    out.folder = RecordingFolderForComponent(component);
    out.wave = out.folder + kWaveName;
    out.mp3 = out.folder + kMp3Name;
    out.encoder = component + kEncoderName;
    out.library = component + kLibraryName;
    *files = std::move(out);
    return S_OK;
}

HRESULT CreateRecordingFolder(const RecordingFiles& files) {
    if (CreateDirectoryW(files.folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return S_OK;
    return LastErrorResult();
}

}  // namespace pvl
