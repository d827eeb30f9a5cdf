#include "server/registration.h"
#include "server/registry_ids.h"
#include "addin/identity.h"
#include "common/com_object.h"
#include "common/raii.h"
#include "common/result.h"
#include <oleauto.h>
#include <shlwapi.h>
#include <set>
#include <string>
#include <vector>

namespace pvl {

namespace {

// Where a value's data comes from: the table itself, or the module being registered.
enum class Source { Text, Number, ModulePath, ModuleFolder, KeyOnly };

struct RegistryEntry {
    HKEY root;
    const wchar_t* key;
    const wchar_t* name;  // null: the key's default value
    Source source;
    const wchar_t* text;
    DWORD number;
};

// The entries, in writing order, from the table the per-machine package's registry rows are also
// made from, so that the two cannot differ.
#define PVL_REGISTRY_ENTRY(key, name, source, text, number) \
    {HKEY_CURRENT_USER, key, name, Source::source, text, number},
const RegistryEntry kEntries[] = {
#include "server/registry_entries.inc"
};
#undef PVL_REGISTRY_ENTRY

// The trees the entries above live in: removing them removes every entry.
struct RegistryTree {
    HKEY root;
    const wchar_t* key;
};
const RegistryTree kTrees[] = {
    {HKEY_CURRENT_USER, PVL_ADDIN_KEY},
    {HKEY_CURRENT_USER, PVL_CLASSES PVL_PROGID},
    {HKEY_CURRENT_USER, PVL_CLASSES L"CLSID\\" PVL_CLSID},
    {HKEY_CURRENT_USER, PVL_CLASSES L"Interface\\" PVL_IID},
    {HKEY_CURRENT_USER, PVL_CLASSES L"TypeLib\\" PVL_LIBID},
};

HRESULT Win32Result(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

bool KeyExists(HKEY root, const std::wstring& key) {
    UniqueHKey k;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

HRESULT DeleteTrees() {
    HRESULT result = S_OK;
    // Every tree is tried, so that one stubborn key does not keep the others registered.
    for (const RegistryTree& tree : kTrees) {
        const LSTATUS status = RegDeleteTreeW(tree.root, tree.key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = HRESULT_FROM_WIN32(status);
    }
    return result;
}

HRESULT ModulePath(HMODULE module, std::wstring* path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return LastErrorResult();
        if (n < buffer.size()) break;
        if (buffer.size() >= 32768) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        buffer.resize(buffer.size() * 2);
    }
    path->assign(buffer.data());
    return S_OK;
}

// The type library is registered from the module; one that is missing or not ours would leave the
// interface and class pointing at nothing, so nothing is written then.
HRESULT CheckTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> library;
    RETURN_IF_FAILED(LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library));
    TLIBATTR* attr = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attr));
    const bool ours = IsEqualGUID(attr->guid, LIBID_pvlAddIn) && attr->wMajorVerNum == 1 && attr->wMinorVerNum == 0;
    library->ReleaseTLibAttr(attr);
    return ours ? S_OK : TYPE_E_LIBNOTREGISTERED;
}

// Records the keys a registration creates above its own trees (an Addins key the host has never
// made, say), so that undoing it leaves the registry as it found it.
class CreatedKeys {
public:
    void NoteMissingAncestors(HKEY root, const std::wstring& key) {
        for (size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1)) {
            const std::wstring ancestor = key.substr(0, at);
            if (!created_.count({root, ancestor}) && !KeyExists(root, ancestor)) created_.insert({root, ancestor});
        }
    }
    // Deepest first; a key that has since gained other subkeys stays (RegDeleteKey refuses it).
    void DeleteEmpty() {
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) RegDeleteKeyW(it->first, it->second.c_str());
    }

private:
    std::set<std::pair<HKEY, std::wstring>> created_;
};

HRESULT WriteEntry(const RegistryEntry& entry, const std::wstring& modulePath, const std::wstring& folder) {
    UniqueHKey key;
    RETURN_IF_FAILED(Win32Result(RegCreateKeyExW(entry.root, entry.key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_SET_VALUE, nullptr, key.put(), nullptr)));
    switch (entry.source) {
    case Source::KeyOnly:
        return S_OK;
    case Source::Number:
        return Win32Result(RegSetValueExW(key.get(), entry.name, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&entry.number), sizeof(entry.number)));
    default:
        break;
    }
    const std::wstring data = entry.source == Source::ModulePath     ? modulePath
                              : entry.source == Source::ModuleFolder ? folder
                                                                     : std::wstring(entry.text);
    return Win32Result(RegSetValueExW(key.get(), entry.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

}  // namespace

size_t RegistryWriteCount() { return std::size(kEntries); }

HRESULT RegisterServer(HMODULE module, const RegistryWriteFault& fault) {
    std::wstring modulePath;
    RETURN_IF_FAILED(ModulePath(module, &modulePath));
    std::wstring folder = modulePath;
    PathRemoveFileSpecW(folder.data());
    folder.resize(wcslen(folder.c_str()));
    RETURN_IF_FAILED(CheckTypeLibrary(modulePath));

    // A fresh start: values of an earlier registration (another path, say) must not survive in it.
    RETURN_IF_FAILED(DeleteTrees());
    CreatedKeys created;
    for (size_t i = 0; i < std::size(kEntries); ++i) {
        const RegistryEntry& entry = kEntries[i];
        created.NoteMissingAncestors(entry.root, entry.key);
        HRESULT hr = fault ? fault(i) : S_OK;
        if (SUCCEEDED(hr)) hr = WriteEntry(entry, modulePath, folder);
        if (FAILED(hr)) {
            Guarded(DeleteTrees());
            created.DeleteEmpty();
            return hr;
        }
    }
    return S_OK;
}

HRESULT UnregisterServer() { return DeleteTrees(); }

}  // namespace pvl
