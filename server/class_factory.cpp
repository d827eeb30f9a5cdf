#include "server/class_factory.h"
#include "addin/connect.h"
#include "common/result.h"

namespace pvl {

namespace {
LONG g_moduleCount = 0;

template <class T>
HRESULT CreateInstance(REFIID riid, void** ppv) {
    ComPtr<T> object = MakeComObject<T, ModuleCounter>();
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(riid, ppv);
}

struct ClassEntry {
    const CLSID* clsid;
    HRESULT (*create)(REFIID riid, void** ppv);
};
const ClassEntry kClasses[] = {
    {&CLSID_Connect, &CreateInstance<Connect>},
};

class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}
    static const QITAB* Interfaces() {
        static const QITAB table[] = {QITABENT(ClassFactory, IClassFactory), {}};
        return table;
    }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        PVL_COM_TRY
        return entry_.create(riid, ppv);
        PVL_COM_CATCH
    }
    IFACEMETHODIMP LockServer(BOOL lock) override {
        lock ? ModuleCounter::Increment() : ModuleCounter::Decrement();
        return S_OK;
    }

private:
    const ClassEntry& entry_;
};
}  // namespace

void ModuleCounter::Increment() { InterlockedIncrement(&g_moduleCount); }
void ModuleCounter::Decrement() { InterlockedDecrement(&g_moduleCount); }
long ModuleCounter::Count() { return g_moduleCount; }

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry& entry : kClasses) {
        if (!IsEqualCLSID(clsid, *entry.clsid)) continue;
        PVL_COM_TRY
        ComPtr<ClassFactory> factory = MakeComObject<ClassFactory>(entry);
        if (!factory) return E_OUTOFMEMORY;
        return factory->QueryInterface(riid, ppv);
        PVL_COM_CATCH
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() { return ModuleCounter::Count() == 0 ? S_OK : S_FALSE; }

}  // namespace pvl
