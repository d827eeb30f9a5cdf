// The built module as Windows and the host see it: its registration, type library, version block
// and exports. Every test runs the real pvlAddIn.dll (PVL_ADDIN_DLL) and leaves the registry as
// it found it.
#include "support.h"
#include "server/registration.h"
#include "simhost/addin_loader.h"
#include <oleauto.h>
#include <algorithm>
#include <optional>
#include <set>

namespace pvltest {
namespace {

constexpr wchar_t kLibId[] = L"{50654119-3BF3-4A45-97E1-C2E11656C8F5}";
constexpr wchar_t kClsid[] = L"{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}";
constexpr wchar_t kIid[] = L"{255541DA-B966-4395-8B9C-20BC485F6CF1}";
constexpr wchar_t kAddinsKey[] = L"Software\\Microsoft\\Office\\Outlook\\Addins";

const std::vector<std::wstring>& Trees() {
    static const std::vector<std::wstring> trees = {
        std::wstring(kAddinsKey) + L"\\pvlAddIn.Connect",
        L"Software\\Classes\\pvlAddIn.Connect",
        std::wstring(L"Software\\Classes\\CLSID\\") + kClsid,
        std::wstring(L"Software\\Classes\\Interface\\") + kIid,
        std::wstring(L"Software\\Classes\\TypeLib\\") + kLibId,
    };
    return trees;
}

std::wstring DllPath() { return WindowsPathOf(Env("PVL_ADDIN_DLL")); }
std::wstring DllFolder() {
    const std::wstring path = DllPath();
    return path.substr(0, path.rfind(L'\\'));
}

// --- Reading, saving and restoring registry trees ---------------------------------------------

struct SavedValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};
struct SavedKey {
    std::wstring path;
    std::vector<SavedValue> values;
};

void ReadTree(HKEY root, const std::wstring& path, std::vector<SavedKey>* out) {
    pvl::UniqueHKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    SavedKey saved{path, {}};
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = static_cast<DWORD>(std::size(name)), type = 0, size = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameLength = static_cast<DWORD>(std::size(name));
        RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, data.data(), &size);
        data.resize(size);
        saved.values.push_back({name, type, data});
    }
    out->push_back(saved);
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(name);
    }
    for (const auto& child : children) ReadTree(root, path + L"\\" + child, out);
}

// Every key and value of the component's trees, one line each, so that a missing or extra entry
// shows up in a set comparison.
std::set<std::wstring> RegisteredEntries() {
    std::set<std::wstring> lines;
    for (const auto& tree : Trees()) {
        std::vector<SavedKey> keys;
        ReadTree(HKEY_CURRENT_USER, tree, &keys);
        for (const auto& key : keys) {
            lines.insert(key.path);
            for (const auto& v : key.values) {
                std::wstring line = key.path + L" | " + (v.name.empty() ? L"@" : v.name) + L" = ";
                if (v.type == REG_SZ)
                    line += L"REG_SZ " + std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()));
                else if (v.type == REG_DWORD && v.data.size() == 4)
                    line += L"REG_DWORD " + std::to_wstring(*reinterpret_cast<const DWORD*>(v.data.data()));
                else
                    line += L"type " + std::to_wstring(v.type) + L", " + std::to_wstring(v.data.size()) + L" bytes";
                lines.insert(line);
            }
        }
    }
    return lines;
}

