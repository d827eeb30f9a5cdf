// The device layer against a driver that records on a thread of its own, as Wine's wave driver
// does: "stop" (or "close") only asks that thread to end, and it goes on writing the last buffers
// into the wave file for a while. Nothing may save or close meanwhile.
#include "support.h"
#include <mmsystem.h>

namespace pvltest {
namespace {

constexpr DWORD kWritesOnMs = 300;  // how long the thread goes on writing once asked to end

// The driver's recording: a thread that holds the wave file open, unshared, and writes to it.
struct Take {
    std::wstring path;
    pvl::UniqueFile file;
    pvl::UniqueHandle thread, started, endAsked;
    int recordings = 0;                     // recordings that started
    std::vector<std::wstring> whileWriting;  // the commands that arrived while the thread wrote

    bool Writing() const { return thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT; }
    void AskToEnd() const {
        if (endAsked) SetEvent(endAsked.get());
    }
    static DWORD WINAPI Write(void* p) {
        auto* take = static_cast<Take*>(p);
        SetEvent(take->started.get());
        const char block[320] = {};  // 10 ms of silence
        DWORD written = 0;
        while (WaitForSingleObject(take->endAsked.get(), 10) == WAIT_TIMEOUT)
            WriteFile(take->file.get(), block, sizeof(block), &written, nullptr);
        for (const DWORD asked = GetTickCount(); GetTickCount() - asked < kWritesOnMs; Sleep(10))
            WriteFile(take->file.get(), block, sizeof(block), &written, nullptr);
        take->file.reset();
        return 0;
    }
    // As Wine's driver: "record" returns once its thread runs.
    DWORD Start() {
        pvl::UniqueFile opened(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!opened) return MCIERR_FILE_WRITE;  // an earlier recording's thread still holds it
        file = std::move(opened);
        started.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        endAsked.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread.reset(CreateThread(nullptr, 0, &Take::Write, this, 0, nullptr));
        if (!thread) return MCIERR_OUT_OF_MEMORY;
        WaitForSingleObject(started.get(), 5000);
        ++recordings;
        return 0;
    }
    // Bounded, so that a thread never asked to end fails the test instead of hanging it.
    bool Finish() const {
        AskToEnd();
        return !thread || WaitForSingleObject(thread.get(), 5000) == WAIT_OBJECT_0;
    }
};

class ThreadedDriver final : public pvl::MciBackend {
public:
    ThreadedDriver(FakeMci* mci, Take* take) : device_(MakeFakeBackend(mci)), take_(take) {}
    DWORD Send(const std::wstring& command, HWND notifyWindow) override {
        const std::wstring verb = command.substr(0, command.find(L' '));
        if (take_->Writing()) take_->whileWriting.push_back(verb);
        if (verb == L"stop" || verb == L"close") take_->AskToEnd();
        const DWORD error = device_->Send(command, notifyWindow);
        return error || verb != L"record" ? error : take_->Start();
    }
    UINT DeviceId(const std::wstring& alias) override { return device_->DeviceId(alias); }
    HMODULE DriverModule() override {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&Take::Write), &module);
        return module;
    }

private:
    std::unique_ptr<pvl::MciBackend> device_;
    Take* take_;
};

class DriverThreadTest : public StandInEncoderTest {
protected:
    void SetUp() override {
        StandInEncoderTest::SetUp();
        ReleaseAddin();  // connected again with the threaded driver under the audio control
        take_.path = RecordingPath();
        pvl::SetMciBackendFactory([this] { return std::make_unique<ThreadedDriver>(&mci_, &take_); });
        Connect();
    }
    void TearDown() override {
        EXPECT_TRUE(take_.Finish()) << "the driver's recording thread did not end within 5 s";
        StandInEncoderTest::TearDown();
    }
    Take take_;
    MessageBoxAnswerer user_;  // a voice that could not be attached says so: answered, not waited on
};

TEST_F(DriverThreadTest, StopSavesAndClosesOnlyOnceTheDriversRecordingThreadHasEnded) {
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    ASSERT_EQ(Record(inspector)->Click(), S_OK);
    ASSERT_TRUE(take_.Writing()) << "the driver is not recording";
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);
    EXPECT_EQ(take_.whileWriting, std::vector<std::wstring>{L"stop"}) << "saved or closed while the driver still wrote";
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"open", L"set", L"record", L"stop", L"save", L"close"}));
    EXPECT_EQ(Voices(mail), 1u);
    EXPECT_TRUE(user_.Texts().empty()) << "Stop said the voice was not attached";
}

TEST_F(DriverThreadTest, ReleasingTheAddInDuringARecordingStopsItBeforeTheDeviceCloses) {
    ASSERT_EQ(Record(OpenMail())->Click(), S_OK);
    ASSERT_TRUE(take_.Writing()) << "the driver is not recording";
    ReleaseAddin();  // the host's last reference: the audio control goes, and closes the device
    EXPECT_EQ(take_.whileWriting, std::vector<std::wstring>{L"stop"}) << "closed while the driver still wrote";
    EXPECT_TRUE(DeleteFileW(RecordingPath().c_str())) << "the wave file is still held (error " << GetLastError() << ")";

    // The next recording works.
    take_.whileWriting.clear();
    Connect();
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    ASSERT_EQ(Record(inspector)->Click(), S_OK);
    EXPECT_EQ(take_.recordings, 2) << "the next recording did not start";
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);
    EXPECT_EQ(take_.whileWriting, std::vector<std::wstring>{L"stop"});
    EXPECT_EQ(Voices(mail), 1u);
}

}  // namespace
}  // namespace pvltest
