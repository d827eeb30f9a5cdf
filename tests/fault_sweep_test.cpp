// The whole voice mail, run again and again with one thing going wrong each time: every operation
// the add-in calls on the host, every command it sends the audio device, every way the encoder can
// let it down. Whatever fails, the host must not pay for it: no crash, no reference or event
// connection left behind, no handle or GDI/USER object leaked, Stop still ends idle with Record and
// Play on and Stop off, and no MP3 of an earlier recording is ever attached.
//
// The host operations are not listed here: they are read from the call log of a clean run, so an
// operation the add-in starts calling tomorrow is swept without anyone remembering to add it.
#include "support.h"
#include "about/about_window.h"
#include "recorder/compression.h"
#include "recorder/user_messages.h"
#include "resource_meter.h"
#include "simhost/ribbon.h"
#include "server/class_factory.h"
#include <mmsystem.h>
#include <algorithm>
#include <functional>

namespace pvltest {
namespace {

using simhost::Host;

std::wstring Sibling(const wchar_t* name) { return TestFolder() + L"\\" + name; }

// What a stale voice message beside the component holds: recognisable if it is ever attached.
const std::vector<unsigned char> kStaleMp3{'I', 'D', '3', 's', 't', 'a', 'l', 'e'};

// One thing that goes wrong.
struct Fault {
    std::wstring hostOperation;  // "Type.Member", failing with E_FAIL
    int times = -1;              // every call, or only the first
    std::wstring deviceVerb;     // an MCI verb the scripted device refuses
    std::wstring encoder = L"encode";  // the stand-in's mode, or "missing", "refused" (the program may not
                                       // start), either of them with ", no library"
    std::wstring staleMp3 = L"removable";  // or "read-only", "held open": the earlier MP3 cannot go
    bool waveHeld = false;     // a program holds the earlier recording open, not letting it be deleted
    bool silence = false;      // the device records silence (a muted microphone)
    bool releaseRecording = false;  // the host lets go of the add-in while a recording runs
    std::wstring Name() const {
        if (!hostOperation.empty()) return L"host " + hostOperation + (times < 0 ? L" (every call)" : L" (first call)");
        if (!deviceVerb.empty()) return L"device " + deviceVerb;
        if (staleMp3 != L"removable") return L"earlier MP3 " + staleMp3;
        if (waveHeld) return L"earlier recording held open";
        if (silence) return L"a silent microphone";
        if (releaseRecording) return L"released while recording";
        return L"encoder " + encoder;
    }
};

// What one run of the scenario left behind.
struct Outcome {
    HRESULT connectResult = E_FAIL, disconnectResult = E_FAIL;
    bool secondHasBar = false;
    pvl::pvlStates stateAfterStop = pvl::pvlRecording;
    std::wstring buttonsAfterStop;  // "RPs" letters of the bar Stop was clicked on
    std::vector<std::vector<unsigned char>> firstMailVoice, secondMailVoice, replyVoice;  // Parvaline.mp3 attachments
    bool recordingAtSend = false, secondSent = false, secondClosedBySend = false, replyRecorded = false;
    long hostObjects = -1, advisedSinks = -1, connects = -1;
    bool aboutWindowLeft = true;
    int lostVoices = 0;               // Stops that ended a recording and added no voice attachment
    std::vector<std::wstring> boxes;  // what the user was told
};

// The program cannot start, or fails, but the library beside the component encodes in its place.
bool InProcessEncodes(const Fault& f) { return f.encoder != L"encode" && f.encoder.find(L"no library") == std::wstring::npos; }
// Neither the program nor the library gives an MP3 of this recording.
bool NoEncoder(const Fault& f) { return f.encoder != L"encode" && !InProcessEncodes(f); }

class FaultSweepTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        DeleteFileW(Sibling(L"lame.exe").c_str());
        ASSERT_TRUE(CopyFileW(Sibling(L"fake_lame.exe").c_str(), Sibling(L"lame.exe").c_str(), FALSE));
    }
    static void TearDownTestSuite() {
        std::printf("FaultSweep: %d scenarios in all, each checked for crash, leaks, state, buttons and a stale "
                    "attachment\n", scenarios_);
        DeleteFileW(Sibling(L"lame.exe").c_str());
        DeleteFileW(Mp3Path().c_str());
        DeleteFileW(RecordingPath().c_str());
        DeleteFileW(Sibling(L"fake_lame.log").c_str());
    }
    void TearDown() override {
        pvl::OverrideEncoderTimeout(0);
        pvl::OverrideEncoderStart(ERROR_SUCCESS);
        SetEnvironmentVariableW(L"PVL_FAKE_LAME", nullptr);
        if (FileExists(Sibling(L"libmp3lame.dll.away")))
            MoveFileW(Sibling(L"libmp3lame.dll.away").c_str(), Sibling(L"libmp3lame.dll").c_str());
        pvl::SetMciBackendFactory({});
        Host::Get().Reset();
        if (!FileExists(Sibling(L"lame.exe"))) CopyFileW(Sibling(L"fake_lame.exe").c_str(), Sibling(L"lame.exe").c_str(), FALSE);
    }

