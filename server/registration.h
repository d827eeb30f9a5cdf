// Self-registration: the registry entries by which COM and the host find the component, written
// for the registering user only (HKEY_CURRENT_USER), so that no administrator rights are needed.
#pragma once
#include <windows.h>
#include <functional>

namespace pvl {

// Asked before each registry write of a registration, with the write's index; a failure it returns
// is taken as that write's own. Lets tests break a registration off at any point.
using RegistryWriteFault = std::function<HRESULT(size_t writeIndex)>;

// Registers the server in `module`, whose TYPELIB resource 1 must be this component's library.
// An earlier registration is replaced, never merged into; a registration that fails is undone.
HRESULT RegisterServer(HMODULE module, const RegistryWriteFault& fault = {});
// Removes every tree RegisterServer writes; trees already gone count as removed.
HRESULT UnregisterServer();
// How many writes a registration makes: the range of indexes the fault is asked about.
size_t RegistryWriteCount();

}  // namespace pvl
