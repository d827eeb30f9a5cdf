// The simulated Office ribbon, driven by a small add-in double written here: GetCustomUI once per
// ribbon id, onLoad once, the get-callbacks per window with fresh controls whose Context is the
// window, the deferred re-query after an invalidation, presses, the errors that make a group absent,
// and nothing left behind. The main window's ribbon: asked for at start-up, its contextual Message
// tab there only while a reply is written inline. Toggle buttons, labels, keytips and tips. Then the
// module's own ribbon XML, read from this program's resources (the same .rc as the DLL's). The
// module's pictures are tested in ribbon_pictures_test.cpp.
#include "support.h"
#include "addin/ribbon_pictures.h"
#include "common/event_field.h"
#include "resources/ribbon_resource.h"
#include <msxml2.h>
#include <algorithm>
#include <set>

namespace pvltest {
namespace {

using simhost::Explorer;
using simhost::Host;
using simhost::Inspector;
using simhost::Ribbon;

constexpr wchar_t kExplorer[] = L"Microsoft.Outlook.Explorer";
constexpr wchar_t kCompose[] = L"Microsoft.Outlook.Mail.Compose";
constexpr wchar_t kRead[] = L"Microsoft.Outlook.Mail.Read";
constexpr wchar_t kContact[] = L"Microsoft.Outlook.Contact";
constexpr wchar_t kNamespace[] = L"http://schemas.microsoft.com/office/2009/07/customui";

const std::set<std::wstring> kModuleCallbacks(std::begin(kRibbonComposeCallbacks), std::end(kRibbonComposeCallbacks));

std::string Narrow(const std::wstring& s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

constexpr CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr IID kIXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// The module's own XML, as this program's resource.
std::wstring ModuleXml() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDR_RIBBON_COMPOSE), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(self, found);
    const DWORD size = SizeofResource(self, found);
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes || !size) return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr, 0);
    std::wstring text(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), text.data(), n);
    return text;
}

// A picture as the add-in draws it, at the size of a 96-dpi ribbon.
ComPtr<IDispatch> DrawnPicture(pvl::RibbonPicture which) {
    ComPtr<IDispatch> picture;
    if (FAILED(pvl::MakeRibbonPicture(which, pvl::RibbonPictureSize(which, 96), picture.GetAddressOf()))) return nullptr;
    return picture;
}

std::wstring Compose(const std::wstring& buttons, const std::wstring& rootExtra = L" onLoad=\"onLoad\"",
                     const std::wstring& ns = kNamespace, const std::wstring& tab = L"TabNewMailMessage") {
    return L"<customUI xmlns=\"" + ns + L"\"" + rootExtra + L"><ribbon><tabs><tab idMso=\"" + tab +
           L"\"><group id=\"pvlVoiceMessage\" label=\"Voice message\">" + buttons + L"</group></tab></tabs></ribbon></customUI>";
}

// The main window's XML: the group on the Message tab of the tab set shown while a reply is inline.
std::wstring Contextual(const std::wstring& buttons, const std::wstring& tabSet = L"TabComposeTools",
                        const std::wstring& tab = L"idMso=\"TabMessage\"") {
    return L"<customUI xmlns=\"" + std::wstring(kNamespace) + L"\" onLoad=\"onLoad\"><ribbon><contextualTabs><tabSet idMso=\"" +
           tabSet + L"\"><tab " + tab + L"><group id=\"pvlVoiceMessage\" label=\"Voice message\">" + buttons +
           L"</group></tab></tabSet></contextualTabs></ribbon></customUI>";
}

std::wstring Button(const std::wstring& id, const std::wstring& label, const std::wstring& extra = L"") {
    return L"<button id=\"" + id + L"\" label=\"" + label + L"\" onAction=\"onAction\" getEnabled=\"getEnabled\" getImage=\"getImage\"" +
           extra + L"/>";
}

const std::wstring kFourButtons = Button(L"pvlRecord", L"Record", L" size=\"large\"") + Button(L"pvlPlay", L"Play", L" size=\"large\"") +
                                  Button(L"pvlStop", L"Stop", L" size=\"large\"") + Button(L"pvlAbout", L"Parvaline");

long g_doubles = 0;
struct DoubleCounter {
    static void Increment() { ++g_doubles; }
    static void Decrement() { --g_doubles; }
};

// The add-in's side, as small as the host's behaviour needs: IRibbonExtensibility and callbacks
// resolved by name through IDispatch.
class RibbonDouble : public IRibbonExtensibility {
public:
    static const QITAB* Interfaces() {
        static const QITAB table[] = {QITABENTMULTI(RibbonDouble, IDispatch, IRibbonExtensibility),
                                      QITABENT(RibbonDouble, IRibbonExtensibility), {}};
        return table;
    }

    std::map<std::wstring, std::wstring> xml;  // by ribbon id; others get ""
    std::vector<std::wstring> asked;
    HRESULT getCustomUiResult = S_OK;
    ComPtr<IRibbonUI> ui;                  // kept from the latest onLoad
    std::map<std::wstring, ComPtr<IRibbonUI>> uis;  // by ribbon id: onLoad follows its GetCustomUI
    std::map<std::wstring, bool> pressed;           // getPressed, by control id
    std::map<std::wstring, std::wstring> labels;    // getLabel, by control id
    std::map<std::wstring, bool> enabled;  // by control id; true when absent
    int failGetEnabled = 0;                // the next N getEnabled calls fail
    VARTYPE enabledType = VT_BOOL;         // what getEnabled answers with
    bool nullImage = false;
    HRESULT onLoadResult = S_OK;
    bool keepControls = false;
    std::vector<ComPtr<IRibbonControl>> kept;
    struct Action {
        std::wstring control;
        ComPtr<IDispatch> context;
        HRESULT contextResult;
        std::wstring pressed;  // a toggle's second argument: "True", "False", or "" when absent
    };
    std::vector<Action> actions;
    std::function<void()> onActionHook;

