// The module's entry point and exports: each hands its call to the server support.
#include "common/module.h"
#include "common/result.h"
#include "server/class_factory.h"
#include "server/registration.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
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
