// Windows' own DLLs, loaded from the system folder only.
#pragma once
#include <windows.h>

namespace pvl {

// Loads a system DLL by its bare name from the system folder, never through the search order: that
// would also look in the current folder and on PATH, which a user or a saved attachment can write to.
// Where LOAD_LIBRARY_SEARCH_SYSTEM32 is not understood (Windows 7 without its loader update), the
// full path under the system folder is used instead. Null on failure, with the last error set.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace pvl
