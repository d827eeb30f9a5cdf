// The "Parvaline" command bar of each mail window: what the add-in asks of the host, in order, the
// pictures it hands over, and how it behaves when any of those calls fails.
#include "support.h"

namespace pvltest {
namespace {

using simhost::Host;

class ToolbarTest : public AddinTest {};

// The whole conversation with the host when a new mail window opens.
TEST_F(ToolbarTest, ANewMailWindowGetsItsBarThroughExactlyTheseCalls) {
    Host::Get().ClearLog();
    auto inspector = OpenMail();
    const std::wstring b = L"CommandBarButton#";
    auto button = [&](int n, std::vector<std::wstring> props) {
        std::vector<std::wstring> out{L"CommandBar#1.Controls get", L"CommandBarControls#1.Add call 1"};
        for (auto& p : props) {
            if (p == L"OnAction") out.push_back(L"COMAddIn#1.ProgId get");
            out.push_back(b + std::to_wstring(n) + L"." +
                          (p == L"OnAction" ? L"OnAction put \"!<pvlAddIn.Connect>\"" : p));
        }
        return out;
    };
    std::vector<std::wstring> expected{
        L"Inspector#1.CurrentItem get",
        L"MailItem#1.QueryInterface QueryInterface _MailItem",
        L"Inspector#1.CurrentItem get",
        L"MailItem#1.QueryInterface QueryInterface _MailItem",
        L"Inspector#1.CommandBars get",
        L"CommandBars#1.Item get \"Parvaline\"",
        L"Inspector#1.CommandBars get",
        L"CommandBars#1.Add call \"Parvaline\", 1",
    };
    for (auto& part : {button(1, {L"Caption put \"\"", L"Style put 3", L"Picture put Picture", L"Mask put Picture",
                                  L"Tag put \"Parvaline\"", L"OnAction", L"Visible put True"}),
                       button(2, {L"Caption put \"Record\"", L"Tag put \"Record\"", L"Style put 3",
                                  L"Picture put Picture", L"Mask put Picture", L"OnAction", L"Visible put True"}),
                       button(3, {L"Caption put \"Play\"", L"Style put 3", L"Picture put Picture", L"Mask put Picture",
                                  L"Tag put \"Play\"", L"OnAction", L"Visible put True"}),
                       button(4, {L"Caption put \"Stop\"", L"Style put 3", L"Picture put Picture", L"Mask put Picture",
                                  L"Tag put \"Stop\"", L"OnAction", L"Visible put True"})})
        expected.insert(expected.end(), part.begin(), part.end());
    expected.insert(expected.end(), {L"CommandBar#1.Visible put True", b + L"2.Enabled put True",
                                     b + L"3.Enabled put False", b + L"4.Enabled put False"});
    EXPECT_EQ(Host::Get().LogText(), expected);

    auto bars = inspector->Bars().Named(L"Parvaline");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_EQ(bars[0]->Position(), 1);  // docked at the top
    EXPECT_TRUE(bars[0]->Visible());
    auto f = Fields();
    EXPECT_EQ(f.CurrentMailInspector, static_cast<IDispatch*>(inspector.Get()));
    EXPECT_EQ(f.CurrentMailItem, inspector->CurrentItem());
    EXPECT_EQ(f.CurrentCommandBar, static_cast<IDispatch*>(bars[0]));
    EXPECT_EQ(Buttons(inspector)[0]->Caption(), L"");
    EXPECT_EQ(Buttons(inspector)[0]->Enabled(), true);  // the host's default: never set
}

// --- The pictures, as the host received them --------------------------------------------------------

constexpr COLORREF kWhite = RGB(255, 255, 255), kBlack = RGB(0, 0, 0);

void ExpectSize(const simhost::ReceivedPicture& p) {
    ASSERT_TRUE(p);
    ASSERT_EQ(p.width, 16);
    ASSERT_EQ(p.height, 16);
}

TEST_F(ToolbarTest, RecordShowsARedDiscNinePixelsAcross) {
    auto inspector = OpenMail();
    const auto& pic = Record(inspector)->Picture();
    ExpectSize(pic);
    const COLORREF red = RGB(255, 0, 0);
    for (int i = 3; i <= 11; ++i) {
        EXPECT_EQ(pic.At(8, i), red) << "row 8, column " << i;  // the horizontal diameter
        EXPECT_EQ(pic.At(i + 1, 7), red) << "column 7, row " << i + 1;  // the vertical one
    }
    EXPECT_EQ(pic.At(8, 2), kWhite);
    EXPECT_EQ(pic.At(8, 12), kWhite);
    EXPECT_EQ(pic.At(3, 7), kWhite);
    EXPECT_EQ(pic.At(13, 7), kWhite);
    EXPECT_EQ(pic.At(4, 3), kWhite);  // a disc, not a square
    // The same bitmap is its mask.
    EXPECT_EQ(Record(inspector)->Mask().pixels, pic.pixels);
}

TEST_F(ToolbarTest, PlayShowsAGreenTrianglePointingRight) {
    auto inspector = OpenMail();
    const auto& pic = Play(inspector)->Picture();
    ExpectSize(pic);
    const COLORREF green = RGB(0, 255, 0);
    for (int r = 3; r <= 13; ++r) EXPECT_EQ(pic.At(r, 3), green) << "base, row " << r;
    EXPECT_EQ(pic.At(2, 3), kWhite);
    EXPECT_EQ(pic.At(14, 3), kWhite);
    EXPECT_EQ(pic.At(8, 13), green);  // the tip
    EXPECT_EQ(pic.At(7, 13), kWhite);
    EXPECT_EQ(pic.At(9, 13), kWhite);
    EXPECT_EQ(pic.At(8, 14), kWhite);
    EXPECT_EQ(pic.At(3, 8), kWhite);  // narrowing towards the tip
    EXPECT_EQ(Play(inspector)->Mask().pixels, pic.pixels);
}

TEST_F(ToolbarTest, StopShowsABlackSquare) {
    auto inspector = OpenMail();
    const auto& pic = Stop(inspector)->Picture();
    ExpectSize(pic);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            EXPECT_EQ(pic.At(r, c), (r >= 3 && r <= 12 && c >= 3 && c <= 12) ? kBlack : kWhite) << r << "," << c;
    EXPECT_EQ(Stop(inspector)->Mask().pixels, pic.pixels);
}

TEST_F(ToolbarTest, TheProductButtonsMaskCoversItsFigureExactly) {
    auto inspector = OpenMail();
    const auto& pic = Buttons(inspector)[0]->Picture();
    const auto& mask = Buttons(inspector)[0]->Mask();
    ExpectSize(pic);
    ExpectSize(mask);
    int figure = 0, minRow = 16, maxRow = -1, minCol = 16, maxCol = -1;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) {
            const bool inFigure = pic.At(r, c) != kWhite;
            EXPECT_EQ(mask.At(r, c), inFigure ? kBlack : kWhite) << r << "," << c;
            if (!inFigure) continue;
            ++figure;
            minRow = std::min(minRow, r), maxRow = std::max(maxRow, r);
            minCol = std::min(minCol, c), maxCol = std::max(maxCol, c);
            // Shades of grey and blue-grey: no saturated colour.
            const int red = GetRValue(pic.At(r, c)), green = GetGValue(pic.At(r, c)), blue = GetBValue(pic.At(r, c));
            EXPECT_LE(std::max({red, green, blue}) - std::min({red, green, blue}), 64) << r << "," << c;
        }
    EXPECT_EQ(minRow, 3);
    EXPECT_EQ(maxRow, 13);
    EXPECT_EQ(minCol, 3);
    EXPECT_EQ(maxCol, 12);
    EXPECT_GT(figure, 70);  // roughly round: most of the 11 x 10 box
}

// --- Which windows get a bar --------------------------------------------------------------------------

TEST_F(ToolbarTest, ANonMailWindowIsLeftAlone) {
    auto first = OpenMail();
    auto before = Fields();
    Host::Get().ClearLog();
    auto contact = client_.Open(client_.NewContact().Get());
    EXPECT_EQ(Host::Get().LogText(), (std::vector<std::wstring>{L"Inspector#2.CurrentItem get"}));
    EXPECT_TRUE(contact->Bars().All().empty());
    auto after = Fields();
    EXPECT_EQ(after.CurrentMailInspector, before.CurrentMailInspector);
    EXPECT_EQ(after.CurrentMailItem, before.CurrentMailItem);
    EXPECT_EQ(after.ButtonRecord, before.ButtonRecord);
    // Closing it reaches nothing of the add-in's.
    Host::Get().ClearLog();
    contact->CloseWindow();
    EXPECT_TRUE(Host::Get().Log().empty());
}

TEST_F(ToolbarTest, AWindowThatAlreadyHasAParvalineBarEndsWithExactlyOneNewOne) {
    auto mail = client_.NewMail();
    // A window whose bar survived an earlier session: the host opens it with the bar in place.
    Host::Get().ClearLog();
    auto inspector = simhost::Make<simhost::Inspector>(nullptr, mail.Get());
    auto old = inspector->Bars().AddBar(L"Parvaline", 1);
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = static_cast<IDispatch*>(inspector.Get());
    client_.app->GetInspectors().RaiseNewInspector(&arg);
    auto bars = inspector->Bars().Named(L"Parvaline");
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_NE(bars[0], old.Get());
    EXPECT_EQ(bars[0]->Controls().Buttons().size(), 4u);
    EXPECT_EQ(Host::Get().LogMatching(L"CommandBar#1.Delete call").size(), 1u);
    inspector->CloseWindow();
}

TEST_F(ToolbarTest, ClosingTheMailWindowRunsStopAndDeletesItsBar) {
    auto inspector = OpenMail();
    Record(inspector)->Click();
    deviceOps_.clear();
    inspector->CloseWindow();
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(deviceOps_.front(), L"Command=stop");
    EXPECT_EQ(deviceOps_.back(), L"Command=close");
    EXPECT_TRUE(inspector->Bars().Named(L"Parvaline").empty());
}

TEST_F(ToolbarTest, EveryWindowKeepsItsBarAndTheFieldsDescribeTheNewest) {
    auto first = OpenMail();
    auto second = OpenMail();
    EXPECT_EQ(Buttons(first).size(), 4u);
    EXPECT_EQ(Fields().CurrentMailInspector, static_cast<IDispatch*>(second.Get()));
    EXPECT_EQ(Fields().ButtonRecord, static_cast<IDispatch*>(Record(second)));
    // An older window that records nothing closes: the device is left alone, its bar goes.
    deviceOps_.clear();
    first->CloseWindow();
    EXPECT_TRUE(deviceOps_.empty());
    EXPECT_TRUE(first->Bars().Named(L"Parvaline").empty());
    // The newest window's close runs Stop as if clicked.
    second->CloseWindow();
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=close"}));
    EXPECT_TRUE(second->Bars().Named(L"Parvaline").empty());
    // The fields keep describing the closed window until the next mail window opens.
    EXPECT_EQ(Fields().CurrentMailInspector, static_cast<IDispatch*>(second.Get()));
    EXPECT_EQ(Fields().MailWindows, 0u);
}

// --- Host faults on each step ---------------------------------------------------------------------------

class ToolbarFaultTest : public AddinTest, public testing::WithParamInterface<std::tuple<const wchar_t*, int>> {};

TEST_P(ToolbarFaultTest, EveryOtherStepStillRunsAndNothingLeaks) {
    const auto [operation, times] = GetParam();
    const std::wstring op = operation;
    Host::Get().Fail(op, E_FAIL, times);
    Host::Get().ClearLog();
    auto inspector = OpenMail();
    const auto log = Host::Get().Log();
    ASSERT_FALSE(log.empty());
    if (op == L"Inspector.CurrentItem" || op == L"MailItem.QueryInterface") {
        // Whether the window shows a mail cannot be told: the add-in leaves it alone.
        EXPECT_EQ(log.size(), op == L"Inspector.CurrentItem" ? 1u : 2u);
        EXPECT_EQ(Fields().CurrentMailInspector, nullptr);
        return;
    }
    // The failing call was not the end of the handler: later steps still reached the host.
    size_t firstFailure = log.size();
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].member == op.substr(op.find(L'.') + 1) && log[i].object.starts_with(op.substr(0, op.find(L'.')))) {
            firstFailure = i;
            break;
        }
    ASSERT_LT(firstFailure, log.size()) << "the failing operation was never called";
    if (op == L"CommandBars.Add") {
        // Without a bar of its own the window gets no buttons: nothing is added anywhere.
        EXPECT_EQ(firstFailure + 1, log.size());
        EXPECT_TRUE(Buttons(inspector).empty());
    } else {
        EXPECT_LT(firstFailure + 1, log.size()) << "nothing ran after the failing step";
    }
    EXPECT_EQ(Fields().CurrentMailInspector, static_cast<IDispatch*>(inspector.Get()));
    // The window can be closed and the add-in released without a crash or a leak (checked on teardown).
    inspector->CloseWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ToolbarFaultTest,
    testing::Combine(testing::Values(L"Inspector.CurrentItem", L"MailItem.QueryInterface", L"Inspector.CommandBars",
                                     L"CommandBars.Item", L"CommandBars.Add", L"CommandBar.Controls",
                                     L"CommandBarControls.Add", L"CommandBarButton.Caption",
                                     L"CommandBarButton.Style", L"CommandBarButton.Picture", L"CommandBarButton.Mask",
                                     L"CommandBarButton.Tag", L"COMAddIn.ProgId", L"CommandBarButton.OnAction",
                                     L"CommandBarButton.Visible", L"CommandBar.Visible", L"CommandBarButton.Enabled"),
                     testing::Values(1, -1)));