std::set<std::wstring> ExpectedEntries() {
    const std::wstring path = DllPath(), folder = DllFolder();
    const std::wstring tlb = std::wstring(L"Software\\Classes\\TypeLib\\") + kLibId;
    const std::wstring itf = std::wstring(L"Software\\Classes\\Interface\\") + kIid;
    const std::wstring cls = std::wstring(L"Software\\Classes\\CLSID\\") + kClsid;
    const std::wstring prog = L"Software\\Classes\\pvlAddIn.Connect";
    const std::wstring addin = std::wstring(kAddinsKey) + L"\\pvlAddIn.Connect";
    const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
    return {
        tlb,
        tlb + L"\\1.0",
        tlb + L"\\1.0 | @ = REG_SZ Parvaline Project",
        tlb + L"\\1.0\\FLAGS",
        tlb + L"\\1.0\\FLAGS | @ = REG_SZ 0",
        tlb + L"\\1.0\\0",
        tlb + L"\\1.0\\0\\" + platform,
        tlb + L"\\1.0\\0\\" + platform + L" | @ = REG_SZ " + path,
        tlb + L"\\1.0\\HELPDIR",
        tlb + L"\\1.0\\HELPDIR | @ = REG_SZ " + folder,
        itf,
        itf + L" | @ = REG_SZ _Connect",
        itf + L"\\ProxyStubClsid32",
        itf + L"\\ProxyStubClsid32 | @ = REG_SZ {00020424-0000-0000-C000-000000000046}",
        itf + L"\\TypeLib",
        itf + L"\\TypeLib | @ = REG_SZ " + kLibId,
        itf + L"\\TypeLib | Version = REG_SZ 1.0",
        cls,
        cls + L" | @ = REG_SZ pvlAddIn.Connect",
        cls + L"\\InprocServer32",
        cls + L"\\InprocServer32 | @ = REG_SZ " + path,
        cls + L"\\InprocServer32 | ThreadingModel = REG_SZ Apartment",
        cls + L"\\ProgID",
        cls + L"\\ProgID | @ = REG_SZ pvlAddIn.Connect",
        cls + L"\\TypeLib",
        cls + L"\\TypeLib | @ = REG_SZ " + kLibId,
        cls + L"\\Version",
        cls + L"\\Version | @ = REG_SZ 1.0",
        cls + L"\\Programmable",
        prog,
        prog + L" | @ = REG_SZ pvlAddIn.Connect",
        prog + L"\\CLSID",
        prog + L"\\CLSID | @ = REG_SZ " + kClsid,
        addin,
        addin + L" | FriendlyName = REG_SZ Parvaline",
        addin + L" | Description = REG_SZ Parvaline",
        addin + L" | LoadBehavior = REG_DWORD 3",
        addin + L" | CommandLineSafe = REG_DWORD 0",
    };
}

std::string Narrow(const std::set<std::wstring>& lines) {
    std::string s;
    for (const auto& l : lines) s += std::string(l.begin(), l.end()) + "\n";
    return s;
}

bool KeyExists(const std::wstring& path, HKEY root = HKEY_CURRENT_USER) {
    pvl::UniqueHKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void WriteTree(const std::vector<SavedKey>& keys, HKEY root = HKEY_CURRENT_USER) {
    for (const auto& k : keys) {
        pvl::UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExW(root, k.path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        for (const auto& v : k.values)
            RegSetValueExW(key.get(), v.name.empty() ? nullptr : v.name.c_str(), 0, v.type, v.data.data(),
                           static_cast<DWORD>(v.data.size()));
    }
}

// Runs a program to its end, as a user's command line would, and gives its exit code.
DWORD RunProgram(const std::wstring& commandLine) {
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
    pvl::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) return 0xFFFFFFFE;
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

template <class F>
F Export(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// --- The fixture: the real module loaded, the component's registry trees saved and restored ----

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("PVL_ADDIN_DLL").empty()) << "PVL_ADDIN_DLL names the built pvlAddIn.dll";
        for (const auto& tree : Trees()) ReadTree(HKEY_CURRENT_USER, tree, &saved_);
        addinsExisted_ = KeyExists(kAddinsKey);
        DeleteTrees();
        module_.reset(LoadLibraryW(DllPath().c_str()));
        ASSERT_TRUE(module_) << "cannot load " << Env("PVL_ADDIN_DLL");
        register_ = Export<HRESULT(STDAPICALLTYPE*)()>(module_.get(), "DllRegisterServer");
        unregister_ = Export<HRESULT(STDAPICALLTYPE*)()>(module_.get(), "DllUnregisterServer");
        getClassObject_ = Export<LPFNGETCLASSOBJECT>(module_.get(), "DllGetClassObject");
        canUnloadNow_ = Export<LPFNCANUNLOADNOW>(module_.get(), "DllCanUnloadNow");
        ASSERT_TRUE(register_ && unregister_ && getClassObject_ && canUnloadNow_);
    }
    void TearDown() override {
        DeleteTrees();
        WriteTree(saved_);
        module_.reset();
    }
    static void DeleteTrees() {
        for (const auto& tree : Trees()) RegDeleteTreeW(HKEY_CURRENT_USER, tree.c_str());
    }

    std::vector<SavedKey> saved_;
    bool addinsExisted_ = false;
    pvl::UniqueHModule module_;
    HRESULT(STDAPICALLTYPE* register_)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregister_)() = nullptr;
    LPFNGETCLASSOBJECT getClassObject_ = nullptr;
    LPFNCANUNLOADNOW canUnloadNow_ = nullptr;
};

