// The module's entry point and exports: each hands its call to the server support.
#include "common/module.h"
#include "common/result.h"
#include "server/class_factory.h"
#include "server/module_unload.h"
#include "server/registration.h"
#include <cstdlib>

// Thread notices stay on: the device layer hears of each new thread through its TLS callback
// (audio/mci_control.cpp), which a DLL with TLS gets whatever DisableThreadLibraryCalls says.
// No C++ exception leaves a COM method, an export or a window procedure, so nothing should reach
// std::terminate. Should it, libstdc++'s own handler would print the exception's type, and for that
// alone link in its name demangler (45 KiB of the module): this one ends the process as plainly.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    // The process is ending (the host may exit without releasing its add-ins): other threads are
    // gone, and the windows, the device and the host's objects go with the process. Touching any
    // of them now could hang or fault the exit.
    if (reason == DLL_PROCESS_DETACH && reserved) return TRUE;
    // Unloaded by FreeLibrary: whatever is left goes now, and our window classes with it, since a
    // class outlives the module and its procedure would point into unmapped code.
    if (reason == DLL_PROCESS_DETACH) pvl::UnloadModule();
    return TRUE;
}

STDAPI DllCanUnloadNow() { return pvl::CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) { return pvl::GetClassObject(clsid, riid, ppv); }

STDAPI DllRegisterServer() {
    PVL_COM_TRY
    return pvl::RegisterServer(pvl::ModuleInstance());
    PVL_COM_CATCH
}

STDAPI DllUnregisterServer() {
    PVL_COM_TRY
    return pvl::UnregisterServer();
    PVL_COM_CATCH
}