    IFACEMETHODIMP GetCustomUI(BSTR ribbonId, BSTR* out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        const std::wstring id = ribbonId ? ribbonId : L"";
        asked.push_back(id);
        if (FAILED(getCustomUiResult)) return getCustomUiResult;
        auto it = xml.find(id);
        *out = SysAllocString(it == xml.end() ? L"" : it->second.c_str());
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfoCount(UINT* n) override { return n ? (*n = 0, S_OK) : E_POINTER; }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const std::pair<const wchar_t*, DISPID> table[] = {
            {L"onLoad", 10}, {L"onAction", 11}, {L"getEnabled", 12}, {L"getImage", 13}, {L"getLabel", 14},
            {L"getPressed", 15}, {L"getScreentip", 16}, {L"getSupertip", 17}, {L"onToggle", 11}};
        if (!names || !ids || count != 1) return E_INVALIDARG;
        for (auto& [name, id] : table)
            if (std::wstring(names[0]) == name) return *ids = id, S_OK;
        *ids = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (!params || params->cArgs < 1 || params->rgvarg[params->cArgs - 1].vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        IDispatch* arg = params->rgvarg[params->cArgs - 1].pdispVal;
        if (id == 10) {
            ui.Reset();
            if (FAILED(onLoadResult)) return onLoadResult;
            const HRESULT hr = arg->QueryInterface(__uuidof(IRibbonUI), reinterpret_cast<void**>(ui.GetAddressOf()));
            if (!asked.empty()) uis[asked.back()] = ui;
            return hr;
        }
        ComPtr<IRibbonControl> control;
        if (!arg || FAILED(arg->QueryInterface(__uuidof(IRibbonControl), reinterpret_cast<void**>(control.GetAddressOf()))))
            return E_INVALIDARG;
        if (keepControls) kept.push_back(control);
        pvl::UniqueBstr controlId;
        if (FAILED(control->get_Id(controlId.put()))) return E_FAIL;
        const std::wstring cid = controlId.c_str();
        switch (id) {
            case 11: {
                Action a{cid, nullptr, S_OK};
                if (params->cArgs == 2)
                    a.pressed = params->rgvarg[0].vt != VT_BOOL ? L"?" : params->rgvarg[0].boolVal ? L"True" : L"False";
                a.contextResult = control->get_Context(a.context.GetAddressOf());
                actions.push_back(a);
                if (onActionHook) onActionHook();
                return S_OK;
            }
            case 12: {
                if (failGetEnabled > 0) {
                    --failGetEnabled;
                    return E_FAIL;
                }
                auto it = enabled.find(cid);
                const bool on = it == enabled.end() || it->second;
                if (!result) return S_OK;
                if (enabledType == VT_BOOL) {
                    result->vt = VT_BOOL;
                    result->boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
                } else {
                    result->vt = VT_I4;
                    result->lVal = on;
                }
                return S_OK;
            }
            case 13: {
                if (!result) return S_OK;
                using pvl::RibbonPicture;
                static const std::map<std::wstring, RibbonPicture> pictures = {{L"pvlRecord", RibbonPicture::Record},
                                                                               {L"pvlPlay", RibbonPicture::Play},
                                                                               {L"pvlStop", RibbonPicture::Stop},
                                                                               {L"pvlAbout", RibbonPicture::Product}};
                auto it = pictures.find(cid);
                ComPtr<IDispatch> picture = nullImage || it == pictures.end() ? nullptr : DrawnPicture(it->second);
                result->vt = VT_DISPATCH;
                result->pdispVal = picture.Detach();
                return S_OK;
            }
            case 15:
                if (result) result->vt = VT_BOOL, result->boolVal = pressed[cid] ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            case 14:
            case 16:
            case 17: {
                const std::wstring text = id == 14 ? labels[cid] : (id == 16 ? L"tip " : L"super ") + cid;
                if (result) result->vt = VT_BSTR, result->bstrVal = SysAllocString(text.c_str());
                return S_OK;
            }
        }
        return DISP_E_MEMBERNOTFOUND;
    }
};

class RibbonHostTest : public testing::Test {
protected:
    void SetUp() override {
        Host::Get().Reset();
        client_ = simhost::Client::Create();
        addin_ = pvl::MakeComObject<RibbonDouble, DoubleCounter>();
        ASSERT_TRUE(addin_);
        addin_->xml[kCompose] = Compose(kFourButtons);
    }
    void TearDown() override {
        client_.app->CloseAll();
        Ribbon_().Detach();
        addin_.Reset();
        client_ = {};
        EXPECT_EQ(Host::Get().LiveObjects(), 0) << "host objects still referenced";
        EXPECT_EQ(Host::Get().AdvisedSinks(), 0) << "event connections still advised";
        EXPECT_EQ(g_doubles, 0) << "the host kept the add-in";
    }
    Ribbon& Ribbon_() { return client_.app->GetRibbon(); }
    void Attach() { ASSERT_EQ(Ribbon_().Attach(static_cast<IRibbonExtensibility*>(addin_.Get()), L"pvlTest.Double"), S_OK); }
    ComPtr<Inspector> OpenMail() { return client_.Open(client_.NewMail().Get()); }
    // Record, Play, Stop, product as "RPSA" letters, upper case when enabled; "" when the group is absent.
    template <class Window>
    std::wstring States(const ComPtr<Window>& window) {
        auto groups = Ribbon_().Groups(window.Get());
        if (groups.size() != 1) return L"";
        std::wstring s;
        for (auto& b : groups[0].buttons) s += b.enabled ? towupper(b.label[0]) : towlower(b.label[0]);
        return s;
    }
    bool WaitForRequery() {
        PumpMessages(3000, [&] { return !Ribbon_().Pending(); });
        return !Ribbon_().Pending();
    }

    simhost::Client client_;
    ComPtr<RibbonDouble> addin_;
};

TEST_F(RibbonHostTest, IsOffUntilAnAddInIsAttached) {
    auto window = OpenMail();
    EXPECT_TRUE(Ribbon_().CustomUIRequests().empty());
    EXPECT_TRUE(Ribbon_().Callbacks().empty());
    EXPECT_TRUE(Ribbon_().Groups(window.Get()).empty());
    EXPECT_TRUE(addin_->asked.empty());
    EXPECT_TRUE(Host::Get().LogMatching(L"Ribbon").empty());
}

TEST_F(RibbonHostTest, AsksForTheCustomUIOncePerRibbonIdOnTheFirstWindowOfThatKind) {
    Attach();
    // The main window's at once, as Outlook asks it at start-up; an item window's with the first.
    EXPECT_EQ(addin_->asked, std::vector<std::wstring>{kExplorer});
    auto a = OpenMail();
    auto b = OpenMail();
    auto second = client_.OpenExplorer();
    EXPECT_EQ(addin_->asked, (std::vector<std::wstring>{kExplorer, kCompose}));
    auto read = client_.Open(client_.NewReceivedMail().Get());
    auto contact = client_.Open(client_.NewContact().Get());
    auto c = OpenMail();
    EXPECT_EQ(addin_->asked, (std::vector<std::wstring>{kExplorer, kCompose, kRead, kContact}));
    EXPECT_EQ(Ribbon_().RibbonIdOf(second.Get()), kExplorer);
    EXPECT_EQ(Ribbon_().CustomUIRequests(), addin_->asked);
    EXPECT_EQ(Ribbon_().RibbonIdOf(read.Get()), kRead);
    // An empty answer: no customisation, and no error.
    EXPECT_TRUE(Ribbon_().Groups(read.Get()).empty());
    EXPECT_TRUE(Ribbon_().Groups(contact.Get()).empty());
    EXPECT_EQ(Ribbon_().Groups(c.Get()).size(), 1u);
    EXPECT_TRUE(Ribbon_().Errors().empty());
}

TEST_F(RibbonHostTest, CallsOnLoadOnceWithItsOwnRibbonUI) {
    Attach();
    auto a = OpenMail();
    auto b = OpenMail();
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"onLoad").size(), 1u);
    ASSERT_TRUE(addin_->ui);
    ASSERT_NE(Ribbon_().UI(kCompose), nullptr);
    EXPECT_EQ(addin_->ui.Get(), static_cast<IRibbonUI*>(Ribbon_().UI(kCompose)));
}