TEST_F(RegistrationTest, Regsvr32WritesExactlyTheEntriesForThisUser) {
    EXPECT_EQ(RunProgram(L"regsvr32.exe /s \"" + DllPath() + L"\""), 0u);
    EXPECT_EQ(Narrow(RegisteredEntries()), Narrow(ExpectedEntries()));
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneIdenticalSetAndDropsStaleValues) {
    ASSERT_EQ(register_(), S_OK);
    const auto first = RegisteredEntries();
    // What an older build or a user might have left in the trees: not part of the new registration.
    {
        pvl::UniqueHKey key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kAddinsKey) + L"\\pvlAddIn.Connect").c_str(), 0,
                                KEY_SET_VALUE, key.put()),
                  ERROR_SUCCESS);
        const DWORD two = 2;
        RegSetValueExW(key.get(), L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof(two));
        RegSetValueExW(key.get(), L"Stale", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    }
    ASSERT_EQ(register_(), S_OK);
    EXPECT_EQ(Narrow(RegisteredEntries()), Narrow(first));
    EXPECT_EQ(Narrow(first), Narrow(ExpectedEntries()));
}

TEST_F(RegistrationTest, UnregisteringRemovesEverythingAndTheHostNoLongerLoadsTheAddIn) {
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s \"" + DllPath() + L"\""), 0u);
    {
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        simhost::AddinLoader loader;
        EXPECT_EQ(loader.StartUp(client.app.Get()), S_OK);
        EXPECT_EQ(loader.LoadedProgIds(), std::vector<std::wstring>{L"pvlAddIn.Connect"});
        EXPECT_EQ(loader.ShutDown(), S_OK) << "the module refused to unload";
        client.app->CloseAll();
    }
    EXPECT_EQ(RunProgram(L"regsvr32.exe /u /s \"" + DllPath() + L"\""), 0u);
    EXPECT_EQ(Narrow(RegisteredEntries()), "");
    EXPECT_FALSE(KeyExists(std::wstring(kAddinsKey) + L"\\pvlAddIn.Connect"));
    {
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        simhost::AddinLoader loader;
        EXPECT_EQ(loader.StartUp(client.app.Get()), S_OK);
        EXPECT_TRUE(loader.LoadedProgIds().empty());
    }
    // Nothing left to remove is not a failure.
    EXPECT_EQ(unregister_(), S_OK);
}

