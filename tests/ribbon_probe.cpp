// A stand-in add-in for Parvaline Mail's ribbon: loaded from the registry like any add-in, it
// answers IRibbonExtensibility with the module's own ribbon XML (the same resources, linked in: the mail window's group and the main window's, on the Message tab shown while a reply is
// written inline) and pictures (the same drawing, for the asking window's DPI), and keeps a toy recorder state, so that the mail client's drawing, clicks, keys and
// re-queries can be tried without the real add-in. It records nothing. With PVL_PROBE_CONTROLS=1 in
// its environment it answers a group of its own instead, in both windows: Record as a toggle button,
// a label that reads the toy recording's length, and keytips on every control.
#include "addin/extensibility.h"
#include "addin/ribbon_model.h"
#include "addin/ribbon_pictures.h"
#include "common/com_object.h"
#include "common/raii.h"
#include "resources/ribbon_resource.h"
#include <string>
#include <vector>

namespace {

// {7E4B3C21-5A0D-4C7B-9A51-3D2F6B8E1C44}
constexpr CLSID kProbeClsid = {0x7e4b3c21, 0x5a0d, 0x4c7b, {0x9a, 0x51, 0x3d, 0x2f, 0x6b, 0x8e, 0x1c, 0x44}};

HINSTANCE g_module = nullptr;
LONG g_objects = 0;
struct Counter {
    static void Increment() { InterlockedIncrement(&g_objects); }
    static void Decrement() { InterlockedDecrement(&g_objects); }
};

enum : DISPID { kOnLoad = 1, kOnAction, kGetEnabled, kGetImage, kGetPressed, kGetLabel, kGetSupertip };

// The group of the controls' variant, on the given tab (and tab set).
std::wstring ControlsXml(const std::wstring& tabOpen, const std::wstring& tabClose) {
    const std::wstring common = L" onAction=\"onAction\" getEnabled=\"getEnabled\" getImage=\"getImage\"";
    return L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\" onLoad=\"onLoad\"><ribbon>" + tabOpen +
           L"<group id=\"pvlVoiceMessage\" label=\"Voice message\">"
           L"<toggleButton id=\"pvlRecord\" label=\"Record\" size=\"large\" keytip=\"R\" getPressed=\"getPressed\"" + common + L"/>"
           L"<button id=\"pvlPlay\" label=\"Play\" size=\"large\" keytip=\"P\"" + common + L"/>"
           L"<button id=\"pvlStop\" label=\"Stop\" size=\"large\" keytip=\"S\"" + common + L"/>"
           L"<labelControl id=\"pvlClock\" getLabel=\"getLabel\"/>"
           L"<button id=\"pvlAbout\" label=\"Parvaline\" keytip=\"AB\"" + common + L"/>"
           L"</group>" + tabClose + L"</ribbon></customUI>";
}

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
        uis_.clear();
        return S_OK;
    }
    IFACEMETHODIMP OnAddInsUpdate(SAFEARRAY**) override { return S_OK; }
    IFACEMETHODIMP OnStartupComplete(SAFEARRAY**) override { return S_OK; }
    IFACEMETHODIMP OnBeginShutdown(SAFEARRAY**) override { return S_OK; }
    // IRibbonExtensibility
    IFACEMETHODIMP GetCustomUI(BSTR ribbonId, BSTR* xml) override {
        if (!xml) return E_POINTER;
        *xml = nullptr;
        const std::wstring id = ribbonId ? ribbonId : L"";
        const bool explorer = id == pvl::host::kRibbonExplorer;
        if (!explorer && id != pvl::host::kRibbonMailCompose) return S_OK;
        wchar_t controls[8] = L"";
        if (GetEnvironmentVariableW(L"PVL_PROBE_CONTROLS", controls, 8) && controls[0] == L'1') {
            const std::wstring text =
                explorer ? ControlsXml(L"<contextualTabs><tabSet idMso=\"TabComposeTools\"><tab idMso=\"TabMessage\">",
                                       L"</tab></tabSet></contextualTabs>")
                         : ControlsXml(L"<tabs><tab idMso=\"TabNewMailMessage\">", L"</tab></tabs>");
            controls_ = true;
            *xml = SysAllocString(text.c_str());
            return *xml ? S_OK : E_OUTOFMEMORY;
        }
        HRSRC found = FindResourceW(g_module, MAKEINTRESOURCEW(explorer ? IDR_RIBBON_EXPLORER : IDR_RIBBON_COMPOSE),
                                    MAKEINTRESOURCEW(10));
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
            {L"onLoad", kOnLoad},     {L"onAction", kOnAction},     {L"getEnabled", kGetEnabled},
            {L"getImage", kGetImage}, {L"getPressed", kGetPressed}, {L"getLabel", kGetLabel},
            {L"onToggle", kOnAction}, {L"getSupertip", kGetSupertip}};
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
        if (id == kOnLoad) {
            // One IRibbonUI per customUI document (the mail window's, the main window's): each
            // invalidates its own windows only, so every one is kept.
            pvl::ComPtr<IRibbonUI> ui;
            const HRESULT hr = arg.pdispVal->QueryInterface(__uuidof(IRibbonUI), reinterpret_cast<void**>(ui.GetAddressOf()));
            if (SUCCEEDED(hr)) uis_.push_back(ui);
            return hr;
        }
        pvl::ComPtr<IRibbonControl> control;
        if (FAILED(arg.pdispVal->QueryInterface(__uuidof(IRibbonControl), reinterpret_cast<void**>(control.GetAddressOf()))))
            return DISP_E_TYPEMISMATCH;
        pvl::UniqueBstr bstr;
        if (FAILED(control->get_Id(bstr.put()))) return E_FAIL;
        const std::wstring controlId = bstr.c_str();
        switch (id) {
            case kOnAction:
                // A toggle's second argument, its new state: Record released stops, as Stop does.
                if (controlId == L"pvlRecord" && params->cArgs == 2 && params->rgvarg[0].vt == VT_BOOL &&
                    params->rgvarg[0].boolVal == VARIANT_FALSE) {
                    recording_ = false, recorded_ = true;
                } else if (controlId == L"pvlRecord") {
                    recording_ = true;
                }
                if (controlId == L"pvlStop") recording_ = false, recorded_ = true;
                for (auto& ui : uis_) {
                    const HRESULT hr = ui->Invalidate();
                    if (FAILED(hr)) return hr;
                }
                return S_OK;
            case kGetEnabled:
                if (!result) return E_POINTER;
                result->vt = VT_BOOL;
                result->boolVal = Enabled(controlId) ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            case kGetImage:
                if (!result) return E_POINTER;
                return pvl::RibbonImage(arg.pdispVal, Picture(controlId), result);
            case kGetPressed:
                if (!result) return E_POINTER;
                result->vt = VT_BOOL;
                result->boolVal = recording_ ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            case kGetLabel: {
                // The toy recording's "length": none yet, running, or done; on the module's Play and
                // Stop, after their names, as the add-in shows it.
                if (!result) return E_POINTER;
                std::wstring label = recording_ ? L"0:00" : recorded_ ? L"0:01" : L"";
                if (controlId == L"pvlStop") label = recording_ ? L"Stop 0:00" : L"Stop";
                if (controlId == L"pvlPlay") label = recorded_ && !recording_ ? L"Play 0:01" : L"Play";
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(label.c_str());
                return result->bstrVal ? S_OK : E_OUTOFMEMORY;
            }
            case kGetSupertip:
                if (!result) return E_POINTER;
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(recording_ ? L"Recording: release to stop." : L"Record a message.");
                return result->bstrVal ? S_OK : E_OUTOFMEMORY;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    bool Enabled(const std::wstring& id) const {
        if (id == L"pvlRecord") return true;  // a toggle: released to stop
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
    std::vector<pvl::ComPtr<IRibbonUI>> uis_;
    bool recording_ = false, recorded_ = false, controls_ = false;
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