    static std::vector<simhost::CommandBarButton*> Bar(const ComPtr<simhost::Inspector>& inspector) {
        std::vector<simhost::CommandBarButton*> out;
        for (auto* bar : inspector->Bars().Named(L"Parvaline"))
            for (auto& b : bar->Controls().Buttons()) out.push_back(b.Get());
        return out;
    }
    static std::wstring States(const std::vector<simhost::CommandBarButton*>& b) {
        if (b.size() < 4) return L"(no bar)";
        return {b[1]->Enabled() ? L'R' : L'r', b[2]->Enabled() ? L'P' : L'p', b[3]->Enabled() ? L'S' : L's'};
    }
    static std::vector<std::vector<unsigned char>> Voice(const ComPtr<simhost::MailItem>& mail) {
        std::vector<std::vector<unsigned char>> out;
        for (auto& a : mail->GetAttachments().All())
            if (a->DisplayName() == L"Parvaline.mp3") out.push_back(a->Data());
        return out;
    }

    // connect, new mail, Record, a second mail window, Stop, Record and Stop again, Play, close both
    // windows, disconnect, release: with `fault` in force from the connection on.
    Outcome Run(const Fault& fault) {
        Outcome out;
        Host::Get().Reset();
        FakeMci device;
        if (!fault.deviceVerb.empty())
            device.failVerb[fault.deviceVerb] = fault.deviceVerb == L"save" ? 274 /* MCIERR_FILE_NOT_SAVED */
                                                                          : MCIERR_DEVICE_NOT_READY;
        if (fault.silence) device.saveLevel = 0;
        pvl::SetMciBackendFactory([&device] { return MakeFakeBackend(&device); });
        if (fault.encoder.rfind(L"missing", 0) == 0) {
            DeleteFileW(Sibling(L"lame.exe").c_str());
        } else if (fault.encoder.rfind(L"refused", 0) == 0) {
            pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
        } else {
            SetEnvironmentVariableW(L"PVL_FAKE_LAME", fault.encoder.substr(0, fault.encoder.find(L',')).c_str());
        }
        if (fault.encoder.find(L"no library") != std::wstring::npos)
            MoveFileW(Sibling(L"libmp3lame.dll").c_str(), Sibling(L"libmp3lame.dll.away").c_str());
        MessageBoxAnswerer user;
        if (fault.encoder == L"hang") pvl::OverrideEncoderTimeout(1000);
        SetFileAttributesW(Mp3Path().c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFileBytes(Mp3Path(), kStaleMp3);
        pvl::UniqueFile waveHolder;  // a media player with the earlier recording open
        if (fault.waveHeld) {
            WriteFileBytes(RecordingPath(), ToneWave(0.5));
            waveHolder.reset(CreateFileW(RecordingPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
        }
        pvl::UniqueFile holder;  // another program reading the earlier message, not letting it go
        if (fault.staleMp3 == L"read-only")
            SetFileAttributesW(Mp3Path().c_str(), FILE_ATTRIBUTE_READONLY);
        if (fault.staleMp3 == L"held open")
            holder.reset(CreateFileW(Mp3Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));

        {
            auto client = simhost::Client::Create();
            // The harsher host: attachments are found by number only.
            Host::Get().SetAttachmentItemByNumberOnly(true);
            if (!fault.hostOperation.empty()) Host::Get().Fail(fault.hostOperation, E_FAIL, fault.times);
            ComPtr<IClassFactory> factory;
            ComPtr<IDTExtensibility2> addin;
            EXPECT_EQ(pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin)), S_OK);
            factory.Reset();
            if (!addin) return out;
            auto* connect = static_cast<pvl::Connect*>(addin.Get());
            SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
            out.connectResult = addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), &custom);

            // A host with a ribbon: the first recording starts from the first window's group.
            simhost::Ribbon& ribbon = client.app->GetRibbon();
            ribbon.Attach(addin.Get(), L"pvlAddIn.Connect");
            auto firstMail = client.NewMail();
            auto first = client.Open(firstMail.Get());
            ribbon.Update();
            if (ribbon.Press(first.Get(), L"pvlRecord") != S_OK || connect->View().RecorderState != pvl::pvlRecording)
                if (auto b = Bar(first); b.size() >= 4) b[1]->Click();  // the bar, where the group is gone or off
            auto secondMail = client.NewMail();
            auto second = client.Open(secondMail.Get());
            // Stop on the newest bar the user can see: the second window's, or the first's when the
            // second got none. The recording is the first mail's all the same.
            auto b = Bar(second);
            out.secondHasBar = b.size() >= 4;
            if (!out.secondHasBar) b = Bar(first);
            // Anything that may end a recording, noting whether it ended one whose voice then
            // reached neither mail.
            ComPtr<simhost::MailItem> reply;  // written inline in the main window, later
            auto track = [&](const std::function<void()>& action) {
                const pvl::pvlStates state = connect ? connect->View().RecorderState : pvl::pvlNone;
                std::vector<simhost::MailItem*> mails{firstMail.Get(), secondMail.Get()};
                if (reply) mails.push_back(reply.Get());
                // Held, so that a new attachment cannot take the place of a deleted one in memory.
                std::vector<ComPtr<simhost::Attachment>> earlier;
                for (auto* m : mails)
                    for (auto& a : m->GetAttachments().All()) earlier.push_back(a);
                action();
                bool added = false;
                for (auto* m : mails)
                    for (auto& a : m->GetAttachments().All())
                        added |= a->DisplayName() == L"Parvaline.mp3" &&
                                 std::none_of(earlier.begin(), earlier.end(), [&](auto& e) { return e.Get() == a.Get(); });
                const bool ended = !connect || connect->View().RecorderState == pvl::pvlNone;
                out.lostVoices += (state == pvl::pvlRecording || state == pvl::pvlRecordPause) && ended && !added;
            };
            if (b.size() >= 4) {
                track([&] { b[3]->Click(); });
            } else {  // no bar anywhere: the group's Stop, where the recording was started
                ribbon.Update();
                track([&] { ribbon.Press(first.Get(), L"pvlStop"); });
            }
            out.stateAfterStop = connect->View().RecorderState;
            out.buttonsAfterStop = States(b);
            // A recording of that bar's own mail, played back, then replaced by another one that the
            // mail's Send stops and attaches.
            if (b.size() >= 4) {
                b[1]->Click();
                track([&] { b[3]->Click(); });
                b[2]->Click();  // Play
                b[1]->Click();
            }
            // Whether the mail about to be sent is the one recording.
            out.recordingAtSend = connect->View().RecorderState == pvl::pvlRecording &&
                                  connect->View().RecordingMailItem ==
                                      static_cast<IDispatch*>(out.secondHasBar ? secondMail.Get() : firstMail.Get());
            auto sender = out.secondHasBar ? second : first;
            track([&] { sender->SendMail(); });
            out.secondSent = secondMail->Sent();
            out.secondClosedBySend = second->IsClosed();
            // A reply written inline in the main window, recorded from the group on its Message tab,
            // then left for another mail: the reply closing attaches its voice.
            auto explorer = client.MainWindow();
            auto received = client.NewReceivedMail();
            if (explorer) reply = explorer->Reply(received.Get());
            if (reply) {
                ribbon.Update();
                ribbon.Press(explorer.Get(), L"pvlRecord");
                out.replyRecorded = connect->View().RecorderState == pvl::pvlRecording;
                track([&] { explorer->SelectOther(); });
            }
            track([&] { second->CloseWindow(); });
            ribbon.Update();
            if (fault.releaseRecording) {
                // Recording again in the first window when the host lets go of the add-in.
                if (auto fb = Bar(first); fb.size() >= 4) fb[1]->Click();
                out.disconnectResult = addin->OnDisconnection(ext_dm_UserClosed, &custom);
                ribbon.Detach();
                track([&] {
                    connect = nullptr;
                    addin.Reset();
                });
                track([&] { first->CloseWindow(); });
            } else {
                track([&] { first->CloseWindow(); });
                ribbon.Detach();
                out.disconnectResult = addin->OnDisconnection(ext_dm_HostShutdown, &custom);
                connect = nullptr;
                addin.Reset();
            }
            SafeArrayDestroy(custom);
            if (reply) out.replyVoice = Voice(reply);
            out.firstMailVoice = Voice(firstMail);
            out.secondMailVoice = Voice(secondMail);
            client.app->CloseAll();
        }
        out.boxes = user.Texts();
        holder.reset();
        waveHolder.reset();
        SetFileAttributesW(Mp3Path().c_str(), FILE_ATTRIBUTE_NORMAL);
        out.hostObjects = Host::Get().LiveObjects();
        out.advisedSinks = Host::Get().AdvisedSinks();
        out.connects = pvl::Connect::LiveObjects();
        out.aboutWindowLeft = pvl::ExistingAboutWindow() != nullptr;
        pvl::SetMciBackendFactory({});
        Host::Get().ClearFaults();
        pvl::OverrideEncoderTimeout(0);
        pvl::OverrideEncoderStart(ERROR_SUCCESS);
        SetEnvironmentVariableW(L"PVL_FAKE_LAME", nullptr);
        if (FileExists(Sibling(L"libmp3lame.dll.away")))
            MoveFileW(Sibling(L"libmp3lame.dll.away").c_str(), Sibling(L"libmp3lame.dll").c_str());
        if (!FileExists(Sibling(L"lame.exe"))) CopyFileW(Sibling(L"fake_lame.exe").c_str(), Sibling(L"lame.exe").c_str(), FALSE);
        return out;
    }

    // The operations a clean run calls on the host, as "Type.Member", in first-call order.
    std::vector<std::wstring> HostOperationsOfACleanRun() {
        Run({});
        std::vector<std::wstring> ops;
        for (const simhost::Call& c : Host::Get().Log()) {
            const std::wstring op = c.object.substr(0, c.object.find(L'#')) + L"." + c.member;
            if (std::find(ops.begin(), ops.end(), op) == ops.end()) ops.push_back(op);
        }
        return ops;
    }

    // Whether the fault can keep the second window's voice message from being attached; the
    // operations named here are on the way to the attachment and none other is. Any MP3 that is
    // attached must be this run's, in every case.
    static bool MayPreventAttachment(const Fault& f) {
        static const std::vector<std::wstring> onTheWay{
            L"Application.QueryInterface", L"Application.Inspectors", L"Inspector.CurrentItem",
            L"MailItem.QueryInterface",    L"MailItem.Attachments",   L"Attachments.Add",
            L"Inspector.CommandBars",      L"CommandBars.Add",        L"CommandBar.Controls",
            L"CommandBarControls.Add",     L"Inspectors.FindConnectionPoint", L"CommandBarButton.FindConnectionPoint",
            L"Explorers.FindConnectionPoint", L"Explorer.FindConnectionPoint"};
        if (!f.hostOperation.empty())
            return std::find(onTheWay.begin(), onTheWay.end(), f.hostOperation) != onTheWay.end();
        if (!f.deviceVerb.empty())
            return f.deviceVerb == L"open" || f.deviceVerb == L"set" || f.deviceVerb == L"record" || f.deviceVerb == L"save";
        return NoEncoder(f) || f.staleMp3 != L"removable" || f.waveHeld;
    }
    // Whether the fault can keep the bar from being built or its buttons from being set.
    static bool MayChangeTheBar(const Fault& f) {
        static const std::vector<std::wstring> barSteps{
            L"Application.QueryInterface", L"Application.Inspectors", L"Inspector.CurrentItem",
            L"MailItem.QueryInterface",    L"Inspector.CommandBars",  L"CommandBars.Add",
            L"CommandBar.Controls",        L"CommandBarControls.Add", L"CommandBarButton.Enabled",
            L"Inspectors.FindConnectionPoint", L"CommandBarButton.FindConnectionPoint"};
        return std::find(barSteps.begin(), barSteps.end(), f.hostOperation) != barSteps.end();
    }

    void Check(const Fault& fault, const Outcome& o, const Resources& before) {
        const std::wstring wide = fault.Name();
        const std::string name(wide.begin(), wide.end());
        SCOPED_TRACE(name);
        EXPECT_EQ(o.connectResult, S_OK);
        EXPECT_EQ(o.disconnectResult, S_OK);
        // Buttons whose clicks cannot be heard end nothing; the windows' closing still does.
        const bool deafBar = fault.hostOperation == L"CommandBarButton.FindConnectionPoint";
        if (!deafBar) EXPECT_EQ(o.stateAfterStop, pvl::pvlNone);
        if (!MayChangeTheBar(fault)) {
            EXPECT_TRUE(o.secondHasBar);
            EXPECT_EQ(o.buttonsAfterStop, L"RPs");
        } else if (o.buttonsAfterStop != L"(no bar)" && fault.hostOperation != L"CommandBarButton.Enabled" && !deafBar) {
            EXPECT_EQ(o.buttonsAfterStop, L"RPs");
        }
        // Each recording goes to the mail it was made for, and only this run's recording. The
        // first mail's came from its own window and was stopped from the second's bar; when the
        // second window got no bar, every recording was the first mail's.
        const bool mayKeepBoth = fault.hostOperation == L"Attachments.Item" || fault.hostOperation == L"Attachment.Delete" ||
                                 fault.hostOperation == L"Attachments.Count";
        const auto& ownMailVoice = o.secondHasBar ? o.secondMailVoice : o.firstMailVoice;
        EXPECT_LE(o.firstMailVoice.size(), o.secondHasBar ? 1u : (mayKeepBoth ? 3u : 1u));
        if (o.secondHasBar) EXPECT_LE(o.secondMailVoice.size(), mayKeepBoth ? 2u : 1u);
        if (!o.secondHasBar) EXPECT_TRUE(o.secondMailVoice.empty()) << "a recording went to a mail it was not made for";
        for (const auto* voices : {&o.firstMailVoice, &o.secondMailVoice})
            for (const auto& mp3 : *voices) EXPECT_NE(mp3, kStaleMp3) << "an earlier recording was attached";
        if (!MayPreventAttachment(fault)) {
            EXPECT_EQ(o.firstMailVoice.size(), 1u);
            EXPECT_GE(ownMailVoice.size(), 1u);
        }
        const bool cannotStart = fault.deviceVerb == L"open" || fault.deviceVerb == L"set" || fault.deviceVerb == L"record";
        if (NoEncoder(fault) || cannotStart || fault.deviceVerb == L"save" || fault.waveHeld) {
            EXPECT_TRUE(o.firstMailVoice.empty());
            EXPECT_TRUE(o.secondMailVoice.empty());
            EXPECT_TRUE(o.replyVoice.empty());
        }
        // The reply written inline gets its voice when it closes, like any mail.
        if (!MayPreventAttachment(fault) && o.replyRecorded) EXPECT_EQ(o.replyVoice.size(), 1u);
        for (const auto& mp3 : o.replyVoice) EXPECT_NE(mp3, kStaleMp3) << "an earlier recording was attached";
        // A mail sent during its recording carries that recording, or was not sent.
        if (o.recordingAtSend && o.secondHasBar) {
            if (o.secondSent) EXPECT_GE(o.secondMailVoice.size(), 1u) << "a mail left without its voice";
            EXPECT_EQ(o.secondSent, o.secondClosedBySend);
        }
        // The user is told of every recording that ended without reaching a mail, of a recording that
        // could not start, of an earlier recording held open, of a silent one; and of nothing else.
        int notAttached = 0, couldNotStart = 0, held = 0, silent = 0;
        for (const auto& text : o.boxes) {
            if (text.rfind(pvl::kNotAttachedText, 0) == 0 || text == pvl::kLostText) ++notAttached;
            else if (text == pvl::kCannotStartText) ++couldNotStart;
            else if (text == pvl::RecordingHeldText(RecordingPath(), {})) ++held;
            else if (text == pvl::kSilentText) ++silent;
            else ADD_FAILURE() << "an unexpected message: " << std::string(text.begin(), text.end());
        }
        EXPECT_EQ(notAttached, o.lostVoices) << "voices in the mails: " << o.firstMailVoice.size() << ", "
            << o.secondMailVoice.size() << " and " << o.replyVoice.size() << ", state after Stop " << o.stateAfterStop
            << ", buttons " << std::string(o.buttonsAfterStop.begin(), o.buttonsAfterStop.end());
        if (NoEncoder(fault)) EXPECT_GE(o.lostVoices, 1);
        EXPECT_EQ(couldNotStart > 0, cannotStart);
        EXPECT_EQ(held > 0, fault.waveHeld);
        const size_t voices = o.firstMailVoice.size() + o.secondMailVoice.size() + o.replyVoice.size();
        if (fault.silence) EXPECT_GE(silent, static_cast<int>(std::min<size_t>(voices, 1)));
        else EXPECT_EQ(silent, 0);
        // Nothing of the host's is still held, nothing of the add-in's still alive.
        EXPECT_EQ(o.hostObjects, 0);
        EXPECT_EQ(o.advisedSinks, 0);
        EXPECT_EQ(o.connects, 0);
        EXPECT_FALSE(o.aboutWindowLeft);
        const Resources after = MeasureResources();
        EXPECT_LE(after.handles, before.handles + kHandleSlack) << "kernel handles";
        EXPECT_LE(after.gdiObjects, before.gdiObjects) << "GDI objects";
        EXPECT_LE(after.userObjects, before.userObjects) << "USER objects";
    }

    // Each run may leave the count of kernel handles a little above or below where it started: Wine
    // keeps a few handles of its own for the encoder processes it has started, and lets them go
    // later. A leak of the add-in's grows with every run, which the sweep's total catches.
    static constexpr DWORD kHandleSlack = 4;
    static inline int scenarios_ = 0;

    // Runs every fault, after a first untimed run that lets the process reach its steady state
    // (the wave driver pinned, classes registered, the picture code loaded).
    int Sweep(const std::vector<Fault>& faults) {
        Run({});
        // The first message boxes of a process make the system's own GDI objects (fonts, icons) that
        // later boxes share: shown twice here, they are part of the steady state.
        Run({L"Attachments.Add", -1});
        const Resources start = MeasureResources();
        int runs = 0;
        for (const Fault& f : faults) {
            const Resources before = MeasureResources();
            const Outcome o = Run(f);
            Check(f, o, before);
            ++runs;
            ++scenarios_;
        }
        const Resources end = MeasureResources();
        EXPECT_LE(end.handles, start.handles + kHandleSlack) << "kernel handles over the whole sweep";
        EXPECT_LE(end.gdiObjects, start.gdiObjects) << "GDI objects over the whole sweep";
        EXPECT_LE(end.userObjects, start.userObjects) << "USER objects over the whole sweep";
        std::printf("  handles %lu -> %lu, GDI %lu -> %lu, USER %lu -> %lu over %d runs (%s)\n",
                    static_cast<unsigned long>(start.handles), static_cast<unsigned long>(end.handles),
                    static_cast<unsigned long>(start.gdiObjects), static_cast<unsigned long>(end.gdiObjects),
                    static_cast<unsigned long>(start.userObjects), static_cast<unsigned long>(end.userObjects), runs, end.method);
        return runs;
    }
};