TEST_F(RegistrationTest, TheHostLoadsTheRegisteredModuleConnectsAndUnloadsIt) {
    ASSERT_EQ(register_(), S_OK);
    simhost::Host::Get().Reset();
    auto client = simhost::Client::Create();
    {
        CLSID clsid{};
        std::wstring path;
        ASSERT_EQ(simhost::ResolveInprocServer(L"pvlAddIn.Connect", &clsid, &path), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, pvl::CLSID_Connect));
        EXPECT_EQ(path, DllPath());
    }
    simhost::AddinLoader loader;
    ASSERT_EQ(loader.StartUp(client.app.Get()), S_OK);
    ASSERT_EQ(loader.Addins().size(), 1u);
    // The module the host loaded is the registered file, the one this test holds too.
    EXPECT_EQ(loader.Addins()[0].module.get(), module_.get());
    // Connected: the add-in asked the application for its inspectors, as on every start.
    EXPECT_FALSE(simhost::Host::Get().LogMatching(L"Application#1.Inspectors get").empty());
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(loader.ShutDown(), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);
    client.app->CloseAll();
    client = {};
    EXPECT_EQ(simhost::Host::Get().LiveObjects(), 0);

    // An entry that does not say "load at start" is left alone.
    pvl::UniqueHKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kAddinsKey) + L"\\pvlAddIn.Connect").c_str(), 0,
                            KEY_SET_VALUE, key.put()),
              ERROR_SUCCESS);
    const DWORD two = 2;
    RegSetValueExW(key.get(), L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof(two));
    auto again = simhost::Client::Create();
    EXPECT_EQ(loader.StartUp(again.app.Get()), S_OK);
    EXPECT_TRUE(loader.LoadedProgIds().empty());
}

// --- Entries under HKEY_LOCAL_MACHINE, as a per-machine installation writes them --------------

// Add-in entries and trees a test writes where no fixture restores them (HKLM is shared by every
// test of the prefix): deleted at the end, with Software\Microsoft\Office where the test made it.
class ScopedKeys {
public:
    ScopedKeys() {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            if (!KeyExists(kOffice, root)) madeOffice_.push_back(root);
    }
    ~ScopedKeys() {
        for (const auto& [root, tree] : trees_) RegDeleteTreeW(root, tree.c_str());
        for (HKEY root : madeOffice_) RegDeleteTreeW(root, kOffice);
    }
    // A tree of the test's own: nothing of it may exist before.
    void Own(HKEY root, const std::wstring& tree) {
        if (std::count(trees_.begin(), trees_.end(), std::make_pair(root, tree))) return;
        ASSERT_FALSE(KeyExists(tree, root)) << std::string(tree.begin(), tree.end()) << " exists already";
        trees_.push_back({root, tree});
    }
    // An add-in entry, with this LoadBehavior or none.
    void Entry(HKEY root, const std::wstring& progId, std::optional<DWORD> loadBehavior) {
        const std::wstring path = std::wstring(kAddinsKey) + L"\\" + progId;
        Own(root, path);
        pvl::UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr), 0);
        if (loadBehavior)
            RegSetValueExW(key.get(), L"LoadBehavior", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*loadBehavior), 4);
    }

private:
    static constexpr wchar_t kOffice[] = L"Software\\Microsoft\\Office";
    std::vector<std::pair<HKEY, std::wstring>> trees_;
    std::vector<HKEY> madeOffice_;
};

