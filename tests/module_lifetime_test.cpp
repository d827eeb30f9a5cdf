// The module's life in a host process: a host that ends without releasing its add-ins (Outlook's fast
// shutdown), and a host that unloads the module with FreeLibrary. The first runs in a child process
// of the test program (this program started again with --exit-host), since the process must really end.
#include "support.h"
#include "common/raii.h"
#include "server/class_factory.h"

namespace pvltest {

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// The built DLL, loaded as a host loads it, its add-in created and connected to `client`.
HRESULT LoadAndConnect(HMODULE* module, const simhost::Client& client, ComPtr<IDTExtensibility2>* addin) {
    *module = LoadLibraryW(WindowsPathOf(Env("PVL_ADDIN_DLL")).c_str());
    if (!*module) return pvl::LastErrorResult();
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(*module, "DllGetClassObject")));
    if (!getClassObject) return pvl::LastErrorResult();
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(getClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)));
    RETURN_IF_FAILED(factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                             reinterpret_cast<void**>(addin->GetAddressOf())));
    SAFEARRAY* custom = nullptr;
    return (*addin)->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), &custom);
}

// Runs this test program as a host in `mode` and returns its exit code, or a reason it has none.
std::string RunExitHost(const wchar_t* mode, DWORD* exitCode) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = std::wstring(L"\"") + self + L"\" --exit-host " + mode;
    STARTUPINFOW startup{sizeof(startup)};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return "the host process did not start (error " + std::to_string(GetLastError()) + ")";
    pvl::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), 99);
        return "the host process did not end within 60 s: its exit hung";
    }
    GetExitCodeProcess(processHandle.get(), exitCode);
    return {};
}

TEST(ModuleLifetime, AHostThatExitsWhileTheAddinIsConnectedAndIdleExitsCleanly) {
    DWORD code = 0xFFFFFFFF;
    const std::string failure = RunExitHost(L"idle", &code);
    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_EQ(code, 0u) << "exit code 0x" << std::hex << code << " (a fault at exit shows as an exception code)";
}

TEST(ModuleLifetime, AHostThatExitsDuringARecordingExitsCleanly) {
    DWORD code = 0xFFFFFFFF;
    const std::string failure = RunExitHost(L"recording", &code);
    ASSERT_TRUE(failure.empty()) << failure;
    EXPECT_EQ(code, 0u) << "exit code 0x" << std::hex << code << " (a fault at exit shows as an exception code)";
}

TEST(ModuleLifetime, UnloadingTheModuleLeavesNoWindowClassBehind) {
    HMODULE module = nullptr;
    {
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        ComPtr<IDTExtensibility2> addin;
        ASSERT_EQ(LoadAndConnect(&module, client, &addin), S_OK);
        // A recording makes the device's notice window (and its class) exist.
        auto mail = client.NewMail();
        auto inspector = client.Open(mail.Get());
        auto buttons = inspector->Bars().Named(L"Parvaline").front()->Controls().Buttons();
        buttons[1]->Click();
        buttons[3]->Click();
        WNDCLASSEXW info{sizeof(info)};
        ASSERT_TRUE(GetClassInfoExW(module, L"ParvalineMciNotify", &info)) << "the test saw no class to begin with";
        ASSERT_TRUE(GetClassInfoExW(module, L"ParvalineAbout", &info));
        inspector->CloseWindow();
        SAFEARRAY* custom = nullptr;
        addin->OnDisconnection(ext_dm_HostShutdown, &custom);
    }
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
    ASSERT_TRUE(FreeLibrary(module));
    ASSERT_EQ(GetModuleHandleW(L"pvlAddIn.dll"), nullptr) << "the module is still loaded";
    WNDCLASSEXW info{sizeof(info)};
    EXPECT_FALSE(GetClassInfoExW(module, L"ParvalineMciNotify", &info)) << "the device's notice window class outlived the module";
    EXPECT_FALSE(GetClassInfoExW(module, L"ParvalineAbout", &info)) << "the About window class outlived the module";
    EXPECT_EQ(simhost::Host::Get().LiveObjects(), 0);
}

}  // namespace

// The child's side: connect, open a mail, maybe record, then end the process as Outlook's fast
// shutdown does, without releasing anything.
int RunAsExitHost(const char* mode) {
    simhost::Host::Get().Reset();
    auto client = simhost::Client::Create();
    HMODULE module = nullptr;
    ComPtr<IDTExtensibility2> addin;
    if (FAILED(LoadAndConnect(&module, client, &addin))) return 3;
    auto mail = client.NewMail();
    auto inspector = client.Open(mail.Get());
    auto bars = inspector->Bars().Named(L"Parvaline");
    if (bars.empty() || bars.front()->Controls().Buttons().size() != 4) return 4;
    if (std::string(mode) == "recording") bars.front()->Controls().Buttons()[1]->Click();
    PumpMessages(500);
    ExitProcess(0);
}

}  // namespace pvltest
