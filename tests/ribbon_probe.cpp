// A stand-in add-in for Parvaline Mail's ribbon: loaded from the registry like any add-in, it
// answers IRibbonExtensibility with the module's own ribbon XML (the same resource, linked in) and
// pictures (the same drawing, for the asking window's DPI) and keeps a toy recorder state, so that the mail client's drawing, clicks, keys and
// re-queries can be tried without the real add-in. It records nothing.
#include "addin/extensibility.h"
#include "addin/ribbon_model.h"
#include "addin/ribbon_pictures.h"
#include "common/com_object.h"
#include "common/raii.h"
#include "resources/ribbon_resource.h"
#include <string>

namespace {

// {7E4B3C21-5A0D-4C7B-9A51-3D2F6B8E1C44}
constexpr CLSID kProbeClsid = {0x7e4b3c21, 0x5a0d, 0x4c7b, {0x9a, 0x51, 0x3d, 0x2f, 0x6b, 0x8e, 0x1c, 0x44}};

HINSTANCE g_module = nullptr;
LONG g_objects = 0;
struct Counter {
    static void Increment() { InterlockedIncrement(&g_objects); }
    static void Decrement() { InterlockedDecrement(&g_objects); }
};

enum : DISPID { kOnLoad = 1, kOnAction, kGetEnabled, kGetImage };

class Probe : public IDTExtensibility2, public IRibbonExtensibility {
public:
    PVL_DECLARE_IUNKNOWN;
    static const QITAB* Interfaces() {
        static const QITAB table[] = {QITABENTMULTI(Probe, IDispatch, IDTExtensibility2),
                                      QITABENT(Probe, IDTExtensibility2),
                                      QITABENT(Probe, IRibbonExtensibility), {}};
        return table;
    }
    // IDTExtensibility2
    IFACEMETHODIMP OnConnection(IDispatch*, ext_ConnectMode, IDispatch*, SAFEARRAY**) override { return S_OK; }
    IFACEMETHODIMP OnDisconnection(ext_DisconnectMode, SAFEARRAY**) override {
        ui_.Reset();
        return S_OK;
    }
    IFACEMETHODIMP OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
    IFACEMETHODIMP OnStartupComplete(SAFEARRAY**) override { return S_OK; }
    IFACEMETHODIMP OnBeginShutdown(SAFEARRAY**) override { return S_OK; }
    // IRibbonExtensibility
    IFACEMETHODIMP GetCustomUI(BSTR ribbonId, BSTR* xml) override {
        if (!xml) return E_POINTER;
        *xml = nullptr;
        if (!ribbonId || std::wstring(ribbonId) != pvl::host::kRibbonMailCompose) return S_OK;
        HRSRC found = FindResourceW(g_module, MAKEINTRESOURCEW(IDR_RIBBON_COMPOSE), MAKEINTRESOURCEW(10));
        HGLOBAL loaded = found ? LoadResource(g_module, found) : nullptr;
        const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
        const int size = found ? static_cast<int>(SizeofResource(g_module, found)) : 0;
        if (!bytes || !size) return E_FAIL;
        const int n = MultiByteToWideChar(CP_UTF8, 0, bytes, size, nullptr, 0);
        *xml = SysAllocStringLen(nullptr, n);
        if (!*xml) return E_OUTOFMEMORY;
        MultiByteToWideChar(CP_UTF8, 0, bytes, size, *xml, n);
        return S_OK;
    }
    // IDispatch: the callbacks by name.
    IFACEMETHODIMP GetTypeInfoCount(UINT* n) override { return n ? (*n = 0, S_OK) : E_POINTER; }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const std::pair<const wchar_t*, DISPID> table[] = {
            {L"onLoad", kOnLoad}, {L"onAction", kOnAction}, {L"getEnabled", kGetEnabled}, {L"getImage", kGetImage}};
        if (!names || !ids || count != 1) return E_INVALIDARG;
        for (auto& [name, id] : table)
            if (CompareStringOrdinal(names[0], -1, name, -1, TRUE) == CSTR_EQUAL) return *ids = id, S_OK;
        *ids = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!params || params->cArgs < 1) return DISP_E_BADPARAMCOUNT;
        const VARIANT& arg = params->rgvarg[params->cArgs - 1];
        if (arg.vt != VT_DISPATCH || !arg.pdispVal) return DISP_E_TYPEMISMATCH;
        if (id == kOnLoad)
            return arg.pdispVal->QueryInterface(__uuidof(IRibbonUI), reinterpret_cast<void**>(ui_.ReleaseAndGetAddressOf()));
        pvl::ComPtr<IRibbonControl> control;
        if (FAILED(arg.pdispVal->QueryInterface(__uuidof(IRibbonControl), reinterpret_cast<void**>(control.GetAddressOf()))))
            return DISP_E_TYPEMISMATCH;
        pvl::UniqueBstr bstr;
        if (FAILED(control->get_Id(bstr.put()))) return E_FAIL;
        const std::wstring controlId = bstr.c_str();
        switch (id) {
            case kOnAction:
                if (controlId == L"pvlRecord") recording_ = true;
                if (controlId == L"pvlStop") recording_ = false, recorded_ = true;
                return ui_ ? ui_->Invalidate() : S_OK;
            case kGetEnabled:
                if (!result) return E_POINTER;
                result->vt = VT_BOOL;
                result->boolVal = Enabled(controlId) ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            case kGetImage:
                if (!result) return E_POINTER;
                return pvl::RibbonImage(arg.pdispVal, Picture(controlId), result);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    bool Enabled(const std::wstring& id) const {
        if (id == L"pvlRecord") return !recording_;
        if (id == L"pvlPlay") return !recording_ && recorded_;
        if (id == L"pvlStop") return recording_;
        return true;
    }
    static pvl::RibbonPicture Picture(const std::wstring& id) {
        return id == L"pvlRecord" ? pvl::RibbonPicture::Record
               : id == L"pvlPlay" ? pvl::RibbonPicture::Play
               : id == L"pvlStop" ? pvl::RibbonPicture::Stop
                                  : pvl::RibbonPicture::Product;
    }
    pvl::ComPtr<IRibbonUI> ui_;
    bool recording_ = false, recorded_ = false;
};

class Factory : public IClassFactory {
public:
    static const QITAB* Interfaces() {
        static const QITAB table[] = {QITABENT(Factory, IClassFactory), {}};
        return table;
    }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto probe = pvl::MakeComObject<Probe, Counter>();
        return probe ? static_cast<IDTExtensibility2*>(probe.Get())->QueryInterface(riid, ppv) : E_OUTOFMEMORY;
    }
    IFACEMETHODIMP LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, kProbeClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = pvl::MakeComObject<Factory, Counter>();
    return factory ? factory->QueryInterface(riid, ppv) : E_OUTOFMEMORY;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