// The merge of the two roots, with ProgIDs of no real add-in: each case is one ProgID entered in
// HKLM, in HKCU, or in both, with or without a LoadBehavior of its own.
TEST_F(RegistrationTest, TheMachinesEntriesAreReadAndTheUsersLoadBehaviorWins) {
    struct Case {
        const wchar_t* machineName;  // nullptr: no HKLM entry
        const wchar_t* userName;     // nullptr: no HKCU entry
        std::optional<DWORD> machine, user;
        DWORD expected;
    };
    const Case cases[] = {
        {L"pvlTest.MachineOnly", nullptr, 3, {}, 3},
        {nullptr, L"pvlTest.UserOnly", {}, 3, 3},
        {L"pvlTest.UserOff", L"pvlTest.UserOff", 3, 2, 2},        // the user turned it off
        {L"pvlTest.UserOn", L"pvlTest.UserOn", 0, 3, 3},          // the user turned it on
        {L"pvlTest.UserBlank", L"pvlTest.UserBlank", 3, {}, 3},   // the user's key says nothing
        {L"pvlTest.Case", L"PVLTEST.CASE", 3, 8, 8},              // one add-in whatever the case
        {L"pvlTest.NoneAtAll", nullptr, {}, {}, 0},
    };
    std::vector<simhost::AddinEntry> entries;
    {
        ScopedKeys keys;
        for (const Case& c : cases) {
            if (c.machineName) keys.Entry(HKEY_LOCAL_MACHINE, c.machineName, c.machine);
            if (c.userName) keys.Entry(HKEY_CURRENT_USER, c.userName, c.user);
        }
        if (HasFatalFailure()) return;
        entries = simhost::ReadAddinEntries();
    }
    for (const Case& c : cases) {
        const std::wstring name = c.userName ? c.userName : c.machineName;
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        auto same = [&](const simhost::AddinEntry& e) { return _wcsicmp(e.progId.c_str(), name.c_str()) == 0; };
        ASSERT_EQ(std::count_if(entries.begin(), entries.end(), same), 1);
        const auto e = std::find_if(entries.begin(), entries.end(), same);
        EXPECT_EQ(e->loadBehavior, c.expected);
        EXPECT_EQ(e->perUser, c.userName != nullptr);
        EXPECT_EQ(e->perMachine, c.machineName != nullptr);
    }
}

// The real module as a per-machine installation leaves it: the class and the add-in entry under
// HKLM only. The host loads it from there, and a user's LoadBehavior of 2 keeps it unloaded.
TEST_F(RegistrationTest, TheHostLoadsAnAddInEnteredForTheMachineUnlessTheUserTurnedItOff) {
    ASSERT_EQ(register_(), S_OK);
    std::vector<SavedKey> registered;
    for (const auto& tree : Trees()) ReadTree(HKEY_CURRENT_USER, tree, &registered);
    DeleteTrees();
    ScopedKeys keys;
    for (const auto& tree : Trees()) keys.Own(HKEY_LOCAL_MACHINE, tree);
    ASSERT_FALSE(HasFatalFailure());
    WriteTree(registered, HKEY_LOCAL_MACHINE);

    // Which add-ins one start of the host loads, and through which roots' entries.
    auto start = [&]() {
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        simhost::AddinLoader loader;
        EXPECT_EQ(loader.StartUp(client.app.Get()), S_OK);
        std::vector<std::wstring> loaded;
        for (const auto& a : loader.Addins()) {
            EXPECT_EQ(a.modulePath, DllPath());
            loaded.push_back(a.progId + (a.perUser ? L" HKCU" : L"") + (a.perMachine ? L" HKLM" : L""));
        }
        EXPECT_EQ(loader.ShutDown(), S_OK);
        client.app->CloseAll();
        return loaded;
    };
    using Loaded = std::vector<std::wstring>;
    EXPECT_EQ(start(), Loaded{L"pvlAddIn.Connect HKLM"});
    keys.Entry(HKEY_CURRENT_USER, L"pvlAddIn.Connect", 2);
    EXPECT_EQ(start(), Loaded{}) << "the user's LoadBehavior 2 must keep the machine's add-in unloaded";
    keys.Entry(HKEY_CURRENT_USER, L"pvlAddIn.Connect", 3);
    EXPECT_EQ(start(), Loaded{L"pvlAddIn.Connect HKCU HKLM"}) << "loaded once, not once per root";
    EXPECT_EQ(simhost::Host::Get().LiveObjects(), 0);
}

