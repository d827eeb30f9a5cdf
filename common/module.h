// Where this component lives: its module handle and folder.
#pragma once
#include <windows.h>
#include <string>

namespace pvl {

// The module that holds this code: the add-in DLL (or a test program that links the code in).
HINSTANCE ModuleInstance();

// The folder of the component's module file, as the system reports it: no trailing separator,
// except at a drive root. Queried afresh at every call, since the files beside the component are
// found through it.
HRESULT ComponentFolder(std::wstring* folder);

// ComponentFolder followed by `suffix`, which starts with its own backslash ("\Parvaline.wav").
// At a drive root this doubles the backslash, which the file system accepts.
HRESULT ComponentPath(const wchar_t* suffix, std::wstring* path);

}  // namespace pvl
