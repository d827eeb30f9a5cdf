// Loads add-ins the way the mail client does when it starts: from its add-in entries under
// Software\Microsoft\Office\Outlook\Addins, each named by a ProgID, in HKEY_CURRENT_USER (the
// user's own) and in HKEY_LOCAL_MACHINE (every user's, as a per-machine installation writes them).
// An add-in entered in both is one add-in, and the user's LoadBehavior is the one that counts, as
// in the mail client: a user's choice overrides a machine-wide add-in for that user.
// HKEY_LOCAL_MACHINE is read in the process's own registry view, so a 32-bit client on 64-bit
// Windows sees the 32-bit add-ins, as the real client does.
//
// The class is found by reading the registry rather than through CoCreateInstance: Windows merges
// HKEY_CURRENT_USER\Software\Classes over HKEY_LOCAL_MACHINE\Software\Classes, but Wine 8 does not,
// and a per-user class would not be found (REGDB_E_CLASSNOTREG). The loader does the merge itself,
// key by key as Windows does: the per-user key when it exists, else the machine-wide one. It then
// loads the server module itself, as COM would for an in-process server, and asks its class
// object for the add-in.
#pragma once
#include "addin/extensibility.h"
#include "common/raii.h"
#include "simhost.h"
#include <string>
#include <vector>

namespace simhost {

struct AddinEntry {
    std::wstring progId;
    DWORD loadBehavior = 0;
    bool perUser = false;     // entered under HKEY_CURRENT_USER
    bool perMachine = false;  // entered under HKEY_LOCAL_MACHINE
};

// The add-in entries as the client reads them at start: the user's in registry order, then the
// machine's that the user has no entry for. An entry's LoadBehavior is the user's where the user's
// entry has one, else the machine's; none readable means 0, "unloaded".
std::vector<AddinEntry> ReadAddinEntries();

// ProgID -> CLSID -> InprocServer32 path, through the merged view of the two class stores.
HRESULT ResolveInprocServer(const std::wstring& progId, CLSID* clsid, std::wstring* modulePath);

class AddinLoader {
public:
    struct Loaded {
        std::wstring progId;
        bool perUser = false;     // where its entry was found, as in AddinEntry
        bool perMachine = false;
        std::wstring modulePath;
        CLSID clsid{};
        pvl::UniqueHModule module;
        ComPtr<COMAddIn> addIn;  // the host's object for this add-in, handed to OnConnection
        ComPtr<IDTExtensibility2> object;
        Ribbon* ribbon = nullptr;  // the ribbon it is attached to, detached before it is released
    };

    AddinLoader() = default;
    AddinLoader(const AddinLoader&) = delete;
    AddinLoader& operator=(const AddinLoader&) = delete;
    ~AddinLoader() { ShutDown(); }

    // Connects every add-in whose entry says "load at start" (LoadBehavior 3). One that fails to
    // load is skipped, as the client does; the first failure is returned.
    HRESULT StartUp(IDispatch* application);
    // The same for the simulated client's application, whose ribbon then gets the add-in object
    // as Office's does (the simulated ribbon serves one add-in: the first one loaded that answers
    // IRibbonExtensibility).
    HRESULT StartUp(Application* application);
    // Disconnects and releases every add-in, then lets its module go once DllCanUnloadNow agrees.
    // Returns S_FALSE if a module refused to unload (it then stays loaded, as under COM).
    HRESULT ShutDown();

    const std::vector<Loaded>& Addins() const { return loaded_; }
    std::vector<std::wstring> LoadedProgIds() const;

private:
    HRESULT Load(IDispatch* application, const AddinEntry& entry);
    std::vector<Loaded> loaded_;
};

}  // namespace simhost
