#include "server/module_unload.h"
#include "about/about_window.h"
#include "audio/mci_control.h"

namespace pvl {

void UnloadModule() {
    DestroyAboutWindow();
    UnregisterAboutWindowClass();
    UnregisterMciWindowClass();
}

}  // namespace pvl
