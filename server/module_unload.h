// What the module leaves behind when it is unloaded while the process goes on.
#pragma once

namespace pvl {

// Ends the About window and its audio control if they are still there, and unregisters the
// module's window classes. Only for an unload by FreeLibrary, never at process exit.
void UnloadModule();

}  // namespace pvl