TEST_F(RibbonHostTest, AsksEachControlsStateAndPictureInEveryWindow) {
    Attach();
    addin_->enabled[L"pvlStop"] = false;
    auto a = OpenMail();
    auto b = OpenMail();
    for (auto* window : {a.Get(), b.Get()}) {
        for (const wchar_t* control : {L"pvlRecord", L"pvlPlay", L"pvlStop", L"pvlAbout"}) {
            const std::wstring where = std::wstring(control) + L" " + window->Name();
            EXPECT_EQ(Ribbon_().CallbacksMatching(L"getEnabled " + where).size(), 1u) << Narrow(where);
            EXPECT_EQ(Ribbon_().CallbacksMatching(L"getImage " + where).size(), 1u) << Narrow(where);
        }
        auto groups = Ribbon_().Groups(window);
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].label, L"Voice message");
        EXPECT_EQ(groups[0].tab, L"TabNewMailMessage");
        ASSERT_EQ(groups[0].buttons.size(), 4u);
        EXPECT_EQ(groups[0].buttons[0].size, L"large");
        EXPECT_EQ(groups[0].buttons[3].size, L"normal");
    }
    EXPECT_EQ(States(a), L"RPsP");
    auto record = Ribbon_().Button(a.Get(), L"pvlRecord");
    ASSERT_TRUE(record && record->picture);
    EXPECT_EQ(record->picture.width, 32);
    EXPECT_TRUE(record->picture.hasAlpha);
    EXPECT_EQ(record->picture.AlphaAt(0, 0), 0) << "a corner of the picture is transparent";
    EXPECT_EQ(record->picture.AlphaAt(16, 16), 255);
    EXPECT_EQ(record->picture.At(16, 16), RGB(255, 0, 0));
    auto about = Ribbon_().Button(a.Get(), L"pvlAbout");
    ASSERT_TRUE(about && about->picture);
    EXPECT_EQ(about->picture.width, 16);
    // The callbacks are the host's calls of the add-in: none of them is in the host's call log.
    EXPECT_TRUE(Host::Get().LogMatching(L"getEnabled").empty());
}

TEST_F(RibbonHostTest, HandsOutAFreshControlForEveryCallWhoseContextIsTheWindow) {
    Attach();
    addin_->keepControls = true;
    auto a = OpenMail();
    auto b = OpenMail();
    EXPECT_EQ(Ribbon_().Press(b.Get(), L"pvlRecord"), S_OK);
    ASSERT_EQ(addin_->kept.size(), 17u);  // 4 controls x 2 callbacks x 2 windows, and the press
    std::set<IRibbonControl*> distinct;
    for (auto& c : addin_->kept) distinct.insert(c.Get());
    EXPECT_EQ(distinct.size(), addin_->kept.size());
    for (size_t i = 0; i < addin_->kept.size(); ++i) {
        ComPtr<IDispatch> context;
        ASSERT_EQ(addin_->kept[i]->get_Context(context.GetAddressOf()), S_OK);
        Inspector* expected = i < 8 ? a.Get() : b.Get();
        EXPECT_EQ(context.Get(), static_cast<IDispatch*>(expected)) << i;
    }
    // A control the add-in keeps is a host object like any other, counted until let go.
    const long live = Host::Get().LiveObjects();
    addin_->kept.clear();
    EXPECT_EQ(Host::Get().LiveObjects(), live - 17);
    ASSERT_EQ(addin_->actions.size(), 1u);
    EXPECT_EQ(addin_->actions[0].control, L"pvlRecord");
    EXPECT_EQ(addin_->actions[0].context.Get(), static_cast<IDispatch*>(b.Get()));
    EXPECT_FALSE(Host::Get().LogMatching(L"RibbonControl#").empty()) << "the add-in's reads are logged";
}

TEST_F(RibbonHostTest, AsksAgainFromTheMessageLoopAfterAnInvalidation) {
    Attach();
    auto a = OpenMail();
    auto b = OpenMail();
    EXPECT_EQ(States(a), L"RPSP");
    Ribbon_().ClearRecords();
    addin_->enabled[L"pvlRecord"] = false;
    ASSERT_TRUE(addin_->ui);
    ASSERT_EQ(addin_->ui->Invalidate(), S_OK);
    // Not at once: the add-in's own call returns first.
    EXPECT_TRUE(Ribbon_().Callbacks().empty());
    EXPECT_TRUE(Ribbon_().Pending());
    EXPECT_EQ(States(a), L"RPSP");
    ASSERT_TRUE(WaitForRequery()) << "no re-query within 3 s";
    EXPECT_EQ(States(a), L"rPSP");
    EXPECT_EQ(States(b), L"rPSP");
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"getEnabled").size(), 8u);

    // One control: asked again in every window, the others not.
    Ribbon_().ClearRecords();
    addin_->enabled[L"pvlStop"] = false;
    pvl::UniqueBstr stop(L"pvlStop");
    ASSERT_EQ(addin_->ui->InvalidateControl(stop.get()), S_OK);
    Ribbon_().Update();
    EXPECT_FALSE(Ribbon_().Pending());
    EXPECT_EQ(Ribbon_().CallbackText(),
              (std::vector<std::wstring>{L"getEnabled pvlStop " + a->Name() + L" -> False", L"getImage pvlStop " + a->Name() + L" -> Picture",
                                         L"getEnabled pvlStop " + b->Name() + L" -> False", L"getImage pvlStop " + b->Name() + L" -> Picture"}));
    EXPECT_EQ(States(b), L"rPsP");
    pvl::UniqueBstr unknown(L"pvlNothing");
    EXPECT_EQ(addin_->ui->InvalidateControl(unknown.get()), E_INVALIDARG);
    // The dispatch face does the same, and is logged like the vtable's.
    ComPtr<IDispatch> disp;
    ASSERT_EQ(addin_->ui.As(&disp), S_OK);
    DISPPARAMS none{};
    ASSERT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(Ribbon_().Pending());
    EXPECT_EQ(Host::Get().LogMatching(L"RibbonUI#1.Invalidate call").size(), 2u);
    EXPECT_EQ(Host::Get().LogMatching(L"RibbonUI#1.InvalidateControl call \"pvlStop\"").size(), 1u);
}

