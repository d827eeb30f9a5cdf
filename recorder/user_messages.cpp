#include "recorder/user_messages.h"
#include "common/result.h"

namespace pvl {

std::wstring RecordingHeldText(const std::wstring& wavePath, const std::vector<std::wstring>& programs) {
    std::wstring who;
    for (size_t i = 0; i < programs.size(); ++i) {
        if (i) who += i + 1 == programs.size() ? L" and " : L", ";
        who += programs[i];
    }
    const std::wstring holder = who.empty() ? L"another program (a media player, a scanner or a backup)" : who;
    return L"Nothing was recorded: the earlier recording is still open in " + holder + L", and a new one cannot "
           L"take its place. Close " + (who.empty() ? std::wstring(L"that program") : who) +
           L", then press Record again.\n\n" + wavePath;
}

HRESULT TellUser(const std::wstring& text) {
    return MessageBoxW(nullptr, text.c_str(), L"Parvaline", MB_OK | MB_ICONWARNING | MB_TASKMODAL) ? S_OK
                                                                                                   : LastErrorResult();
}

}  // namespace pvl