TEST_F(ToolbarTest, AWindowWhoseBarCannotBeCreatedGetsNoButtonsAnywhere) {
    auto first = OpenMail();
    IDispatch* const firstBar = Fields().CurrentCommandBar;
    Host::Get().Fail(L"CommandBars.Add", E_FAIL);
    auto second = OpenMail();
    Host::Get().ClearFaults();
    // On the first window's bar they would record for the second window's mail from there.
    EXPECT_TRUE(second->Bars().Named(L"Parvaline").empty());
    EXPECT_EQ(Buttons(first).size(), 4u);
    EXPECT_EQ(Fields().CurrentMailInspector, static_cast<IDispatch*>(second.Get()));
    EXPECT_EQ(Fields().CurrentCommandBar, firstBar);
    // The first window still works for its own mail.
    EXPECT_EQ(Record(first)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(Stop(first)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(ToolbarTest, WithoutAProgIdTheButtonsComeWithoutAnAction) {
    Host::Get().Fail(L"COMAddIn.ProgId", DISP_E_MEMBERNOTFOUND);
    auto inspector = OpenMail();
    ASSERT_EQ(Buttons(inspector).size(), 4u);
    for (auto* b : Buttons(inspector)) EXPECT_EQ(b->OnAction(), L"");
    EXPECT_EQ(Buttons(inspector)[1]->Caption(), L"Record");
}

TEST_F(ToolbarTest, TheActionTextIsReadAfreshForEachButton) {
    auto inspector = OpenMail();
    EXPECT_EQ(Host::Get().LogMatching(L"COMAddIn#1.ProgId get").size(), 4u);
    for (auto* b : Buttons(inspector)) EXPECT_EQ(b->OnAction(), L"!<pvlAddIn.Connect>");
}

}  // namespace
}  // namespace pvltest