TEST_F(RibbonHostTest, AClosedWindowIsNotAskedAgain) {
    Attach();
    auto a = OpenMail();
    auto b = OpenMail();
    ASSERT_EQ(a->CloseWindow(), S_OK);
    Ribbon_().ClearRecords();
    ASSERT_EQ(addin_->ui->Invalidate(), S_OK);
    ASSERT_TRUE(WaitForRequery());
    EXPECT_TRUE(Ribbon_().CallbacksMatching(a->Name() + L" ").empty());
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"getEnabled").size(), 4u);
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
}

TEST_F(RibbonHostTest, APressReachesOnActionOnlyWhenTheControlIsEnabled) {
    Attach();
    addin_->enabled[L"pvlStop"] = false;
    auto a = OpenMail();
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlStop"), E_ACCESSDENIED);
    EXPECT_TRUE(addin_->actions.empty());
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlNothing"), E_INVALIDARG);
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlStop", /*force=*/true), S_OK);
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlPlay"), S_OK);
    ASSERT_EQ(addin_->actions.size(), 2u);
    EXPECT_EQ(addin_->actions[1].control, L"pvlPlay");
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"onAction pvlPlay " + a->Name()).size(), 1u);
}

TEST_F(RibbonHostTest, TheControlsMembersCanBeFailedLikeEveryHostOperation) {
    Attach();
    auto a = OpenMail();
    Host::Get().Fail(L"RibbonControl.Context", E_ACCESSDENIED);
    ASSERT_EQ(Ribbon_().Press(a.Get(), L"pvlRecord"), S_OK);
    ASSERT_EQ(addin_->actions.size(), 1u);
    EXPECT_EQ(addin_->actions[0].contextResult, E_ACCESSDENIED);
    EXPECT_FALSE(addin_->actions[0].context);
    Host::Get().Fail(L"RibbonUI.Invalidate", E_FAIL);
    EXPECT_EQ(addin_->ui->Invalidate(), E_FAIL);
    EXPECT_FALSE(Ribbon_().Pending());
}

TEST_F(RibbonHostTest, InvalidXmlIsReportedAndShowsNoGroup) {
    addin_->xml[kCompose] = L"<customUI xmlns=\"" + std::wstring(kNamespace) + L"\"><ribbon><tabs></ribbon></customUI>";
    Attach();
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 1u);
    EXPECT_EQ(Ribbon_().Errors()[0].rfind(L"Error found in Custom UI XML of \"pvlTest.Double\": Line: ", 0), 0u)
        << Narrow(Ribbon_().Errors()[0]);
    EXPECT_TRUE(Ribbon_().CallbacksMatching(L"onLoad").empty());
    EXPECT_TRUE(Ribbon_().Callbacks().empty());
}

TEST_F(RibbonHostTest, AnotherNamespaceOrAnUnknownTabIsAnError) {
    addin_->xml[kCompose] = Compose(kFourButtons, L" onLoad=\"onLoad\"", L"http://example.com/not-customui");
    addin_->xml[kRead] = Compose(kFourButtons, L"", kNamespace, L"TabNoSuchTab");
    Attach();
    auto a = OpenMail();
    auto read = client_.Open(client_.NewReceivedMail().Get());
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    EXPECT_TRUE(Ribbon_().Groups(read.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 2u);
    EXPECT_NE(Ribbon_().Errors()[0].find(L"namespace"), std::wstring::npos);
    EXPECT_NE(Ribbon_().Errors()[1].find(L"Unknown Office control ID: \"TabNoSuchTab\""), std::wstring::npos);
}

TEST_F(RibbonHostTest, AnUnknownCallbackNameIsReportedAndShowsNoGroup) {
    addin_->xml[kCompose] = Compose(kFourButtons + L"<button id=\"pvlExtra\" label=\"Extra\" getEnabled=\"getEnabledTypo\"/>");
    Attach();
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 1u);
    EXPECT_EQ(Ribbon_().Errors()[0],
              L"Custom UI Runtime Error in pvlTest.Double: The callback function \"getEnabledTypo\" was not found (0x80020006)");
    EXPECT_TRUE(Ribbon_().Callbacks().empty()) << "nothing is called for a customisation that does not resolve";
}

TEST_F(RibbonHostTest, AnIdUsedTwiceIsAnError) {
    addin_->xml[kCompose] = Compose(kFourButtons + Button(L"pvlRecord", L"Again"));
    Attach();
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 1u);
    EXPECT_NE(Ribbon_().Errors()[0].find(L"\"pvlRecord\" is used more than once"), std::wstring::npos);
}

TEST_F(RibbonHostTest, AFailingCallbackRemovesTheGroupFromThatWindowOnly) {
    Attach();
    addin_->failGetEnabled = 1;
    auto a = OpenMail();
    auto b = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    EXPECT_EQ(States(b), L"RPSP");
    ASSERT_EQ(Ribbon_().Errors().size(), 1u);
    EXPECT_EQ(Ribbon_().Errors()[0], L"Custom UI Runtime Error in pvlTest.Double: An error occurred while calling the callback: "
                                     L"\"getEnabled\" (control \"pvlRecord\" in " + a->Name() + L": 0x80004005)");
    // The window that failed is not asked again, and a press there does not reach the add-in.
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlRecord"), E_ACCESSDENIED);
    Ribbon_().ClearRecords();
    ASSERT_EQ(addin_->ui->Invalidate(), S_OK);
    Ribbon_().Update();
    EXPECT_TRUE(Ribbon_().CallbacksMatching(a->Name() + L" ").empty());
}

TEST_F(RibbonHostTest, AResultOfTheWrongTypeIsAFailingCallback) {
    Attach();
    addin_->enabledType = VT_I4;
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 1u);
    EXPECT_NE(Ribbon_().Errors()[0].find(L"the result is 1, not VT_BOOL"), std::wstring::npos) << Narrow(Ribbon_().Errors()[0]);
    addin_->enabledType = VT_BOOL;
    addin_->nullImage = true;
    auto b = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(b.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 2u);
    EXPECT_NE(Ribbon_().Errors()[1].find(L"not an IPictureDisp"), std::wstring::npos) << Narrow(Ribbon_().Errors()[1]);
}