TEST_F(FaultSweepTest, ACleanRunAttachesEachRecordingToItsOwnMailAndSendsTheVoice) {
    Run({});  // warm-up, untimed
    const Resources before = MeasureResources();
    const Outcome o = Run({});
    Check({}, o, before);
    ++scenarios_;
    EXPECT_TRUE(o.secondHasBar);
    EXPECT_EQ(o.firstMailVoice.size(), 1u);
    EXPECT_EQ(o.secondMailVoice.size(), 1u);
    EXPECT_TRUE(o.recordingAtSend);
    EXPECT_TRUE(o.secondSent);
}

TEST_F(FaultSweepTest, EveryHostOperationFailingOnEveryCall) {
    const auto ops = HostOperationsOfACleanRun();
    ASSERT_GE(ops.size(), 20u) << "the clean run's log looks too short to be the whole scenario";
    std::vector<Fault> faults;
    for (const auto& op : ops) faults.push_back({op, -1});
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios, one per host operation failing on every call:\n ", runs);
    for (const auto& op : ops) std::printf(" %ls", op.c_str());
    std::printf("\n");
}

TEST_F(FaultSweepTest, EveryHostOperationFailingOnItsFirstCallOnly) {
    const auto ops = HostOperationsOfACleanRun();
    std::vector<Fault> faults;
    for (const auto& op : ops) faults.push_back({op, 1});
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios, one per host operation failing on its first call only\n", runs);
}

