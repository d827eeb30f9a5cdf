// The simulated host's main window: Explorers and Explorer through their dispatch ids, and a reply
// written inline in the reading pane, whose events must come in Outlook's order for each way the
// reply leaves the pane. A listener connected as an add-in connects writes down every event, and
// what ActiveInlineResponse answers while it runs.
#include "support.h"
#include "common/dispatch_call.h"
#include "common/event_field.h"

namespace pvltest {
namespace {

using simhost::Host;
namespace id = pvl::host::dispid;

class ExplorerHostTest : public testing::Test {
protected:
    void SetUp() override {
        Host::Get().Reset();
        client_ = simhost::Client::Create();
        explorer_ = client_.MainWindow();
        ASSERT_TRUE(explorer_);
        ASSERT_EQ(explorers_.Assign(&client_.app->GetExplorers()), S_OK);
        ASSERT_EQ(inspectors_.Assign(&client_.app->GetInspectors()), S_OK);
        ASSERT_EQ(explorerEvents_.Assign(explorer_.Get()), S_OK);
        received_ = client_.NewReceivedMail();
    }
    void TearDown() override {
        explorers_.Clear();
        inspectors_.Clear();
        explorerEvents_.Clear();
        mailEvents_.Clear();
        reply_.Reset();
        received_.Reset();
        explorer_.Reset();
        if (client_.app) client_.app->CloseAll();
        client_ = {};
        EXPECT_EQ(Host::Get().LiveObjects(), 0) << "host objects still referenced";
        EXPECT_EQ(Host::Get().AdvisedSinks(), 0) << "event connections still advised";
    }

    // The reply the user starts, with its own events listened to.
    void Reply() {
        reply_ = explorer_->Reply(received_.Get());
        ASSERT_TRUE(reply_);
        ASSERT_EQ(mailEvents_.Assign(reply_.Get()), S_OK);
    }
    // "reply": the reply this test started; while Reply() runs, the one the host holds inline.
    std::wstring Who(IDispatch* object) const {
        if (!object) return L"Nothing";
        simhost::MailItem* reply = reply_ ? reply_.Get() : explorer_->InlineResponse();
        if (reply && object == static_cast<IDispatch*>(reply)) return L"reply";
        if (object == static_cast<IDispatch*>(explorer_.Get())) return L"explorer";
        return L"another object";
    }
    // What the add-in would read from the main window while an event runs.
    std::wstring ActiveInlineResponse() {
        pvl::Variant v;
        if (FAILED(pvl::GetProperty(explorer_.Get(), id::Explorer_ActiveInlineResponse, v.put()))) return L"failed";
        if (v.vt() != VT_DISPATCH) return L"not an object";
        return Who(v.ref().pdispVal);
    }
    std::wstring Arg(DISPPARAMS* p) const {
        if (p->cArgs != 1) return L"(" + std::to_wstring(p->cArgs) + L" arguments)";
        return p->rgvarg[0].vt == VT_DISPATCH ? Who(p->rgvarg[0].pdispVal) : L"(not an object)";
    }
    static HRESULT OnExplorers(void* self, DISPID dispid, DISPPARAMS* p) {
        auto* t = static_cast<ExplorerHostTest*>(self);
        if (dispid == id::ExplorersEvents_NewExplorer) t->events_.push_back(L"NewExplorer " + std::to_wstring(p->cArgs));
        return S_OK;
    }
    static HRESULT OnInspectors(void* self, DISPID, DISPPARAMS* p) {
        auto* t = static_cast<ExplorerHostTest*>(self);
        std::wstring item = L"?";
        pvl::Variant current;
        if (p->cArgs == 1 && p->rgvarg[0].vt == VT_DISPATCH &&
            SUCCEEDED(pvl::GetProperty(p->rgvarg[0].pdispVal, id::Inspector_CurrentItem, current.put())) &&
            current.vt() == VT_DISPATCH)
            item = t->Who(current.ref().pdispVal);
        t->events_.push_back(L"NewInspector of " + item);
        return S_OK;
    }
    static HRESULT OnExplorer(void* self, DISPID dispid, DISPPARAMS* p) {
        auto* t = static_cast<ExplorerHostTest*>(self);
        const std::wstring active = L" while active " + t->ActiveInlineResponse();
        switch (dispid) {
            case id::ExplorerEvents_InlineResponse: t->events_.push_back(L"InlineResponse " + t->Arg(p) + active); break;
            case id::ExplorerEvents_InlineResponseClose:
                t->events_.push_back(L"InlineResponseClose " + std::to_wstring(p->cArgs) + active);
                break;
            case id::ExplorerEvents_Close: t->events_.push_back(L"Close" + active); break;
            case id::ExplorerEvents_Activate: t->events_.push_back(L"Activate"); break;
        }
        return S_OK;
    }
    static HRESULT OnMail(void* self, DISPID dispid, DISPPARAMS* p) {
        auto* t = static_cast<ExplorerHostTest*>(self);
        if (dispid != id::ItemEvents_Send) return S_OK;
        t->events_.push_back(L"Send while active " + t->ActiveInlineResponse());
        if (t->cancelSend_ && p->cArgs == 1 && p->rgvarg[0].vt == (VT_BOOL | VT_BYREF)) *p->rgvarg[0].pboolVal = VARIANT_TRUE;
        return S_OK;
    }