TEST_F(RibbonHostTest, AFailingOnLoadOrGetCustomUIShowsNoGroup) {
    addin_->onLoadResult = E_UNEXPECTED;
    Attach();
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    ASSERT_EQ(Ribbon_().Errors().size(), 1u);
    EXPECT_NE(Ribbon_().Errors()[0].find(L"calling the callback: \"onLoad\""), std::wstring::npos);
    addin_->getCustomUiResult = E_OUTOFMEMORY;
    auto read = client_.Open(client_.NewReceivedMail().Get());
    ASSERT_EQ(Ribbon_().Errors().size(), 2u);
    EXPECT_NE(Ribbon_().Errors()[1].find(L"GetCustomUI(\"Microsoft.Outlook.Mail.Read\") failed"), std::wstring::npos);
}

TEST_F(RibbonHostTest, AWindowClosedByOnActionAndADetachInsideACallbackLeaveNothingBehind) {
    Attach();
    auto a = OpenMail();
    auto b = OpenMail();
    addin_->onActionHook = [&] { a->CloseWindow(); };
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlRecord"), S_OK);
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    addin_->onActionHook = [&] { Ribbon_().Detach(); };
    EXPECT_EQ(Ribbon_().Press(b.Get(), L"pvlRecord"), S_OK);
    EXPECT_FALSE(Ribbon_().Attached());
    EXPECT_TRUE(Ribbon_().Groups(b.Get()).empty());
    // The RibbonUI the add-in kept answers, but no longer reaches a ribbon.
    EXPECT_EQ(addin_->ui->Invalidate(), E_FAIL);
}

TEST_F(RibbonHostTest, AnObjectWithoutTheInterfaceGetsNoRibbon) {
    // Attached through an object that answers only IDispatch: no request, nothing shown.
    class PlainDispatch : public pvl::DispatchImpl<IDispatch> {
    public:
        static const QITAB* Interfaces() {
            static const QITAB table[] = {QITABENT(PlainDispatch, IDispatch), {}};
            return table;
        }

    protected:
        std::span<const pvl::DispMember> Members() const override { return {}; }
        HRESULT InvokeMember(DISPID, WORD, DISPPARAMS*, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
    };
    auto plain = pvl::MakeComObject<PlainDispatch>();
    EXPECT_EQ(Ribbon_().Attach(plain.Get()), S_FALSE);
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().CustomUIRequests().empty());
    EXPECT_TRUE(Ribbon_().Groups(a.Get()).empty());
    Ribbon_().Detach();
}

// --- the main window's ribbon ------------------------------------------------------------------------

// The contextual group in the main window: absent without a reply, asked for afresh each time a reply
// appears (before InlineResponse reaches the add-in), with the Explorer as Context, and gone again
// however the reply leaves the pane.
TEST_F(RibbonHostTest, TheMainWindowsGroupIsThereOnlyWhileAReplyIsInline) {
    struct Row {
        const char* name;
        std::function<void(Explorer&)> leave;
    };
    const Row rows[] = {{"send", [](Explorer& e) { e.SendInline(); }},
                        {"discard", [](Explorer& e) { e.DiscardInline(); }},
                        {"another mail selected", [](Explorer& e) { e.SelectOther(); }},
                        {"pop out", [](Explorer& e) { e.PopOut(); }}};
    addin_->xml[kExplorer] = Contextual(kFourButtons);
    Attach();
    auto explorer = client_.MainWindow();
    auto received = client_.NewReceivedMail();
    EXPECT_TRUE(Ribbon_().Groups(explorer.Get()).empty());
    EXPECT_TRUE(Ribbon_().CallbacksMatching(explorer->Name()).empty()) << "asked while the tab is not there";
    EXPECT_EQ(Ribbon_().Press(explorer.Get(), L"pvlRecord"), E_ACCESSDENIED);
    // How many of the group's callbacks had run when InlineResponse arrived.
    size_t askedAtEvent = 0;
    struct Listener {
        Ribbon* ribbon;
        Explorer* explorer;
        size_t* asked;
    } listener{&Ribbon_(), explorer.Get(), &askedAtEvent};
    pvl::EventConnection events(pvl::host::DIID_ExplorerEvents_10, nullptr, &listener, [](void* self, DISPID id, DISPPARAMS*) {
        auto* l = static_cast<Listener*>(self);
        if (id == pvl::host::dispid::ExplorerEvents_InlineResponse)
            *l->asked = l->ribbon->CallbacksMatching(l->explorer->Name()).size();
        return S_OK;
    });
    ASSERT_EQ(events.Assign(explorer.Get()), S_OK);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Ribbon_().ClearRecords();
        addin_->actions.clear();
        ASSERT_TRUE(explorer->Reply(received.Get()));
        EXPECT_EQ(askedAtEvent, 8u) << "the tab's getEnabled and getImage, before InlineResponse";
        auto groups = Ribbon_().Groups(explorer.Get());
        ASSERT_EQ(groups.size(), 1u);
        EXPECT_EQ(groups[0].tab, L"TabMessage");
        EXPECT_EQ(groups[0].tabSet, L"TabComposeTools");
        EXPECT_EQ(States(explorer), L"RPSP");
        EXPECT_EQ(Ribbon_().CallbacksMatching(L"getEnabled pvlRecord " + explorer->Name() + L" -> True").size(), 1u);
        ASSERT_EQ(Ribbon_().Press(explorer.Get(), L"pvlRecord"), S_OK);
        ASSERT_EQ(addin_->actions.size(), 1u);
        EXPECT_EQ(addin_->actions[0].context.Get(), static_cast<IDispatch*>(explorer.Get()));
        // An invalidation while the reply is there is asked again; once it has gone, nothing is.
        ASSERT_EQ(addin_->uis[kExplorer]->Invalidate(), S_OK);
        EXPECT_TRUE(Ribbon_().Pending());
        row.leave(*explorer.Get());
        EXPECT_TRUE(Ribbon_().Groups(explorer.Get()).empty());
        EXPECT_FALSE(Ribbon_().Pending()) << "the hidden tab's re-query was kept";
        EXPECT_EQ(Ribbon_().Press(explorer.Get(), L"pvlRecord"), E_ACCESSDENIED);
        ASSERT_EQ(addin_->uis[kExplorer]->Invalidate(), S_OK);
        EXPECT_FALSE(Ribbon_().Pending());
    }
    // The popped-out reply's window has the compose group, with the window as Context.
    ASSERT_EQ(client_.app->GetInspectors().All().size(), 1u);
    EXPECT_EQ(States(client_.app->GetInspectors().All()[0]), L"RPSP");
    // No command bar was made in the main window for anyone.
    EXPECT_TRUE(explorer->Bars().All().empty());
}

