#include "addin_loader.h"
#include "common/result.h"
#include <algorithm>
#include <vector>

namespace simhost {

namespace {

constexpr wchar_t kAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

HRESULT Win32Result(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

// A string value. Without RRF_NOEXPAND, RegGetValue expands a REG_EXPAND_SZ path and lets
// RRF_RT_REG_SZ accept it, as COM does for server paths.
HRESULT ReadString(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring* value) {
    DWORD type = 0, size = 0;
    RETURN_IF_FAILED(Win32Result(RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, &type,
                                              nullptr, &size)));
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    RETURN_IF_FAILED(Win32Result(RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, &type,
                                              buffer.data(), &size)));
    value->assign(buffer.data());
    return S_OK;
}

// The merged class view: a key of HKCU\Software\Classes hides the same key of HKLM.
HRESULT ReadClassesString(const std::wstring& key, const wchar_t* name, std::wstring* value) {
    const std::wstring path = L"Software\\Classes\\" + key;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        pvl::UniqueHKey k;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) continue;
        return ReadString(root, path, name, value);
    }
    return REGDB_E_CLASSNOTREG;
}

// One root's entry: its ProgID and, where it has a readable one, its LoadBehavior.
struct RootEntry {
    std::wstring progId;
    bool hasLoadBehavior = false;
    DWORD loadBehavior = 0;
};

std::vector<RootEntry> ReadEntriesOf(HKEY root) {
    std::vector<RootEntry> entries;
    pvl::UniqueHKey addins;
    if (RegOpenKeyExW(root, kAddinsKey, 0, KEY_READ, addins.put()) != ERROR_SUCCESS) return entries;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(addins.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        RootEntry entry{name};
        DWORD size = sizeof(entry.loadBehavior);
        entry.hasLoadBehavior = RegGetValueW(addins.get(), name, L"LoadBehavior", RRF_RT_REG_DWORD, nullptr,
                                             &entry.loadBehavior, &size) == ERROR_SUCCESS;
        if (!entry.hasLoadBehavior) entry.loadBehavior = 0;
        entries.push_back(entry);
    }
    return entries;
}

// ProgIDs are key names, which the registry compares without case.
bool SameProgId(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

std::vector<AddinEntry> ReadAddinEntries() {
    const std::vector<RootEntry> user = ReadEntriesOf(HKEY_CURRENT_USER);
    std::vector<AddinEntry> entries;
    for (const RootEntry& u : user) entries.push_back({u.progId, u.loadBehavior, true, false});
    for (const RootEntry& m : ReadEntriesOf(HKEY_LOCAL_MACHINE)) {
        auto same = [&](const AddinEntry& e) { return SameProgId(e.progId, m.progId); };
        const auto users = entries.begin() + static_cast<std::ptrdiff_t>(user.size());
        const auto it = std::find_if(entries.begin(), users, same);
        if (it == users) {
            entries.push_back({m.progId, m.loadBehavior, false, true});
            continue;
        }
        it->perMachine = true;
        if (!user[it - entries.begin()].hasLoadBehavior) it->loadBehavior = m.loadBehavior;
    }
    return entries;
}

HRESULT ResolveInprocServer(const std::wstring& progId, CLSID* clsid, std::wstring* modulePath) {
    std::wstring clsidText;
    RETURN_IF_FAILED(ReadClassesString(progId + L"\\CLSID", nullptr, &clsidText));
    RETURN_IF_FAILED(CLSIDFromString(clsidText.c_str(), clsid));
    return ReadClassesString(L"CLSID\\" + clsidText + L"\\InprocServer32", nullptr, modulePath);
}

HRESULT AddinLoader::StartUp(IDispatch* application) {
    HRESULT first = S_OK;
    for (const AddinEntry& entry : ReadAddinEntries()) {
        if (entry.loadBehavior != 3) continue;
        const HRESULT hr = Load(application, entry);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

HRESULT AddinLoader::StartUp(Application* application) {
    const size_t before = loaded_.size();
    const HRESULT hr = StartUp(static_cast<IDispatch*>(application));
    if (!application) return hr;
    Ribbon& ribbon = application->GetRibbon();
    for (size_t i = before; i < loaded_.size(); ++i) {
        if (ribbon.Attached()) break;
        // An add-in without IRibbonExtensibility keeps its command bars only, as in Office; the
        // ribbon goes to the next one.
        if (ribbon.Attach(loaded_[i].object.Get(), loaded_[i].progId) == S_OK) loaded_[i].ribbon = &ribbon;
        else ribbon.Detach();
    }
    return hr;
}

HRESULT AddinLoader::Load(IDispatch* application, const AddinEntry& entry) {
    const std::wstring& progId = entry.progId;
    Loaded addin;
    addin.progId = progId;
    addin.perUser = entry.perUser;
    addin.perMachine = entry.perMachine;
    RETURN_IF_FAILED(ResolveInprocServer(progId, &addin.clsid, &addin.modulePath));
    addin.module.reset(LoadLibraryW(addin.modulePath.c_str()));
    if (!addin.module) return pvl::LastErrorResult();
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(addin.module.get(), "DllGetClassObject")));
    if (!getClassObject) return pvl::LastErrorResult();
    {
        ComPtr<IClassFactory> factory;
        RETURN_IF_FAILED(getClassObject(addin.clsid, IID_PPV_ARGS(&factory)));
        RETURN_IF_FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin.object)));
    }
    addin.addIn = Make<COMAddIn>(progId);
    SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    const HRESULT hr = addin.object->OnConnection(application, ext_cm_Startup, addin.addIn.Get(), &custom);
    SafeArrayDestroy(custom);
    RETURN_IF_FAILED(hr);
    loaded_.push_back(std::move(addin));
    return S_OK;
}

HRESULT AddinLoader::ShutDown() {
    HRESULT result = S_OK;
    for (auto it = loaded_.rbegin(); it != loaded_.rend(); ++it) {
        SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
        pvl::Guarded(it->object->OnDisconnection(ext_dm_HostShutdown, &custom));
        SafeArrayDestroy(custom);
        if (it->ribbon) it->ribbon->Detach();
        it->object.Reset();
        it->addIn.Reset();
        auto canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(
            reinterpret_cast<void*>(GetProcAddress(it->module.get(), "DllCanUnloadNow")));
        if (canUnloadNow && canUnloadNow() != S_OK) {
            it->module.release();  // still in use: COM would keep it loaded too
            result = S_FALSE;
        }
    }
    loaded_.clear();
    return result;
}

std::vector<std::wstring> AddinLoader::LoadedProgIds() const {
    std::vector<std::wstring> ids;
    for (const Loaded& addin : loaded_) ids.push_back(addin.progId);
    return ids;
}

}  // namespace simhost
