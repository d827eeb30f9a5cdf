#include "about/links.h"
#include "common/module.h"
#include <shellapi.h>
#include <string>

namespace pvl {

namespace {
constexpr wchar_t kHomepage[] = L"https://www.parvaline.example/";
constexpr wchar_t kSupportMail[] = L"mailto:support@parvaline.example";
constexpr wchar_t kHelpSuffix[] = L"\\Help\\index.htm";

// The wide-character entry point: the component's folder may hold characters that the ANSI code
// page cannot represent, and the ANSI call would turn them into '?' and miss the file.
// Shown normally: a browser or mail program that is not running yet starts with the show command
// it is given, and started hidden the press would seem to do nothing.
// The result is deliberately not examined: the shell tells the user about its own failures.
void OpenTarget(const wchar_t* target) {
    ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, SW_SHOWNORMAL);
}
}  // namespace

void OpenHomepage() { OpenTarget(kHomepage); }

void OpenSupportEmail() { OpenTarget(kSupportMail); }

void OpenHelp() {
    // Built afresh at each call: the help that opens is always the one beside the loaded module.
    std::wstring path;
    if (FAILED(ComponentPath(kHelpSuffix, &path))) return;
    OpenTarget(path.c_str());
}

}  // namespace pvl