TEST_F(RibbonHostTest, EachRibbonIdHasItsOwnRibbonUIAndItsOwnInvalidation) {
    addin_->xml[kExplorer] = Contextual(kFourButtons);
    Attach();
    auto explorer = client_.MainWindow();
    auto mail = OpenMail();
    ASSERT_TRUE(explorer->Reply(client_.NewReceivedMail().Get()));
    ASSERT_TRUE(addin_->uis[kExplorer] && addin_->uis[kCompose]);
    EXPECT_NE(addin_->uis[kExplorer].Get(), addin_->uis[kCompose].Get());
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"onLoad").size(), 2u);
    struct Row {
        const wchar_t* ribbonId;
        std::wstring refreshed, untouched;
    };
    const Row rows[] = {{kCompose, mail->Name(), explorer->Name()}, {kExplorer, explorer->Name(), mail->Name()}};
    for (const Row& row : rows) {
        Ribbon_().ClearRecords();
        ASSERT_EQ(addin_->uis[row.ribbonId]->Invalidate(), S_OK);
        Ribbon_().Update();
        EXPECT_EQ(Ribbon_().CallbacksMatching(L"getEnabled").size(), 4u);
        EXPECT_EQ(Ribbon_().CallbacksMatching(row.refreshed).size(), 8u);
        EXPECT_TRUE(Ribbon_().CallbacksMatching(row.untouched).empty());
    }
}

// Outlook has no other tabs or tab sets in these windows, so the host accepts no other.
TEST_F(RibbonHostTest, OnlyTabsAndTabSetsTheWindowHasAreAccepted) {
    struct Row {
        const wchar_t* ribbonId;
        std::wstring xml;
        const wchar_t* error;  // null: accepted
    };
    const Row rows[] = {
        {kExplorer, Contextual(kFourButtons), nullptr},
        {kExplorer, Contextual(kFourButtons, L"TabComposeTools", L"id=\"pvlOwnTab\" label=\"Voice\""), nullptr},
        {kExplorer, Compose(kFourButtons, L"", kNamespace, L"TabMail"), nullptr},
        {kExplorer, Contextual(kFourButtons, L"TabComposeTools", L"idMso=\"TabNewMailMessage\""), L"\"TabNewMailMessage\""},
        {kExplorer, Contextual(kFourButtons, L"TabSetNoSuchThing"), L"\"TabSetNoSuchThing\""},
        {kExplorer, Compose(kFourButtons), L"\"TabNewMailMessage\""},
        {kCompose, Contextual(kFourButtons), L"\"TabComposeTools\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.xml));
        TearDown();
        SetUp();
        addin_->xml.clear();
        addin_->xml[row.ribbonId] = row.xml;
        Attach();
        auto mail = OpenMail();
        ASSERT_TRUE(client_.MainWindow()->Reply(client_.NewReceivedMail().Get()));
        auto window = row.ribbonId == std::wstring(kExplorer) ? ComPtr<simhost::HostWindow>(client_.MainWindow())
                                                                : ComPtr<simhost::HostWindow>(mail);
        if (!row.error) {
            EXPECT_TRUE(Ribbon_().Errors().empty()) << Narrow(Ribbon_().Errors().empty() ? L"" : Ribbon_().Errors()[0]);
            EXPECT_EQ(Ribbon_().Groups(window.Get()).size(), 1u);
            continue;
        }
        EXPECT_TRUE(Ribbon_().Groups(window.Get()).empty());
        ASSERT_EQ(Ribbon_().Errors().size(), 1u);
        EXPECT_NE(Ribbon_().Errors()[0].find(L"Unknown Office control ID: " + std::wstring(row.error)), std::wstring::npos)
            << Narrow(Ribbon_().Errors()[0]);
    }
}

// Every built-in tab and tab set the host accepts is one Outlook lists for that window, in
// Microsoft's control-id lists (read where they lie, never copied here).
TEST(RibbonHostControlIds, EveryTabTheHostAcceptsIsInOutlooksLists) {
    const std::string dir = Env("PVL_CUSTOMUI_DIR");
    ASSERT_FALSE(dir.empty()) << "PVL_CUSTOMUI_DIR names no folder with Microsoft's outlook_control_ids.tsv";
    const std::vector<unsigned char> bytes = ReadFileBytes(WindowsPathOf(dir + "/outlook_control_ids.tsv"));
    ASSERT_FALSE(bytes.empty()) << "cannot read " << dir << "/outlook_control_ids.tsv";
    std::set<std::wstring> listed;  // "workbook type id"
    std::wstring line;
    for (unsigned char c : bytes) {
        if (c != '\n') {
            line += static_cast<wchar_t>(c);
            continue;
        }
        std::vector<std::wstring> fields;
        for (size_t start = 0, tab; start <= line.size(); start = tab + 1) {
            tab = line.find(L'\t', start);
            if (tab == std::wstring::npos) tab = line.size();
            fields.push_back(line.substr(start, tab - start));
        }
        if (fields.size() >= 3) listed.insert(fields[0] + L" " + fields[2] + L" " + fields[1]);
        line.clear();
    }
    const std::map<std::wstring, std::wstring> workbooks = {{kExplorer, L"outlookexplorercontrols"},
                                                            {kCompose, L"outlookmailitemcontrols"},
                                                            {kRead, L"outlookmailreadcontrols"},
                                                            {kContact, L"outlookaddritemcontrols"}};
    ASSERT_EQ(Ribbon::RibbonIds().size(), workbooks.size());
    for (const std::wstring& ribbonId : Ribbon::RibbonIds()) {
        ASSERT_TRUE(workbooks.count(ribbonId)) << Narrow(ribbonId);
        for (const simhost::BuiltInId& id : Ribbon::BuiltInIds(ribbonId))
            EXPECT_TRUE(listed.count(workbooks.at(ribbonId) + L" " + id.type + L" " + id.idMso))
                << Narrow(ribbonId) << ": " << Narrow(id.type) << " " << Narrow(id.idMso) << " is not Outlook's";
    }
}

// --- toggle buttons, labels, keytips, tips ------------------------------------------------------------

// The controls as the host reads them, each document accepted or refused as Office does. Each is also
// written out, so that the schema check (tools/check_customui.py) can tell whether Microsoft's schema
// agrees with the verdict.
TEST_F(RibbonHostTest, ControlKindsAndKeytipsAreReadAsTheSchemaHasThem) {
    struct Row {
        const char* name;
        std::wstring controls;
        const wchar_t* error;  // a part of the error, or null when accepted
    };
    const std::wstring tips = L" screentip=\"Record\" supertip=\"Records a spoken message for this mail.\"";
    const Row rows[] = {
        {"toggle", L"<toggleButton id=\"pvlRecord\" label=\"Record\" size=\"large\" keytip=\"R\" onAction=\"onAction\" "
                   L"getPressed=\"getPressed\" getEnabled=\"getEnabled\" getImage=\"getImage\"" + tips + L"/>", nullptr},
        {"label", L"<labelControl id=\"pvlClock\" getLabel=\"getLabel\" screentip=\"Length\" getSupertip=\"getSupertip\"/>", nullptr},
        {"keytips", Button(L"pvlPlay", L"Play", L" keytip=\"PL\"") + Button(L"pvlStop", L"Stop", L" keytip=\"ST1\""), nullptr},
        {"long keytip", Button(L"pvlPlay", L"Play", L" keytip=\"PLAY\""), L"ST_Keytip"},
        {"empty keytip", Button(L"pvlPlay", L"Play", L" keytip=\"\""), L"ST_Keytip"},
        {"label keytip", L"<labelControl id=\"pvlClock\" label=\"0:00\" keytip=\"C\"/>", L"'keytip' attribute is not allowed"},
        {"label action", L"<labelControl id=\"pvlClock\" label=\"0:00\" onAction=\"onAction\"/>", L"\"onAction\""},
        {"label picture", L"<labelControl id=\"pvlClock\" label=\"0:00\" getImage=\"getImage\"/>", L"\"getImage\""},
        {"label size", L"<labelControl id=\"pvlClock\" label=\"0:00\" size=\"large\"/>", L"'size' attribute is not allowed"},
        {"button pressed", Button(L"pvlPlay", L"Play", L" getPressed=\"getPressed\""), L"\"getPressed\""},
    };
    const std::string samples = Env("PVL_CUSTOMUI_SAMPLES");
    if (!samples.empty()) CreateDirectoryW(WindowsPathOf(samples).c_str(), nullptr);
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        addin_->xml[kCompose] = Compose(row.controls);
        Attach();
        auto mail = OpenMail();
        EXPECT_EQ(Ribbon_().Groups(mail.Get()).empty(), row.error != nullptr);
        if (row.error) {
            ASSERT_EQ(Ribbon_().Errors().size(), 1u);
            EXPECT_NE(Ribbon_().Errors()[0].find(row.error), std::wstring::npos) << Narrow(Ribbon_().Errors()[0]);
        } else {
            EXPECT_TRUE(Ribbon_().Errors().empty()) << Narrow(Ribbon_().Errors().empty() ? L"" : Ribbon_().Errors()[0]);
        }
        if (samples.empty()) continue;
        char name[64];
        snprintf(name, sizeof name, "/%02d-%s.xml", ++n, row.error ? "refused" : "accepted");
        const std::string xml = Narrow(addin_->xml[kCompose]);
        WriteFileBytes(WindowsPathOf(samples + name), std::vector<unsigned char>(xml.begin(), xml.end()));
    }
}