// Breaks a registration off at each of its writes in turn: none may leave anything behind, not
// even a parent key it had to create.
TEST_F(RegistrationTest, ARegistrationThatFailsAtAnyWriteIsUndone) {
    const size_t writes = pvl::RegistryWriteCount();
    ASSERT_EQ(writes, 21u);
    for (size_t failAt = 0; failAt < writes; ++failAt) {
        const HRESULT injected = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        const HRESULT hr = pvl::RegisterServer(module_.get(), [&](size_t i) { return i == failAt ? injected : S_OK; });
        EXPECT_EQ(hr, injected) << "write " << failAt;
        EXPECT_EQ(Narrow(RegisteredEntries()), "") << "write " << failAt;
        EXPECT_EQ(KeyExists(kAddinsKey), addinsExisted_) << "write " << failAt;
    }
    // And the same module registers completely once nothing gets in the way.
    EXPECT_EQ(pvl::RegisterServer(module_.get()), S_OK);
    EXPECT_EQ(Narrow(RegisteredEntries()), Narrow(ExpectedEntries()));
}

// The real export, failed by the registry itself: the add-in key cannot be created under a
// volatile Addins key (ERROR_CHILD_MUST_BE_VOLATILE), the last step of the registration.
TEST_F(RegistrationTest, TheExportReportsARegistryFailureAndLeavesNothing) {
    std::vector<SavedKey> addins;
    ReadTree(HKEY_CURRENT_USER, kAddinsKey, &addins);
    if (addins.size() > 1) GTEST_SKIP() << "other add-ins are registered in this prefix";
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddinsKey);
    {
        pvl::UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAddinsKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const HRESULT hr = register_();
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(Narrow(RegisteredEntries()), "");
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddinsKey);
    WriteTree(addins);
    EXPECT_NE(RunProgram(L"regsvr32.exe /s \"" + TestFolder() + L"\\no-such-module.dll\""), 0u);
}

TEST_F(RegistrationTest, AModuleWithoutTheTypeLibraryIsNotRegistered) {
    // The test program carries the component's code but not its type library.
    const HRESULT hr = pvl::RegisterServer(GetModuleHandleW(nullptr));
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(Narrow(RegisteredEntries()), "");
}

// --- The module's identity, read from the built file ---------------------------------------------

std::wstring Doc(ITypeInfo* info, MEMBERID id, std::wstring* help = nullptr, DWORD* context = nullptr) {
    pvl::UniqueBstr name, doc, file;
    DWORD ctx = 0;
    EXPECT_EQ(info->GetDocumentation(id, name.put(), doc.put(), &ctx, file.put()), S_OK);
    if (help) *help = doc.c_str();
    if (context) *context = ctx;
    EXPECT_EQ(file.get(), nullptr);
    return name.c_str();
}

