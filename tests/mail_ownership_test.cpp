// A voice message belongs to the mail it was recorded for, whatever the host does around it: the
// host raises a click on every button that shares its Tag, newer mail windows open during the
// recording, the recording's window closes or its mail is sent, and the host may not find an
// attachment by its name.
#include "support.h"
#include "recorder/compression.h"

namespace pvltest {
namespace {

using simhost::Host;

std::wstring Sibling(const wchar_t* name) { return TestFolder() + L"\\" + name; }

class OwnershipTest : public StandInEncoderTest {
protected:
    void SetUp() override {
        StandInEncoderTest::SetUp();
        a_ = OpenMail(&mailA_);
        b_ = OpenMail(&mailB_);
    }
    void TearDown() override {
        a_.Reset();
        b_.Reset();
        mailA_.Reset();
        mailB_.Reset();
        StandInEncoderTest::TearDown();
    }
    // The recorder's device commands since the last look, as verbs.
    std::vector<std::wstring> TakeVerbs() {
        auto verbs = mci_.Verbs();
        mci_.commands.clear();
        return verbs;
    }
    // Records in the newest window, for mail B.
    void RecordInB() {
        ASSERT_EQ(Record(b_)->Click(), S_OK);
        ASSERT_EQ(State(), pvl::pvlRecording);
        mci_.commands.clear();
    }