TEST_F(RibbonHostTest, AToggleButtonsPressCarriesItsNewStateUntilItIsAskedAgain) {
    addin_->xml[kCompose] = Compose(L"<toggleButton id=\"pvlRecord\" label=\"Record\" keytip=\"R\" onAction=\"onAction\" "
                                    L"getPressed=\"getPressed\" getScreentip=\"getScreentip\" getSupertip=\"getSupertip\"/>");
    Attach();
    auto a = OpenMail();
    auto b = OpenMail();
    auto record = [&](const ComPtr<Inspector>& w) { return *Ribbon_().Button(w.Get(), L"pvlRecord"); };
    EXPECT_EQ(record(a).kind, L"toggleButton");
    EXPECT_EQ(record(a).keytip, L"R");
    EXPECT_EQ(record(a).screentip, L"tip pvlRecord");
    EXPECT_EQ(record(a).supertip, L"super pvlRecord");
    EXPECT_FALSE(record(a).pressed);
    // Pressed: onAction(control, True); the window shows it pressed without asking; the other window
    // is untouched. Pressed again: False.
    ASSERT_EQ(Ribbon_().Press(a.Get(), L"pvlRecord"), S_OK);
    ASSERT_EQ(addin_->actions.size(), 1u);
    EXPECT_EQ(addin_->actions[0].pressed, L"True");
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"onAction pvlRecord " + a->Name() + L" (True)").size(), 1u);
    EXPECT_TRUE(record(a).pressed);
    EXPECT_FALSE(record(b).pressed);
    EXPECT_EQ(Ribbon_().CallbacksMatching(L"getPressed").size(), 2u) << "asked again without an invalidation";
    ASSERT_EQ(Ribbon_().Press(a.Get(), L"pvlRecord"), S_OK);
    EXPECT_EQ(addin_->actions[1].pressed, L"False");
    EXPECT_FALSE(record(a).pressed);
    // What the add-in says wins once it invalidates.
    addin_->pressed[L"pvlRecord"] = true;
    ASSERT_EQ(addin_->ui->Invalidate(), S_OK);
    Ribbon_().Update();
    EXPECT_TRUE(record(a).pressed);
    EXPECT_TRUE(record(b).pressed);
}

TEST_F(RibbonHostTest, InvalidatingALabelAsksThatLabelAloneInEveryWindow) {
    addin_->xml[kCompose] = Compose(kFourButtons + L"<labelControl id=\"pvlClock\" getLabel=\"getLabel\"/>");
    addin_->labels[L"pvlClock"] = L"0:00";
    Attach();
    auto a = OpenMail();
    auto b = OpenMail();
    EXPECT_EQ(Ribbon_().Button(a.Get(), L"pvlClock")->label, L"0:00");
    EXPECT_EQ(Ribbon_().Button(a.Get(), L"pvlClock")->kind, L"labelControl");
    EXPECT_EQ(Ribbon_().Press(a.Get(), L"pvlClock"), E_ACCESSDENIED) << "a label has no action";
    Ribbon_().ClearRecords();
    addin_->labels[L"pvlClock"] = L"0:01";
    pvl::UniqueBstr clock(L"pvlClock");
    ASSERT_EQ(addin_->ui->InvalidateControl(clock.get()), S_OK);
    Ribbon_().Update();
    EXPECT_EQ(Ribbon_().CallbackText(), (std::vector<std::wstring>{L"getLabel pvlClock " + a->Name() + L" -> \"0:01\"",
                                                                   L"getLabel pvlClock " + b->Name() + L" -> \"0:01\""}));
    EXPECT_EQ(Ribbon_().Button(b.Get(), L"pvlClock")->label, L"0:01");
}

// --- the module's own XML -------------------------------------------------------------

ComPtr<IXMLDOMDocument2> LoadDocument(const std::wstring& xml) {
    ComPtr<IXMLDOMDocument2> doc;
    if (FAILED(CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                                reinterpret_cast<void**>(doc.GetAddressOf()))))
        return nullptr;
    doc->put_async(VARIANT_FALSE);
    pvl::UniqueBstr text(xml.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(doc->loadXML(text.get(), &ok)) || ok != VARIANT_TRUE) return nullptr;
    pvl::UniqueBstr name(L"SelectionNamespaces");
    pvl::Variant ns((L"xmlns:c='" + std::wstring(kNamespace) + L"'").c_str());
    if (FAILED(doc->setProperty(name.get(), ns.ref()))) return nullptr;
    return doc;
}