TEST_F(RegistrationTest, TheTypeLibraryHoldsTheInterfaceTheClassAndTheStates) {
    pvl::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* lib = nullptr;
    ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
    EXPECT_TRUE(IsEqualGUID(lib->guid, pvl::LIBID_pvlAddIn));
    EXPECT_EQ(lib->lcid, 0x409u);
    EXPECT_EQ(lib->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    EXPECT_EQ(lib->wMajorVerNum, 1);
    EXPECT_EQ(lib->wMinorVerNum, 0);
    EXPECT_EQ(lib->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    library->ReleaseTLibAttr(lib);
    {
        pvl::UniqueBstr name, doc, file;
        DWORD context = 1;
        ASSERT_EQ(library->GetDocumentation(-1, name.put(), doc.put(), &context, file.put()), S_OK);
        EXPECT_STREQ(name.c_str(), L"pvlAddIn");
        EXPECT_STREQ(doc.c_str(), L"Parvaline Project");
        EXPECT_EQ(context, 0u);
        EXPECT_EQ(file.get(), nullptr);
    }
    ASSERT_EQ(library->GetTypeInfoCount(), 3u);
    struct Expected {
        const wchar_t* name;
        TYPEKIND kind;
        GUID guid;
        WORD flags;
    };
    // A dual interface reads as its dispatch view, which drops FOLEAUTOMATION; the interface view keeps it.
    const Expected expected[] = {
        {L"_Connect", TKIND_DISPATCH, pvl::IID__Connect,
         TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE},
        {L"Connect", TKIND_COCLASS, pvl::CLSID_Connect, TYPEFLAG_FCANCREATE},
        {L"pvlStates", TKIND_ENUM, pvl::GUID_pvlStates, 0},
    };
    std::vector<pvl::ComPtr<ITypeInfo>> infos(3);
    for (UINT i = 0; i < 3; ++i) {
        ASSERT_EQ(library->GetTypeInfo(i, &infos[i]), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(infos[i]->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(Doc(infos[i].Get(), MEMBERID_NIL), expected[i].name);
        EXPECT_EQ(attr->typekind, expected[i].kind) << i;
        EXPECT_TRUE(IsEqualGUID(attr->guid, expected[i].guid)) << i;
        EXPECT_EQ(attr->wTypeFlags, expected[i].flags) << i;
        EXPECT_EQ(attr->wMajorVerNum, 1) << i;
        EXPECT_EQ(attr->wMinorVerNum, 0) << i;
        EXPECT_EQ(attr->lcid, 0x409u) << i;
        infos[i]->ReleaseTypeAttr(attr);
    }

    // _Connect: IDispatch's seven functions and nothing of its own.
    ITypeInfo* connect = infos[0].Get();
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(connect->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, 7);
    EXPECT_EQ(attr->cVars, 0);
    EXPECT_EQ(attr->cImplTypes, 1);
    connect->ReleaseTypeAttr(attr);
    const wchar_t* dispatchFunctions[] = {L"QueryInterface", L"AddRef", L"Release", L"GetTypeInfoCount",
                                          L"GetTypeInfo", L"GetIDsOfNames", L"Invoke"};
    for (UINT f = 0; f < 7; ++f) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(connect->GetFuncDesc(f, &func), S_OK);
        pvl::UniqueBstr name;
        UINT count = 0;
        EXPECT_EQ(connect->GetNames(func->memid, name.put(), 1, &count), S_OK);
        EXPECT_STREQ(name.c_str(), dispatchFunctions[f]);
        EXPECT_EQ(func->oVft, static_cast<SHORT>(f * sizeof(void*)));
        connect->ReleaseFuncDesc(func);
    }
    HREFTYPE ref = 0;
    pvl::ComPtr<ITypeInfo> base, interfacePart;
    ASSERT_EQ(connect->GetRefTypeOfImplType(0, &ref), S_OK);
    ASSERT_EQ(connect->GetRefTypeInfo(ref, &base), S_OK);
    EXPECT_EQ(Doc(base.Get(), MEMBERID_NIL), L"IDispatch");
    ASSERT_EQ(connect->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(connect->GetRefTypeInfo(ref, &interfacePart), S_OK);
    ASSERT_EQ(interfacePart->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                                    TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr->cFuncs, 0);
    EXPECT_EQ(attr->cbSizeVft, 7 * sizeof(void*));
    interfacePart->ReleaseTypeAttr(attr);

    // Connect: _Connect as its default interface, no event source.
    ITypeInfo* coclass = infos[1].Get();
    ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cImplTypes, 1);
    coclass->ReleaseTypeAttr(attr);
    INT implFlags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
    pvl::ComPtr<ITypeInfo> defaultInterface;
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, &defaultInterface), S_OK);
    EXPECT_EQ(Doc(defaultInterface.Get(), MEMBERID_NIL), L"_Connect");

    // pvlStates: 0 to 4 in order, each described by its own name.
    ITypeInfo* states = infos[2].Get();
    ASSERT_EQ(states->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cVars, 5);
    EXPECT_EQ(attr->cFuncs, 0);
    states->ReleaseTypeAttr(attr);
    const wchar_t* names[] = {L"pvlNone", L"pvlPlaying", L"pvlRecording", L"pvlPlayPause", L"pvlRecordPause"};
    const long values[] = {pvl::pvlNone, pvl::pvlPlaying, pvl::pvlRecording, pvl::pvlPlayPause, pvl::pvlRecordPause};
    for (UINT v = 0; v < 5; ++v) {
        VARDESC* var = nullptr;
        ASSERT_EQ(states->GetVarDesc(v, &var), S_OK);
        EXPECT_EQ(var->varkind, VAR_CONST);
        ASSERT_NE(var->lpvarValue, nullptr);
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(VariantChangeType(&value, var->lpvarValue, 0, VT_I4), S_OK);
        EXPECT_EQ(value.lVal, static_cast<LONG>(v));
        EXPECT_EQ(value.lVal, values[v]);
        std::wstring help;
        DWORD context = 1;
        EXPECT_EQ(Doc(states, var->memid, &help, &context), names[v]);
        EXPECT_EQ(help, names[v]);
        EXPECT_EQ(context, 0u);
        states->ReleaseVarDesc(var);
    }
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* key) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length)) return L"<missing>";
    return length ? std::wstring(static_cast<const wchar_t*>(value)) : std::wstring();
}

