// The module's entry point and exports: each hands its call to the server support.
#include "server/class_factory.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

STDAPI DllCanUnloadNow() { return pvl::CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) { return pvl::GetClassObject(clsid, riid, ppv); }
