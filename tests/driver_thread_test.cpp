// The device layer over a driver that records on a thread of its own, as Wine's wave driver does:
// "stop" or "close" only asks that thread to end, and it goes on writing the wave file for 300 ms.
// Nothing may save or close meanwhile.
#include "support.h"
#include <mmsystem.h>

namespace pvltest {
namespace {

struct Take {  // the driver's recording: a thread that holds the wave file open, unshared
    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
    pvl::UniqueHandle thread, started, endAsked;
    int recordings = 0;
    std::vector<std::wstring> whileWriting;  // the commands that came while the thread still wrote

    bool Writing() const { return thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT; }
    static DWORD WINAPI Write(void* p) {
        auto* take = static_cast<Take*>(p);
        SetEvent(take->started.get());
        const char block[320] = {};  // 10 ms of silence
        DWORD written = 0, asked = 0;
        for (; !asked || GetTickCount() - asked < 300; Sleep(10)) {
            WriteFile(take->file, block, sizeof(block), &written, nullptr);
            if (!asked && WaitForSingleObject(take->endAsked.get(), 0) == WAIT_OBJECT_0) asked = GetTickCount();
        }
        CloseHandle(take->file);
        return 0;
    }
    DWORD Start() {  // as Wine's driver: "record" returns once its thread runs
        const HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return MCIERR_FILE_WRITE;  // an earlier recording's thread holds it
        file = f;
        started.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        endAsked.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        thread.reset(CreateThread(nullptr, 0, &Take::Write, this, 0, nullptr));
        WaitForSingleObject(started.get(), 5000);
        ++recordings;
        return 0;
    }
};

class ThreadedDriver final : public pvl::MciBackend {
public:
    ThreadedDriver(FakeMci* mci, Take* take) : device_(MakeFakeBackend(mci)), take_(take) {}
    DWORD Send(const std::wstring& command, HWND notifyWindow) override {
        const std::wstring verb = command.substr(0, command.find(L' '));
        if (take_->Writing()) take_->whileWriting.push_back(verb);
        if ((verb == L"stop" || verb == L"close") && take_->endAsked) SetEvent(take_->endAsked.get());
        const DWORD error = device_->Send(command, notifyWindow);
        return error || verb != L"record" ? error : take_->Start();
    }
    UINT DeviceId(const std::wstring& alias) override { return device_->DeviceId(alias); }
    HMODULE DriverModule() override { return GetModuleHandleW(nullptr); }  // where Take::Write lies

private:
    std::unique_ptr<pvl::MciBackend> device_;
    Take* take_;
};

class DriverThreadTest : public StandInEncoderTest {
protected:
    void SetUp() override {
        StandInEncoderTest::SetUp();
        ReleaseAddin();  // connected again, with the threaded driver under the audio control
        take_.path = RecordingPath();
        pvl::SetMciBackendFactory([this] { return std::make_unique<ThreadedDriver>(&mci_, &take_); });
        Connect();
    }
    void TearDown() override {
        if (take_.endAsked) SetEvent(take_.endAsked.get());
        EXPECT_TRUE(!take_.thread || WaitForSingleObject(take_.thread.get(), 5000) == WAIT_OBJECT_0)
            << "the driver's recording thread did not end within 5 s";
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
    EXPECT_EQ(Voices(mail), 1u);
}

TEST_F(DriverThreadTest, ReleasingTheAddInDuringARecordingStopsItBeforeTheDeviceCloses) {
    ASSERT_EQ(Record(OpenMail())->Click(), S_OK);
    ASSERT_TRUE(take_.Writing()) << "the driver is not recording";
    ReleaseAddin();  // the host's last reference: the audio control goes, and closes the device
    EXPECT_EQ(take_.whileWriting, std::vector<std::wstring>{L"stop"}) << "closed while the driver still wrote";
    EXPECT_TRUE(DeleteFileW(RecordingPath().c_str())) << "the wave file is still held (error " << GetLastError() << ")";
    // The next recording works.
    Connect();
    auto inspector = OpenMail();
    ASSERT_EQ(Record(inspector)->Click(), S_OK);
    EXPECT_EQ(take_.recordings, 2) << "the next recording did not start";
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);
}

}  // namespace
}  // namespace pvltest