TEST_F(FaultSweepTest, EveryEventSourceRefusingItsEvents) {
    // Finding an event source's connection point goes through COM, not the host's log: named here.
    std::vector<Fault> faults;
    for (const wchar_t* source : {L"Inspectors", L"Explorers", L"Explorer", L"Inspector", L"CommandBarButton", L"MailItem"})
        faults.push_back({std::wstring(source) + L".FindConnectionPoint", -1});
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios, one per kind of event source refusing its events\n", runs);
}

TEST_F(FaultSweepTest, EveryDeviceCommandFailing) {
    std::vector<Fault> faults;
    for (const wchar_t* verb : {L"open", L"set", L"record", L"play", L"stop", L"save", L"close"})
        faults.push_back({L"", -1, verb});
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios, one per device command failing\n", runs);
}

TEST_F(FaultSweepTest, EveryWayTheEncoderCanFail) {
    std::vector<Fault> faults;
    for (const wchar_t* mode : {L"missing", L"refused", L"missing, no library", L"refused, no library", L"fail", L"crash",
                                L"hang", L"nothing", L"half", L"half, no library", L"crash, no library"})
        faults.push_back({L"", -1, L"", mode});
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios, one per encoder outcome\n", runs);
}

TEST_F(FaultSweepTest, WhatNobodyUsedToHear) {
    std::vector<Fault> faults(3);
    faults[0].waveHeld = true;
    faults[1].silence = true;
    faults[2].releaseRecording = true;
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios: an earlier recording held open, a silent microphone, the add-in released "
                "while recording\n", runs);
}

TEST_F(FaultSweepTest, AnEarlierMp3ThatCannotBeRemovedIsNeverAttached) {
    std::vector<Fault> faults;
    for (const wchar_t* how : {L"read-only", L"held open"}) {
        Fault f;
        f.staleMp3 = how;
        faults.push_back(f);
    }
    const int runs = Sweep(faults);
    std::printf("FaultSweep: %d scenarios, one per way an earlier MP3 can stay\n", runs);
}

}  // namespace
}  // namespace pvltest