    simhost::Client client_;
    ComPtr<simhost::Explorer> explorer_;
    ComPtr<simhost::MailItem> received_, reply_;
    std::vector<std::wstring> events_;
    bool cancelSend_ = false;
    pvl::EventConnection explorers_{pvl::host::DIID_ExplorersEvents, nullptr, this, &OnExplorers};
    pvl::EventConnection inspectors_{pvl::host::DIID_InspectorsEvents, nullptr, this, &OnInspectors};
    pvl::EventConnection explorerEvents_{pvl::host::DIID_ExplorerEvents_10, nullptr, this, &OnExplorer};
    pvl::EventConnection mailEvents_{pvl::host::DIID_ItemEvents_10, nullptr, this, &OnMail};
};

TEST_F(ExplorerHostTest, AReplyBecomesTheInlineResponseBeforeInlineResponseIsRaised) {
    Reply();
    EXPECT_EQ(events_, std::vector<std::wstring>{L"InlineResponse reply while active reply"});
    EXPECT_EQ(explorer_->InlineResponse(), reply_.Get());
    EXPECT_TRUE(reply_->Inline());
    EXPECT_FALSE(reply_->Received());
    // Outlook forbids Send on the inline item from the object model: only the pane sends it.
    DISPPARAMS none{};
    EXPECT_TRUE(FAILED(reply_->Invoke(id::MailItem_Send, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr)));
    EXPECT_FALSE(reply_->Sent());
    EXPECT_EQ(Host::Get().LogMatching(L"Explorer#1.ActiveInlineResponse get").size(), 1u);
}

// Each way a reply leaves the reading pane: the events in order, what ActiveInlineResponse answers
// meanwhile (already Nothing during InlineResponseClose), and what became of the reply.
TEST_F(ExplorerHostTest, EachWayAReplyLeavesThePaneRaisesOutlooksEventsInOrder) {
    enum Fate { kInline, kSent, kDraft, kDiscarded, kPoppedOut, kExplorerClosed };
    struct Row {
        const char* name;
        bool cancelSend;
        std::function<HRESULT(simhost::Explorer&)> act;
        std::vector<std::wstring> events;
        Fate fate;
    };
    const std::wstring close = L"InlineResponseClose 0 while active Nothing";
    const Row rows[] = {
        {"send", false, [](simhost::Explorer& e) { return e.SendInline(); }, {L"Send while active reply", close}, kSent},
        {"send cancelled", true, [](simhost::Explorer& e) { return e.SendInline(); }, {L"Send while active reply"}, kInline},
        {"discard", false, [](simhost::Explorer& e) { return e.DiscardInline(); }, {close}, kDiscarded},
        {"another mail selected", false, [](simhost::Explorer& e) { return e.SelectOther(); }, {close}, kDraft},
        {"pop out", false, [](simhost::Explorer& e) { return e.PopOut() ? S_OK : E_FAIL; },
         {close, L"NewInspector of reply"}, kPoppedOut},
        {"explorer closed", false, [](simhost::Explorer& e) { return e.CloseWindow(); },
         {close, L"Close while active Nothing"}, kExplorerClosed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        Reply();
        events_.clear();
        cancelSend_ = row.cancelSend;
        const HRESULT hr = row.act(*explorer_.Get());
        EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
        EXPECT_EQ(events_, row.events);
        EXPECT_EQ(explorer_->InlineResponse() != nullptr, row.fate == kInline);
        EXPECT_EQ(reply_->Inline(), row.fate == kInline);
        EXPECT_EQ(reply_->Sent(), row.fate == kSent);
        EXPECT_EQ(reply_->Draft(), row.fate == kDraft || row.fate == kExplorerClosed);
        EXPECT_EQ(reply_->Discarded(), row.fate == kDiscarded);
        // Sent or discarded, nothing can be attached any more; otherwise the reply is still open.
        EXPECT_EQ(reply_->GetAttachments().Frozen(), row.fate == kSent || row.fate == kDiscarded);
        EXPECT_EQ(explorer_->Drafts().size(), row.fate == kDraft || row.fate == kExplorerClosed ? 1u : 0u);
        EXPECT_EQ(client_.app->GetInspectors().All().size(), row.fate == kPoppedOut ? 1u : 0u);
        if (row.fate == kPoppedOut)
            EXPECT_EQ(client_.app->GetInspectors().All()[0]->CurrentItem(), static_cast<IDispatch*>(reply_.Get()));
        EXPECT_EQ(explorer_->IsClosed(), row.fate == kExplorerClosed);
        EXPECT_EQ(client_.app->GetExplorers().All().size(), row.fate == kExplorerClosed ? 0u : 1u);
        // Without a reply inline, the pane's commands do nothing.
        if (row.fate != kInline && row.fate != kExplorerClosed) {
            events_.clear();
            EXPECT_EQ(explorer_->SendInline(), E_UNEXPECTED);
            EXPECT_EQ(explorer_->DiscardInline(), E_UNEXPECTED);
            EXPECT_EQ(explorer_->SelectOther(), E_UNEXPECTED);
            EXPECT_FALSE(explorer_->PopOut());
            EXPECT_TRUE(events_.empty());
        }
    }
}

TEST_F(ExplorerHostTest, ReplyingToAnotherMailLeavesTheFirstReplyAsADraft) {
    Reply();
    ComPtr<simhost::MailItem> first = reply_;
    events_.clear();
    auto second = explorer_->Reply(client_.NewReceivedMail().Get());
    ASSERT_TRUE(second);
    EXPECT_EQ(events_, (std::vector<std::wstring>{L"InlineResponseClose 0 while active Nothing",
                                                  L"InlineResponse another object while active another object"}));
    EXPECT_TRUE(first->Draft());
    EXPECT_EQ(explorer_->InlineResponse(), second.Get());
}

TEST_F(ExplorerHostTest, MainWindowsAreReachedThroughTheApplicationsDispatchIds) {
    auto app = static_cast<IDispatch*>(client_.app.Get());
    ComPtr<IDispatch> explorers, active, item;
    ASSERT_EQ(pvl::GetObjectProperty(app, id::Application_Explorers, &explorers), S_OK);
    EXPECT_EQ(explorers.Get(), static_cast<IDispatch*>(&client_.app->GetExplorers()));
    pvl::Variant result;
    ASSERT_EQ(pvl::CallMethod(app, id::Application_ActiveExplorer, result.put()), S_OK);
    EXPECT_EQ(result.ref().pdispVal, static_cast<IDispatch*>(explorer_.Get()));

    // A second main window: NewExplorer with it, and it is the active one; Item counts from 1.
    auto second = client_.OpenExplorer();
    EXPECT_EQ(events_, std::vector<std::wstring>{L"NewExplorer 1"});
    pvl::Variant count;
    ASSERT_EQ(pvl::GetProperty(explorers.Get(), id::Explorers_Count, count.put()), S_OK);
    EXPECT_EQ(count.ref().lVal, 2);
    struct Row {
        long index;
        HRESULT hr;
        IDispatch* expected;
    };
    const Row rows[] = {{1, S_OK, explorer_.Get()}, {2, S_OK, second.Get()}, {0, DISP_E_BADINDEX, nullptr}, {3, DISP_E_BADINDEX, nullptr}};
    for (const Row& row : rows) {
        pvl::Variant found;
        EXPECT_EQ(pvl::CallMethod(explorers.Get(), id::Explorers_Item, found.put(), pvl::Variant(row.index)), row.hr) << row.index;
        if (row.expected) EXPECT_EQ(found.ref().pdispVal, row.expected) << row.index;
    }
    result.Clear();
    ASSERT_EQ(pvl::CallMethod(app, id::Application_ActiveExplorer, result.put()), S_OK);
    EXPECT_EQ(result.ref().pdispVal, static_cast<IDispatch*>(second.Get()));
    // Closed, the other comes to the front; with none left, ActiveExplorer is Nothing.
    ASSERT_EQ(second->CloseWindow(), S_OK);
    ASSERT_EQ(explorer_->CloseWindow(), S_OK);
    result.Clear();
    ASSERT_EQ(pvl::CallMethod(app, id::Application_ActiveExplorer, result.put()), S_OK);
    EXPECT_EQ(result.vt(), VT_DISPATCH);
    EXPECT_EQ(result.ref().pdispVal, nullptr);
}

TEST_F(ExplorerHostTest, AnExplorerAnswersAsOutlooksMainWindow) {
    IDispatch* e = explorer_.Get();
    pvl::Variant v;
    ASSERT_EQ(pvl::GetProperty(e, id::Item_Class, v.put()), S_OK);
    EXPECT_EQ(v.ref().lVal, pvl::host::olExplorer);
    v.Clear();
    // Nothing inline: a null object, not an empty variant.
    ASSERT_EQ(pvl::GetProperty(e, id::Explorer_ActiveInlineResponse, v.put()), S_OK);
    EXPECT_EQ(v.vt(), VT_DISPATCH);
    EXPECT_EQ(v.ref().pdispVal, nullptr);
    ComPtr<IDispatch> bars;
    ASSERT_EQ(pvl::GetObjectProperty(e, id::Explorer_CommandBars, &bars), S_OK);
    EXPECT_EQ(bars.Get(), static_cast<IDispatch*>(&explorer_->Bars()));
    ComPtr<IUnknown> typed;
    EXPECT_EQ(e->QueryInterface(pvl::host::IID_Explorer, reinterpret_cast<void**>(typed.GetAddressOf())), S_OK);
    typed.Reset();
    EXPECT_EQ(e->QueryInterface(pvl::host::IID_Inspector, reinterpret_cast<void**>(typed.GetAddressOf())), E_NOINTERFACE);
    // Its window handle, once the client that draws it has one.
    ComPtr<IOleWindow> window;
    ASSERT_EQ(e->QueryInterface(IID_PPV_ARGS(&window)), S_OK);
    HWND hwnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(window->GetWindow(&hwnd), E_FAIL);
    EXPECT_EQ(hwnd, nullptr);
    explorer_->SetWindow(GetDesktopWindow());
    EXPECT_EQ(window->GetWindow(&hwnd), S_OK);
    EXPECT_EQ(hwnd, GetDesktopWindow());
    // Like every host operation, these can be failed.
    Host::Get().Fail(L"Explorer.ActiveInlineResponse", E_ACCESSDENIED);
    Host::Get().Fail(L"Explorer.GetWindow", E_OUTOFMEMORY);
    v.Clear();
    EXPECT_EQ(pvl::GetProperty(e, id::Explorer_ActiveInlineResponse, v.put()), E_ACCESSDENIED);
    EXPECT_EQ(window->GetWindow(&hwnd), E_OUTOFMEMORY);
    // Closing through the object model raises Close as the user's close does.
    events_.clear();
    window.Reset();
    v.Clear();
    ASSERT_EQ(pvl::CallMethod(e, id::Explorer_Close, v.put()), S_OK);
    EXPECT_EQ(events_, std::vector<std::wstring>{L"Close while active failed"});
    EXPECT_TRUE(client_.app->GetExplorers().All().empty());
}

}  // namespace
}  // namespace pvltest
