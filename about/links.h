// The About window's links: each hands one target to the Windows shell, which opens it with the
// program the user has chosen for it (browser, mail program). They do not wait for that program,
// keep nothing and report nothing: whatever goes wrong, the shell's own message is all the user
// sees, and the About window stays open.
#pragma once

namespace pvl {

// The maker's home page, in the web browser.
void OpenHomepage();
// A new, empty message to the support mailbox, in the mail program.
void OpenSupportEmail();
// Help\index.htm in the folder the component is loaded from at the moment of the call.
void OpenHelp();

}  // namespace pvl