    ComPtr<simhost::MailItem> mailA_, mailB_;
    ComPtr<simhost::Inspector> a_, b_;  // A opened first, B second
};

// --- Clicks as the host raises them --------------------------------------------------------------------

TEST_F(OwnershipTest, APressInTheOlderWindowRecordsForItsOwnMailNeverTheNewerOne) {
    // The host raises it on B's Record too (same Tag), with A's button as Ctrl.
    EXPECT_EQ(Record(a_)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(Fields().RecordingMailItem, static_cast<IDispatch*>(mailA_.Get()));
    EXPECT_EQ(TakeVerbs(), (std::vector<std::wstring>{L"open", L"set", L"record"}));
    EXPECT_EQ(ButtonStates(a_), L"rpS");
    EXPECT_EQ(ButtonStates(b_), L"rpS");
    EXPECT_EQ(Stop(a_)->Click(), S_OK);
    EXPECT_EQ(Voices(mailA_), 1u);
    EXPECT_EQ(Voices(mailB_), 0u);
}

TEST_F(OwnershipTest, APressInTheOlderWindowNeverPlaysOverTheNewerMailsRecordingAndItsStopAttachesItThere) {
    RecordInB();
    EXPECT_EQ(Play(a_)->Click(), S_OK);
    EXPECT_EQ(Record(a_)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(TakeVerbs().empty()) << "the recording's device was reopened";
    EXPECT_EQ(Stop(a_)->Click(), S_OK);
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(Voices(mailA_), 0u);
}

// --- A recording and newer mail windows ------------------------------------------------------------------

TEST_F(OwnershipTest, ANewerWindowShowsTheRecordingAndItsStopAttachesToTheRecordingsMail) {
    RecordInB();
    ComPtr<simhost::MailItem> mailC;
    auto c = OpenMail(&mailC);
    EXPECT_EQ(ButtonStates(c), L"rpS");
    EXPECT_EQ(Stop(c)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(Voices(mailC), 0u);
    EXPECT_EQ(ButtonStates(c), L"RPs");
    c->CloseWindow();
}

TEST_F(OwnershipTest, NothingPressedInANewerWindowThrowsTheRecordingAway) {
    RecordInB();
    ComPtr<simhost::MailItem> mailC;
    auto c = OpenMail(&mailC);
    // Disabled there, but pressed all the same (a host that lets it through, or a script).
    EXPECT_EQ(Record(c)->Click(), S_OK);
    EXPECT_EQ(Play(c)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(TakeVerbs().empty()) << "the recording's device was reopened";
    EXPECT_EQ(Stop(c)->Click(), S_OK);
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(Voices(mailC), 0u);
    c->CloseWindow();
}

TEST_F(OwnershipTest, ClosingTheRecordingsOwnWindowAttachesToItsMailWhileANewerWindowHoldsTheBar) {
    RecordInB();
    ComPtr<simhost::MailItem> mailC;
    auto c = OpenMail(&mailC);
    b_->CloseWindow();
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(Voices(mailC), 0u);
    EXPECT_EQ(ButtonStates(c), L"RPs");
    EXPECT_EQ(Buttons(c).size(), 4u) << "the newer window keeps its bar";
    c->CloseWindow();
}

TEST_F(OwnershipTest, ClosingAnotherWindowLeavesTheRecordingRunning) {
    RecordInB();
    ComPtr<simhost::MailItem> mailC;
    auto c = OpenMail(&mailC);
    a_->CloseWindow();
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(TakeVerbs().empty());
    c->CloseWindow();  // the newest window's close stops, and attaches to B
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(Voices(mailC), 0u);
}

// --- Send ----------------------------------------------------------------------------------------------

TEST_F(OwnershipTest, SendDuringARecordingSendsTheMailWithItsVoice) {
    RecordInB();
    EXPECT_EQ(b_->SendMail(), S_OK);
    EXPECT_TRUE(mailB_->Sent());
    EXPECT_EQ(Voices(mailB_), 1u) << "the voice did not go with the mail";
    EXPECT_TRUE(b_->IsClosed());
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(Voices(mailA_), 0u);
}

TEST_F(OwnershipTest, SendFromAnOlderWindowDuringARecordingInANewerOneSendsTheVoiceToo) {
    ASSERT_EQ(Record(b_)->Click(), S_OK);
    ComPtr<simhost::MailItem> mailC;
    auto c = OpenMail(&mailC);
    EXPECT_EQ(b_->SendMail(), S_OK);
    EXPECT_TRUE(mailB_->Sent());
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(ButtonStates(c), L"RPs");
    c->CloseWindow();
}

TEST_F(OwnershipTest, ASendThatWouldLoseTheVoiceIsHeldBackAndTheMailStaysOpen) {
    RecordInB();
    Host::Get().Fail(L"Attachments.Add", E_FAIL);
    MessageBoxAnswerer user;  // the add-in tells the user when the voice could not be attached
    EXPECT_EQ(b_->SendMail(), S_FALSE) << "the send was not cancelled";
    EXPECT_FALSE(mailB_->Sent());
    EXPECT_FALSE(b_->IsClosed());
    EXPECT_EQ(Voices(mailB_), 0u);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_TRUE(FileExists(RecordingPath())) << "the recording itself must be kept";
    // Once the host accepts the attachment again, a new recording goes with the mail.
    Host::Get().ClearFaults();
    RecordInB();
    EXPECT_EQ(b_->SendMail(), S_OK);
    EXPECT_EQ(Voices(mailB_), 1u);
}

TEST_F(OwnershipTest, SendWhenIdleOrForAnotherMailLeavesTheRecorderAlone) {
    EXPECT_EQ(a_->SendMail(), S_OK);  // idle
    EXPECT_TRUE(TakeVerbs().empty());
    ComPtr<simhost::MailItem> mailC;
    auto c = OpenMail(&mailC);
    ASSERT_EQ(Record(c)->Click(), S_OK);
    mci_.commands.clear();
    EXPECT_EQ(b_->SendMail(), S_OK);  // another mail than the recording's
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(TakeVerbs().empty());
    EXPECT_EQ(Voices(mailB_), 0u);
    c->CloseWindow();
    EXPECT_EQ(Voices(mailC), 1u);
}

// --- Finding the earlier voice attachment -----------------------------------------------------------------

TEST_F(OwnershipTest, AHostWhoseItemTakesNumbersOnlyStillKeepsOneVoiceAttachment) {
    Host::Get().SetAttachmentItemByNumberOnly(true);
    ASSERT_EQ(mailB_->GetAttachments().AddFile(Sibling(L"fake_lame.exe")), S_OK);  // the user's own
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(Record(b_)->Click(), S_OK);
        ASSERT_EQ(Stop(b_)->Click(), S_OK);
    }
    EXPECT_EQ(Voices(mailB_), 1u);
    EXPECT_EQ(mailB_->GetAttachments().All().size(), 2u) << "the user's own attachment must stay";
    EXPECT_FALSE(Host::Get().LogMatching(L".FileName get").empty()) << "the attachments were not looked at";
}

TEST_F(OwnershipTest, AVoiceAttachmentFoundByItsDisplayNameWhenItsFileNameCannotBeRead) {
    Host::Get().SetAttachmentItemByNumberOnly(true);
    ASSERT_EQ(Record(b_)->Click(), S_OK);
    ASSERT_EQ(Stop(b_)->Click(), S_OK);
    Host::Get().Fail(L"Attachment.FileName", E_FAIL);
    ASSERT_EQ(Record(b_)->Click(), S_OK);
    ASSERT_EQ(Stop(b_)->Click(), S_OK);
    EXPECT_EQ(Voices(mailB_), 1u);
}

}  // namespace
}  // namespace pvltest
