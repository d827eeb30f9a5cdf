// The in-process server's class table and its one generic class factory.
#pragma once
#include "common/com_object.h"

namespace pvl {

// Counts live objects and factory locks for DllCanUnloadNow.
struct ModuleCounter {
    static void Increment();
    static void Decrement();
    static long Count();
};

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
HRESULT CanUnloadNow();

}  // namespace pvl