std::vector<ComPtr<IXMLDOMNode>> Select(IXMLDOMDocument2* doc, const wchar_t* xpath) {
    std::vector<ComPtr<IXMLDOMNode>> out;
    ComPtr<IXMLDOMNodeList> list;
    pvl::UniqueBstr query(xpath);
    if (FAILED(doc->selectNodes(query.get(), list.GetAddressOf())) || !list) return out;
    LONG n = 0;
    list->get_length(&n);
    for (LONG i = 0; i < n; ++i) {
        ComPtr<IXMLDOMNode> node;
        if (SUCCEEDED(list->get_item(i, node.GetAddressOf())) && node) out.push_back(node);
    }
    return out;
}

std::wstring TextOf(IXMLDOMNode* node) {
    pvl::UniqueBstr s;
    return node && SUCCEEDED(node->get_text(s.put())) ? s.c_str() : L"";
}

TEST(RibbonHostModuleXml, IsWellFormedInThe2009NamespaceWithOneGroupInTheComposeTab) {
    const std::wstring xml = ModuleXml();
    ASSERT_FALSE(xml.empty()) << "no RCDATA resource " << IDR_RIBBON_COMPOSE;
    auto doc = LoadDocument(xml);
    ASSERT_TRUE(doc) << "not well-formed";
    auto root = Select(doc.Get(), L"/c:customUI");
    ASSERT_EQ(root.size(), 1u) << "the root is not customUI in the 2009/07 namespace";
    EXPECT_EQ(TextOf(Select(doc.Get(), L"/c:customUI/@onLoad").at(0).Get()), L"onLoad");
    EXPECT_EQ(Select(doc.Get(), L"//c:group").size(), 1u);
    auto tab = Select(doc.Get(), L"/c:customUI/c:ribbon/c:tabs/c:tab[c:group]/@idMso");
    ASSERT_EQ(tab.size(), 1u);
    EXPECT_EQ(TextOf(tab[0].Get()), L"TabNewMailMessage");
    EXPECT_EQ(TextOf(Select(doc.Get(), L"//c:group/@id").at(0).Get()), L"pvlVoiceMessage");
    EXPECT_EQ(TextOf(Select(doc.Get(), L"//c:group/@label").at(0).Get()), L"Voice message");

    // The controls, in order: Record a toggle (its state for screen readers), Play and Stop labelled
    // by the add-in (the clock), each with a keytip of its own.
    struct Row {
        const wchar_t *element, *id, *label, *size, *action;
    };
    const Row expected[] = {{L"toggleButton", L"pvlRecord", L"Record", L"large", L"onToggle"},
                            {L"button", L"pvlPlay", L"", L"large", L"onAction"},
                            {L"button", L"pvlStop", L"", L"large", L"onAction"},
                            {L"button", L"pvlAbout", L"Parvaline", L"", L"onAction"}};
    std::set<std::wstring> keytips;
    auto buttons = Select(doc.Get(), L"//c:group/c:*");
    ASSERT_EQ(buttons.size(), std::size(expected));
    for (size_t i = 0; i < buttons.size(); ++i) {
        auto attribute = [&](const wchar_t* name) {
            ComPtr<IXMLDOMNamedNodeMap> map;
            ComPtr<IXMLDOMNode> value;
            pvl::UniqueBstr n(name);
            if (FAILED(buttons[i]->get_attributes(map.GetAddressOf())) || !map ||
                FAILED(map->getNamedItem(n.get(), value.GetAddressOf())))
                return std::wstring();
            return TextOf(value.Get());
        };
        pvl::UniqueBstr tag;
        buttons[i]->get_baseName(tag.put());
        EXPECT_STREQ(tag.c_str(), expected[i].element);
        EXPECT_EQ(attribute(L"id"), expected[i].id);
        EXPECT_EQ(attribute(L"label"), expected[i].label);
        EXPECT_EQ(attribute(L"getLabel"), *expected[i].label ? L"" : L"getLabel");
        EXPECT_EQ(attribute(L"size"), expected[i].size);
        EXPECT_EQ(attribute(L"onAction"), expected[i].action);
        for (const wchar_t* callback : {L"getEnabled", L"getImage"}) EXPECT_EQ(attribute(callback), callback);
        const std::wstring keytip = attribute(L"keytip");
        EXPECT_TRUE(!keytip.empty() && keytip.size() <= 3) << Narrow(expected[i].id);
        EXPECT_TRUE(keytips.insert(keytip).second) << "keytip used twice: " << Narrow(keytip);
        EXPECT_FALSE(attribute(L"screentip").empty());
        EXPECT_FALSE(attribute(L"supertip").empty() && attribute(L"getSupertip").empty());
    }
    EXPECT_EQ(TextOf(Select(doc.Get(), L"//c:button[@id='pvlAbout']/@screentip").at(0).Get()), L"About Parvaline");

    // No unique id twice.
    std::set<std::wstring> ids;
    for (auto& id : Select(doc.Get(), L"//@id")) EXPECT_TRUE(ids.insert(TextOf(id.Get())).second) << Narrow(TextOf(id.Get()));

    // The callback names it uses: exactly the ones the add-in answers.
    std::set<std::wstring> callbacks;
    for (auto& a : Select(doc.Get(), L"//@*")) {
        pvl::UniqueBstr name;
        a->get_nodeName(name.put());
        const std::wstring n = name.c_str();
        if (n.rfind(L"on", 0) == 0 || n.rfind(L"get", 0) == 0) callbacks.insert(TextOf(a.Get()));
    }
    EXPECT_EQ(callbacks, kModuleCallbacks);
}

TEST_F(RibbonHostTest, TheModulesXmlLoadsInTheSimulatedRibbon) {
    addin_->xml[kCompose] = ModuleXml();
    addin_->labels[L"pvlPlay"] = L"Play";
    addin_->labels[L"pvlStop"] = L"Stop";
    Attach();
    auto a = OpenMail();
    EXPECT_TRUE(Ribbon_().Errors().empty()) << Narrow(Ribbon_().Errors().empty() ? L"" : Ribbon_().Errors()[0]);
    ASSERT_EQ(Ribbon_().Groups(a.Get()).size(), 1u);
    EXPECT_EQ(States(a), L"RPSP");
    EXPECT_EQ(Ribbon_().Button(a.Get(), L"pvlAbout")->screentip, L"About Parvaline");
}

}  // namespace
}  // namespace pvltest