TEST_F(RegistrationTest, TheVersionBlockNamesTheProductInOneEnglishTable) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(DllPath().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(DllPath().c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(LOWORD(*translation), 0x0409);
    EXPECT_EQ(HIWORD(*translation), 0x04B0);

    EXPECT_EQ(VersionString(block, L"Comments"), L"Parvaline");
    EXPECT_EQ(VersionString(block, L"FileDescription"), L"Parvaline");
    EXPECT_EQ(VersionString(block, L"ProductName"), L"Parvaline");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.00");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.00");
    EXPECT_EQ(VersionString(block, L"InternalName"), L"pvlAddIn");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"pvlAddIn.dll");
    EXPECT_EQ(VersionString(block, L"OLESelfRegister"), L"");
    EXPECT_EQ(VersionString(block, L"CompanyName"), L"Parvaline");
    for (const wchar_t* key : {L"LegalCopyright", L"LegalTrademarks"}) {
        const std::wstring value = VersionString(block, key);
        EXPECT_NE(value, L"<missing>") << key;
        EXPECT_FALSE(value.empty());
    }
    // One string table only: no other language's block.
    void* value = nullptr;
    EXPECT_FALSE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904E4\\ProductName", &value, &length));
}

TEST_F(RegistrationTest, TheFourEntryPointsAreExportedByNameWithAlphabeticalOrdinals) {
    const auto* base = reinterpret_cast<const BYTE*>(module_.get());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), "pvlAddIn.dll");
    EXPECT_EQ(exports->NumberOfFunctions, 4u);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    std::vector<std::pair<std::string, DWORD>> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        found.push_back({reinterpret_cast<const char*>(base + names[i]), exports->Base + ordinals[i]});
    EXPECT_EQ(found, (std::vector<std::pair<std::string, DWORD>>{
                         {"DllCanUnloadNow", 1}, {"DllGetClassObject", 2}, {"DllRegisterServer", 3},
                         {"DllUnregisterServer", 4}}));
    // Ordinal and name reach the same function.
    EXPECT_EQ(GetProcAddress(module_.get(), MAKEINTRESOURCEA(3)), GetProcAddress(module_.get(), "DllRegisterServer"));
}

TEST_F(RegistrationTest, OnlyTheClassIdGetsAClassObject) {
    for (const GUID* id : {&pvl::LIBID_pvlAddIn, &pvl::IID__Connect, &pvl::GUID_pvlStates}) {
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject_(*id, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
    }
    pvl::ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject_(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
}

TEST_F(RegistrationTest, TheModuleCanUnloadOnlyWhenNoObjectOrLockRemains) {
    EXPECT_EQ(canUnloadNow_(), S_OK);
    pvl::ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject_(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
    pvl::ComPtr<IDTExtensibility2> addin;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin)), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    addin.Reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

}  // namespace
}  // namespace pvltest
