#include "simhost/ribbon.h"
#include "common/result.h"
#include "simhost/outlook.h"
#include <msxml2.h>
#include <olectl.h>
#include <algorithm>
#include <cwchar>
#include <set>

namespace simhost {

namespace id = pvl::host::dispid;
using pvl::DispMember;
using pvl::UniqueBstr;

namespace {

// MSXML's documents, newest first; Wine provides both. Declared here: mingw's import library for
// them is not part of the toolchain's defaults.
constexpr CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
constexpr IID kIXMLDOMDocument = {0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

constexpr UINT kRequery = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"ParvalineSimRibbon";

// The ribbon each kind of window loads, and the built-in tabs the add-in may add groups to: only ids
// Outlook has for that ribbon (its published control-id lists), so that XML naming a tab Outlook
// lacks fails here as it fails there.
struct RibbonKind {
    long itemClass;  // the item's class; olExplorer for the main window
    bool received;
    const wchar_t* ribbonId;
    const wchar_t* tab;         // the window's own tab
    const wchar_t* tabSet;      // a contextual tab set modelled in this window, or null
    const wchar_t* tabSetTab;   // its built-in tab
};
constexpr RibbonKind kRibbonKinds[] = {
    {pvl::host::olMail, false, pvl::host::kRibbonMailCompose, L"TabNewMailMessage", nullptr, nullptr},
    {pvl::host::olMail, true, pvl::host::kRibbonMailRead, L"TabReadMessage", nullptr, nullptr},
    {pvl::host::olContact, false, pvl::host::kRibbonContact, L"TabContact", nullptr, nullptr},
    // The main window: its Home tab, and the tab set it shows while a reply is written inline.
    {pvl::host::olExplorer, false, pvl::host::kRibbonExplorer, L"TabMail", L"TabComposeTools", L"TabMessage"},
};
// Every window's ribbon also has the Add-ins tab (where command bars appear).
constexpr wchar_t kAddInsTab[] = L"TabAddIns";

// What a get-callback answers, and where the answer goes.
enum class Answer { Bool, Text, Picture };
struct QueryRow {
    const wchar_t* attribute;
    Answer answer;
    void (*store)(RibbonButtonView&, const VARIANT&, ReceivedPicture&&);
};
// In the order a window asks them.
constexpr QueryRow kQueries[] = {
    {L"getEnabled", Answer::Bool, [](RibbonButtonView& v, const VARIANT& r, ReceivedPicture&&) { v.enabled = r.boolVal != VARIANT_FALSE; }},
    {L"getImage", Answer::Picture, [](RibbonButtonView& v, const VARIANT&, ReceivedPicture&& p) { v.picture = std::move(p); }},
    {L"getLabel", Answer::Text, [](RibbonButtonView& v, const VARIANT& r, ReceivedPicture&&) { v.label = r.bstrVal ? r.bstrVal : L""; }},
    {L"getVisible", Answer::Bool, [](RibbonButtonView& v, const VARIANT& r, ReceivedPicture&&) { v.visible = r.boolVal != VARIANT_FALSE; }},
    {L"getScreentip", Answer::Text, [](RibbonButtonView& v, const VARIANT& r, ReceivedPicture&&) { v.screentip = r.bstrVal ? r.bstrVal : L""; }},
    {L"getSupertip", Answer::Text, [](RibbonButtonView& v, const VARIANT& r, ReceivedPicture&&) { v.supertip = r.bstrVal ? r.bstrVal : L""; }},
    {L"getPressed", Answer::Bool, [](RibbonButtonView& v, const VARIANT& r, ReceivedPicture&&) { v.pressed = r.boolVal != VARIANT_FALSE; }},
};

// The controls a group may hold, and the callbacks each one takes (the schema's attribute groups:
// a labelControl has no action, no picture and no keytip; only a toggleButton has getPressed).
struct ControlKind {
    const wchar_t* element;
    bool sized, keytip, pressable;
    std::vector<const wchar_t*> callbacks;
};
const ControlKind kControlKinds[] = {
    {L"button", true, true, true,
     {L"onAction", L"getEnabled", L"getImage", L"getLabel", L"getVisible", L"getScreentip", L"getSupertip"}},
    {L"toggleButton", true, true, true,
     {L"onAction", L"getEnabled", L"getImage", L"getLabel", L"getVisible", L"getScreentip", L"getSupertip", L"getPressed"}},
    {L"labelControl", false, false, false, {L"getEnabled", L"getLabel", L"getVisible", L"getScreentip", L"getSupertip"}},
};

const ControlKind* ControlKindOf(const std::wstring& element) {
    for (const ControlKind& k : kControlKinds)
        if (element == k.element) return &k;
    return nullptr;
}

std::wstring Hex(HRESULT hr) {
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

bool IsCallbackAttribute(const std::wstring& name) {
    return name.rfind(L"get", 0) == 0 || name.rfind(L"on", 0) == 0 || name == L"loadImage";
}

const RibbonKind* KindByRibbonId(const std::wstring& ribbonId) {
    for (const RibbonKind& k : kRibbonKinds)
        if (ribbonId == k.ribbonId) return &k;
    return nullptr;
}

const RibbonKind* KindOf(const HostWindow* window) {
    if (dynamic_cast<const Explorer*>(window)) return KindByRibbonId(pvl::host::kRibbonExplorer);
    auto* inspector = dynamic_cast<const Inspector*>(window);
    // Read from the host's own item, not through the add-in's interfaces, so nothing is logged.
    auto* item = dynamic_cast<Item*>(inspector ? inspector->CurrentItem() : nullptr);
    if (!item) return nullptr;
    auto* mail = dynamic_cast<MailItem*>(item);
    const bool received = mail && mail->Received();
    for (const RibbonKind& k : kRibbonKinds)
        if (k.itemClass == item->ItemClass() && k.received == received) return &k;
    return nullptr;
}

// --- reading the XML through MSXML's DOM ---------------------------------------------------------------

std::wstring NodeText(IXMLDOMNode* node, HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*get)(BSTR*)) {
    UniqueBstr s;
    if (FAILED((node->*get)(s.put()))) return {};
    return s.c_str();
}

bool IsElement(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    return SUCCEEDED(node->get_nodeType(&type)) && type == NODE_ELEMENT;
}

// The element children of a node, in document order.
std::vector<ComPtr<IXMLDOMNode>> Children(IXMLDOMNode* node) {
    std::vector<ComPtr<IXMLDOMNode>> out;
    ComPtr<IXMLDOMNode> child;
    if (FAILED(node->get_firstChild(child.GetAddressOf()))) return out;
    while (child) {
        if (IsElement(child.Get())) out.push_back(child);
        ComPtr<IXMLDOMNode> next;
        if (FAILED(child->get_nextSibling(next.GetAddressOf()))) break;
        child = next;
    }
    return out;
}

// Attributes by name, as written.
std::map<std::wstring, std::wstring> Attributes(IXMLDOMNode* node) {
    std::map<std::wstring, std::wstring> out;
    ComPtr<IXMLDOMNamedNodeMap> map;
    if (FAILED(node->get_attributes(map.GetAddressOf())) || !map) return out;
    LONG count = 0;
    if (FAILED(map->get_length(&count))) return out;
    for (LONG i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> attribute;
        if (FAILED(map->get_item(i, attribute.GetAddressOf())) || !attribute) continue;
        const std::wstring name = NodeText(attribute.Get(), &IXMLDOMNode::get_nodeName);
        if (name == L"xmlns" || name.rfind(L"xmlns:", 0) == 0) continue;
        out[name] = NodeText(attribute.Get(), &IXMLDOMNode::get_text);
    }
    return out;
}

std::wstring Take(std::map<std::wstring, std::wstring>& attributes, const wchar_t* name) {
    auto it = attributes.find(name);
    if (it == attributes.end()) return {};
    std::wstring value = it->second;
    attributes.erase(it);
    return value;
}

bool ReadBool(const std::wstring& text, bool fallback) {
    if (text == L"true" || text == L"1") return true;
    if (text == L"false" || text == L"0") return false;
    return fallback;
}

std::wstring DescribeResult(const VARIANT& v) {
    if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) {
        if (!v.punkVal) return L"Nothing";
        ComPtr<IPicture> picture;
        return SUCCEEDED(v.punkVal->QueryInterface(IID_PPV_ARGS(&picture))) ? L"Picture" : L"Object";
    }
    return Describe(v);
}

}  // namespace

// --- RibbonControl ---------------------------------------------------------------------------------

RibbonControl::RibbonControl(std::wstring id, std::wstring tag, IDispatch* context)
    : HostObject(L"RibbonControl"), id_(std::move(id)), tag_(std::move(tag)), context_(context) {}

const QITAB* RibbonControl::Interfaces() {
    static const QITAB table[] = {QITABENTMULTI(RibbonControl, IDispatch, IRibbonControl),
                                  QITABENTMULTI2(RibbonControl, pvl::host::IID_IRibbonControl, IRibbonControl), {}};
    return table;
}

const wchar_t* RibbonControl::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_IRibbonControl) ? L"IRibbonControl" : nullptr;
}

std::span<const DispMember> RibbonControl::Members() const {
    static const DispMember m[] = {{L"Id", id::RibbonControl_Id},
                                   {L"Context", id::RibbonControl_Context},
                                   {L"Tag", id::RibbonControl_Tag}};
    return m;
}

HRESULT RibbonControl::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS*, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::RibbonControl_Id:
            RETURN_IF_FAILED(EnterGet(L"Id"));
            return pvl::ReturnString(id_, result);
        case id::RibbonControl_Context:
            RETURN_IF_FAILED(EnterGet(L"Context"));
            return pvl::ReturnObject(context_.Get(), result);
        case id::RibbonControl_Tag:
            RETURN_IF_FAILED(EnterGet(L"Tag"));
            return pvl::ReturnString(tag_, result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

IFACEMETHODIMP RibbonControl::get_Id(BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(EnterGet(L"Id"));
    *out = SysAllocString(id_.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

IFACEMETHODIMP RibbonControl::get_Context(IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(EnterGet(L"Context"));
    if (context_) context_.CopyTo(out);
    return S_OK;
}

IFACEMETHODIMP RibbonControl::get_Tag(BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(EnterGet(L"Tag"));
    *out = SysAllocString(tag_.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

// --- RibbonUI --------------------------------------------------------------------------------------

RibbonUI::RibbonUI(Ribbon* owner, std::wstring ribbonId)
    : HostObject(L"RibbonUI"), owner_(owner), ribbonId_(std::move(ribbonId)) {}

const QITAB* RibbonUI::Interfaces() {
    static const QITAB table[] = {QITABENTMULTI(RibbonUI, IDispatch, IRibbonUI),
                                  QITABENTMULTI2(RibbonUI, pvl::host::IID_IRibbonUI, IRibbonUI), {}};
    return table;
}

const wchar_t* RibbonUI::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_IRibbonUI) ? L"IRibbonUI" : nullptr;
}

std::span<const DispMember> RibbonUI::Members() const {
    static const DispMember m[] = {
        {L"Invalidate", id::RibbonUI_Invalidate},         {L"InvalidateControl", id::RibbonUI_InvalidateControl},
        {L"InvalidateControlMso", id::RibbonUI_InvalidateControlMso}, {L"ActivateTab", id::RibbonUI_ActivateTab},
        {L"ActivateTabMso", id::RibbonUI_ActivateTabMso}, {L"ActivateTabQ", id::RibbonUI_ActivateTabQ}};
    return m;
}

HRESULT RibbonUI::DoInvalidate(const std::wstring& controlId, bool all) {
    // The add-in unloaded: Office has dropped its ribbon.
    if (!owner_) return E_FAIL;
    return owner_->Invalidate(ribbonId_, controlId, all);
}

HRESULT RibbonUI::DoActivateTab(const std::wstring& tabId) {
    if (!owner_) return E_FAIL;
    return owner_->HasTab(ribbonId_, tabId) ? S_OK : E_INVALIDARG;
}

HRESULT RibbonUI::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT*) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    auto text = [&](UINT index, std::wstring* out) -> HRESULT {
        pvl::Variant v;
        RETURN_IF_FAILED(pvl::GetArg(params, index, VT_BSTR, v.put()));
        *out = v.ref().bstrVal ? v.ref().bstrVal : L"";
        return S_OK;
    };
    std::wstring controlId, ns;
    switch (dispid) {
        case id::RibbonUI_Invalidate:
            RETURN_IF_FAILED(EnterCall(L"Invalidate", params));
            return DoInvalidate({}, true);
        case id::RibbonUI_InvalidateControl:
            RETURN_IF_FAILED(EnterCall(L"InvalidateControl", params));
            RETURN_IF_FAILED(text(0, &controlId));
            return DoInvalidate(controlId, false);
        case id::RibbonUI_InvalidateControlMso:
            // Built-in controls are not modelled: nothing of the add-in's changes.
            RETURN_IF_FAILED(EnterCall(L"InvalidateControlMso", params));
            return text(0, &controlId);
        case id::RibbonUI_ActivateTab:
            RETURN_IF_FAILED(EnterCall(L"ActivateTab", params));
            RETURN_IF_FAILED(text(0, &controlId));
            return DoActivateTab(controlId);
        case id::RibbonUI_ActivateTabMso:
            RETURN_IF_FAILED(EnterCall(L"ActivateTabMso", params));
            RETURN_IF_FAILED(text(0, &controlId));
            return DoActivateTab(controlId);
        case id::RibbonUI_ActivateTabQ:
            RETURN_IF_FAILED(EnterCall(L"ActivateTabQ", params));
            RETURN_IF_FAILED(text(0, &controlId));
            return text(1, &ns);
    }
    return DISP_E_MEMBERNOTFOUND;
}

IFACEMETHODIMP RibbonUI::Invalidate() {
    PVL_COM_TRY
    RETURN_IF_FAILED(Enter(L"Invalidate", L"call"));
    return DoInvalidate({}, true);
    PVL_COM_CATCH
}

IFACEMETHODIMP RibbonUI::InvalidateControl(BSTR controlId) {
    PVL_COM_TRY
    const std::wstring id = controlId ? controlId : L"";
    RETURN_IF_FAILED(Enter(L"InvalidateControl", L"call", Quoted(id)));
    return DoInvalidate(id, false);
    PVL_COM_CATCH
}

IFACEMETHODIMP RibbonUI::InvalidateControlMso(BSTR controlId) {
    PVL_COM_TRY
    return Enter(L"InvalidateControlMso", L"call", Quoted(controlId ? controlId : L""));
    PVL_COM_CATCH
}

IFACEMETHODIMP RibbonUI::ActivateTab(BSTR controlId) {
    PVL_COM_TRY
    const std::wstring id = controlId ? controlId : L"";
    RETURN_IF_FAILED(Enter(L"ActivateTab", L"call", Quoted(id)));
    return DoActivateTab(id);
    PVL_COM_CATCH
}

IFACEMETHODIMP RibbonUI::ActivateTabMso(BSTR controlId) {
    PVL_COM_TRY
    const std::wstring id = controlId ? controlId : L"";
    RETURN_IF_FAILED(Enter(L"ActivateTabMso", L"call", Quoted(id)));
    return DoActivateTab(id);
    PVL_COM_CATCH
}

IFACEMETHODIMP RibbonUI::ActivateTabQ(BSTR controlId, BSTR ns) {
    PVL_COM_TRY
    return Enter(L"ActivateTabQ", L"call", Quoted(controlId ? controlId : L"") + L", " + Quoted(ns ? ns : L""));
    PVL_COM_CATCH
}

// --- Ribbon ----------------------------------------------------------------------------------------

std::wstring RibbonCallback::Text() const {
    std::wstring t = attribute;
    if (name != attribute) t += L"=" + name;
    if (!control.empty()) t += L" " + control;
    if (!window.empty()) t += L" " + window;
    if (!args.empty()) t += L" (" + args + L")";
    if (FAILED(hr)) return t + L" failed " + Hex(hr);
    if (!result.empty()) t += L" -> " + result;
    return t;
}

Ribbon::Ribbon(Inspectors* inspectors, Explorers* explorers) : inspectors_(inspectors), explorers_(explorers) {}

Ribbon::~Ribbon() { Detach(); }

HRESULT Ribbon::Attach(IUnknown* addin, const std::wstring& name) {
    if (!addin) return E_POINTER;
    Detach();
    RETURN_IF_FAILED(addin->QueryInterface(IID_PPV_ARGS(&dispatch_)));
    addin_ = addin;
    name_ = name;
    // Office asks the object that answers IDTExtensibility2; without the interface, no ribbon.
    if (FAILED(addin->QueryInterface(pvl::host::IID_IRibbonExtensibility,
                                     reinterpret_cast<void**>(extensibility_.GetAddressOf()))))
        extensibility_.Reset();

    static const ATOM atom = [] {
        WNDCLASSEXW wc{sizeof wc};
        wc.lpfnWndProc = &Ribbon::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc);
    }();
    if (atom)
        messages_.reset(CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr));
    if (messages_) SetWindowLongPtrW(messages_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    // Outlook asks for its main window's ribbon at start-up, whether or not a main window is open.
    if (extensibility_) CustomisationFor(pvl::host::kRibbonExplorer);
    if (explorers_ && Attached()) {
        auto open = explorers_->All();
        for (auto& explorer : open)
            if (!explorer->IsClosed()) Load(explorer.Get());
    }
    if (inspectors_ && Attached()) {
        auto open = inspectors_->All();
        for (auto& inspector : open)
            if (!inspector->IsClosed()) Load(inspector.Get());
    }
    return extensibility_ ? S_OK : S_FALSE;
}

void Ribbon::Detach() {
    if (messages_) SetWindowLongPtrW(messages_.get(), GWLP_USERDATA, 0);
    messages_.reset();
    posted_ = false;
    for (auto& [id, c] : customisations_)
        if (c.ui) c.ui->Orphan();
    customisations_.clear();
    for (auto& w : windows_) w->closed = true;
    windows_.clear();
    extensibility_.Reset();
    dispatch_.Reset();
    addin_.Reset();
    ++generation_;
}

LRESULT CALLBACK Ribbon::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRequery) {
        if (auto* self = reinterpret_cast<Ribbon*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
            self->posted_ = false;
            try {
                self->Update();
            } catch (...) {
                // Nothing may leave a window procedure.
            }
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void Ribbon::Post() {
    if (posted_ || !messages_) return;
    posted_ = PostMessageW(messages_.get(), kRequery, 0, 0) != FALSE;
}

bool Ribbon::Pending() const {
    for (auto& w : windows_)
        if (!w->dirty.empty()) return true;
    return false;
}

void Ribbon::RuntimeError(const std::wstring& what) {
    errors_.push_back(L"Custom UI Runtime Error in " + name_ + L": " + what);
}

void Ribbon::XmlError(const std::wstring& what) {
    errors_.push_back(L"Error found in Custom UI XML of " + Quoted(name_) + L": " + what);
}

void Ribbon::WindowOpened(HostWindow* host) {
    if (!Attached()) return;
    Load(host);
}

void Ribbon::WindowClosed(HostWindow* host) {
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](auto& w) { return w->host.Get() == host; });
    if (it == windows_.end()) return;
    (*it)->closed = true;
    windows_.erase(it);
    ++generation_;
}

void Ribbon::TabSetsChanged(HostWindow* host) {
    auto window = WindowOf(host);
    if (!window || !Attached()) return;
    auto c = customisations_.find(window->ribbonId);
    if (c == customisations_.end() || !c->second.valid) return;
    const std::vector<Group> groups = c->second.groups;  // a callback may detach the ribbon
    std::vector<Group> appeared;
    std::set<std::wstring> now;
    for (const Group& g : groups) {
        if (g.tabSet.empty() || !host->ShowsTabSet(g.tabSet)) continue;
        now.insert(g.tabSet);
        if (!window->tabSets.count(g.tabSet)) appeared.push_back(g);
    }
    // A tab set that went takes its controls' pending re-queries with it; one that came is asked
    // afresh, as Office asks a tab's controls when the tab appears.
    std::erase_if(window->dirty, [&](const std::wstring& id) {
        const Group* g = GroupOf(window->ribbonId, id);
        return g && !g->tabSet.empty() && !now.count(g->tabSet);
    });
    window->tabSets = now;
    ++generation_;
    Show(window, appeared);
}

Ribbon::Customisation* Ribbon::CustomisationFor(const std::wstring& ribbonId) {
    auto found = customisations_.find(ribbonId);
    if (found != customisations_.end()) return &found->second;
    // Asked once per ribbon id, on the first window of that kind, whatever the answer.
    customisations_[ribbonId];
    if (!extensibility_) return &customisations_[ribbonId];
    requests_.push_back(ribbonId);
    UniqueBstr id(ribbonId.c_str()), xml;
    ComPtr<IRibbonExtensibility> keep = extensibility_;
    const HRESULT hr = keep->GetCustomUI(id.get(), xml.put());
    // The add-in may have been detached meanwhile: then there is nothing to customise.
    if (!Attached()) return nullptr;
    if (FAILED(hr)) {
        RuntimeError(L"GetCustomUI(" + Quoted(ribbonId) + L") failed: " + Hex(hr));
        return &customisations_[ribbonId];
    }
    // An empty string: no customisation for this ribbon.
    if (xml.size() == 0) return &customisations_[ribbonId];
    Customisation parsed;
    if (FAILED(Parse(ribbonId, xml.c_str(), &parsed))) return &customisations_[ribbonId];
    parsed.ui = Make<RibbonUI>(this, ribbonId);
    parsed.valid = true;
    const Callback onLoad = parsed.onLoad;
    ComPtr<RibbonUI> ui = parsed.ui;
    customisations_[ribbonId] = std::move(parsed);
    if (!onLoad.name.empty()) {
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = static_cast<IRibbonUI*>(ui.Get());
        pvl::Variant result;
        const HRESULT loaded = Call(L"onLoad", onLoad, L"", L"", {}, &arg, 1, result.put());
        if (!Attached()) return nullptr;
        if (FAILED(loaded)) {
            RuntimeError(L"An error occurred while calling the callback: " + Quoted(onLoad.name) + L" (" + Hex(loaded) + L")");
            customisations_[ribbonId].valid = false;
        }
    }
    return &customisations_[ribbonId];
}

HRESULT Ribbon::Resolve(Callback* callback) {
    if (!dispatch_) return E_FAIL;
    UniqueBstr name(callback->name.c_str());
    LPOLESTR names[] = {name.get()};
    const HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &callback->id);
    if (FAILED(hr)) {
        callback->id = DISPID_UNKNOWN;
        RuntimeError(L"The callback function " + Quoted(callback->name) + L" was not found (" + Hex(hr) + L")");
    }
    return hr;
}

HRESULT Ribbon::Parse(const std::wstring& ribbonId, const std::wstring& xml, Customisation* out) {
    ComPtr<IXMLDOMDocument> doc;
    HRESULT hr = CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument,
                                  reinterpret_cast<void**>(doc.GetAddressOf()));
    if (FAILED(hr))
        hr = CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument,
                              reinterpret_cast<void**>(doc.GetAddressOf()));
    if (FAILED(hr)) {
        XmlError(L"the XML parser is not available (" + Hex(hr) + L")");
        return hr;
    }
    RETURN_IF_FAILED(doc->put_async(VARIANT_FALSE));
    UniqueBstr text(xml.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = doc->loadXML(text.get(), &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE) {
        ComPtr<IXMLDOMParseError> error;
        LONG code = 0, line = 0, column = 0;
        std::wstring reason;
        if (SUCCEEDED(doc->get_parseError(error.GetAddressOf())) && error) {
            error->get_errorCode(&code);
            error->get_line(&line);
            error->get_linepos(&column);
            UniqueBstr r;
            if (SUCCEEDED(error->get_reason(r.put()))) reason = r.c_str();
            while (!reason.empty() && iswspace(reason.back())) reason.pop_back();
        }
        XmlError(L"Line: " + std::to_wstring(line) + L" Column: " + std::to_wstring(column) + L" Error Code " +
                 Hex(code ? code : E_FAIL) + L" " + reason);
        return E_FAIL;
    }
    ComPtr<IXMLDOMElement> rootElement;
    if (FAILED(doc->get_documentElement(rootElement.GetAddressOf())) || !rootElement) {
        XmlError(L"the document has no root element");
        return E_FAIL;
    }
    IXMLDOMNode* root = rootElement.Get();
    const std::wstring ns = NodeText(root, &IXMLDOMNode::get_namespaceURI);
    if (NodeText(root, &IXMLDOMNode::get_baseName) != L"customUI" ||
        (ns != pvl::host::kCustomUiNamespace2009 && ns != pvl::host::kCustomUiNamespace2006)) {
        XmlError(L"the root element is not customUI in a customUI namespace (" + Quoted(ns) + L")");
        return E_FAIL;
    }

    // The elements this host models; anything else inside a group is an error (the harsher reading:
    // Office would show it, but this host cannot say how, so an add-in is told rather than misled).
    bool ok = true;
    std::set<std::wstring> ids;
    auto fail = [&](const std::wstring& what) {
        XmlError(what);
        ok = false;
    };
    auto element = [&](IXMLDOMNode* node, const wchar_t* expected) {
        return NodeText(node, &IXMLDOMNode::get_baseName) == expected && NodeText(node, &IXMLDOMNode::get_namespaceURI) == ns;
    };
    auto uniqueId = [&](const std::wstring& id) {
        if (id.empty()) return;
        if (!ids.insert(id).second) fail(L"the id " + Quoted(id) + L" is used more than once");
    };
    auto callbacksOf = [&](std::map<std::wstring, std::wstring>& attributes, const std::wstring& where,
                           const std::vector<const wchar_t*>& allowed, std::map<std::wstring, Callback>* into) {
        for (auto it = attributes.begin(); it != attributes.end();) {
            if (!IsCallbackAttribute(it->first)) {
                ++it;
                continue;
            }
            const bool known = std::any_of(allowed.begin(), allowed.end(), [&](const wchar_t* a) { return it->first == a; });
            if (!known) fail(L"the attribute " + Quoted(it->first) + L" of " + where + L" is not modelled by this host");
            else if (it->second.empty()) fail(L"the attribute " + Quoted(it->first) + L" of " + where + L" is empty");
            else (*into)[it->first] = Callback{it->second};
            it = attributes.erase(it);
        }
    };

    const RibbonKind* kind = KindByRibbonId(ribbonId);

    auto rootAttributes = Attributes(root);
    std::map<std::wstring, Callback> rootCallbacks;
    callbacksOf(rootAttributes, L"customUI", {L"onLoad"}, &rootCallbacks);
    if (rootCallbacks.count(L"onLoad")) out->onLoad = rootCallbacks[L"onLoad"];

    // One tab and its groups: a built-in tab by idMso (one this window has, in its tab set when
    // inside one), or the add-in's own by id.
    auto parseTab = [&](IXMLDOMNode* tab, const std::wstring& tabSet, const wchar_t* builtIn) {
        auto tabAttributes = Attributes(tab);
        std::wstring tabId = Take(tabAttributes, L"idMso");
        if (!tabId.empty()) {
            const bool known = tabSet.empty() ? tabId == kAddInsTab || (kind && tabId == kind->tab) : builtIn && tabId == builtIn;
            if (!known) fail(L"Unknown Office control ID: " + Quoted(tabId));
        } else {
            tabId = Take(tabAttributes, L"id");
            if (tabId.empty()) fail(L"a tab has neither id nor idMso");
            uniqueId(tabId);
        }
        for (auto& groupNode : Children(tab)) {
            if (!element(groupNode.Get(), L"group")) {
                fail(L"unexpected element " + Quoted(NodeText(groupNode.Get(), &IXMLDOMNode::get_nodeName)) +
                     L" in tab " + Quoted(tabId));
                continue;
            }
            auto groupAttributes = Attributes(groupNode.Get());
            Group group;
            group.tab = tabId;
            group.tabSet = tabSet;
            group.id = Take(groupAttributes, L"id");
            group.label = Take(groupAttributes, L"label");
            if (group.id.empty()) fail(L"a group in tab " + Quoted(tabId) + L" has no id");
            uniqueId(group.id);
            std::map<std::wstring, Callback> none;
            callbacksOf(groupAttributes, L"group " + Quoted(group.id), {}, &none);
            for (auto& node : Children(groupNode.Get())) {
                const std::wstring elementName = NodeText(node.Get(), &IXMLDOMNode::get_baseName);
                const ControlKind* controlKind = ControlKindOf(elementName);
                if (!controlKind || NodeText(node.Get(), &IXMLDOMNode::get_namespaceURI) != ns) {
                    fail(L"the element " + Quoted(NodeText(node.Get(), &IXMLDOMNode::get_nodeName)) + L" in group " +
                         Quoted(group.id) + L" is not modelled by this host");
                    continue;
                }
                auto a = Attributes(node.Get());
                Control c;
                c.kind = controlKind->element;
                const std::wstring what = c.kind + L" ";
                c.id = Take(a, L"id");
                if (c.id.empty()) fail(L"a " + what + L"in group " + Quoted(group.id) + L" has no id");
                uniqueId(c.id);
                c.tag = Take(a, L"tag");
                c.label = Take(a, L"label");
                c.screentip = Take(a, L"screentip");
                c.supertip = Take(a, L"supertip");
                const bool hasKeytip = a.count(L"keytip") != 0;
                c.keytip = Take(a, L"keytip");
                // The schema's ST_Keytip: a token of 1 to 3 characters; Office refuses the document
                // otherwise, with the validator's words.
                if (hasKeytip && !controlKind->keytip)
                    fail(L"The 'keytip' attribute is not allowed on " + what + Quoted(c.id));
                else if (hasKeytip && (c.keytip.empty() || c.keytip.size() > 3 ||
                                       std::any_of(c.keytip.begin(), c.keytip.end(), [](wchar_t ch) { return iswspace(ch); })))
                    fail(L"The 'keytip' attribute is invalid - The value " + Quoted(c.keytip) +
                         L" is invalid according to its datatype 'ST_Keytip' (1 to 3 characters, no space), on " + what +
                         Quoted(c.id));
                const std::wstring size = Take(a, L"size");
                if (!size.empty() && !controlKind->sized)
                    fail(L"The 'size' attribute is not allowed on " + what + Quoted(c.id));
                else if (!size.empty() && size != L"normal" && size != L"large")
                    fail(L"the size " + Quoted(size) + L" of " + what + Quoted(c.id) + L" is not valid");
                if (!size.empty()) c.size = size;
                c.enabled = ReadBool(Take(a, L"enabled"), true);
                c.visible = ReadBool(Take(a, L"visible"), true);
                callbacksOf(a, what + Quoted(c.id), controlKind->callbacks, &c.callbacks);
                group.controls.push_back(std::move(c));
            }
            out->groups.push_back(std::move(group));
        }
    };

    for (auto& part : Children(root)) {
        if (!element(part.Get(), L"ribbon")) continue;  // backstage, context menus: not in this window
        for (auto& tabs : Children(part.Get())) {
            const bool contextual = element(tabs.Get(), L"contextualTabs");
            if (!contextual && !element(tabs.Get(), L"tabs")) continue;
            for (auto& node : Children(tabs.Get())) {
                if (!contextual) {
                    if (element(node.Get(), L"tab")) parseTab(node.Get(), {}, nullptr);
                    else fail(L"unexpected element " + Quoted(NodeText(node.Get(), &IXMLDOMNode::get_nodeName)) + L" in tabs");
                    continue;
                }
                // <contextualTabs><tabSet idMso="..."><tab .../></tabSet>: only tab sets the window has.
                if (!element(node.Get(), L"tabSet")) {
                    fail(L"unexpected element " + Quoted(NodeText(node.Get(), &IXMLDOMNode::get_nodeName)) + L" in contextualTabs");
                    continue;
                }
                auto setAttributes = Attributes(node.Get());
                const std::wstring tabSet = Take(setAttributes, L"idMso");
                if (tabSet.empty() || !kind || !kind->tabSet || tabSet != kind->tabSet) {
                    fail(L"Unknown Office control ID: " + Quoted(tabSet));
                    continue;
                }
                for (auto& tab : Children(node.Get())) {
                    if (element(tab.Get(), L"tab")) parseTab(tab.Get(), tabSet, kind->tabSetTab);
                    else fail(L"unexpected element " + Quoted(NodeText(tab.Get(), &IXMLDOMNode::get_nodeName)) + L" in tabSet " + Quoted(tabSet));
                }
            }
        }
    }
    if (!ok) return E_FAIL;

    // Every callback is resolved by name before anything is shown.
    if (!out->onLoad.name.empty() && FAILED(Resolve(&out->onLoad))) ok = false;
    for (auto& g : out->groups)
        for (auto& c : g.controls)
            for (auto& [attribute, callback] : c.callbacks)
                if (FAILED(Resolve(&callback))) ok = false;
    return ok ? S_OK : E_FAIL;
}

HRESULT Ribbon::Call(const std::wstring& attribute, const Callback& callback, const std::wstring& control,
                     const std::wstring& window, const std::wstring& args, VARIANT* argsReversed, UINT count,
                     VARIANT* result) {
    RibbonCallback record{attribute, callback.name, control, window, args};
    if (!dispatch_) {
        record.hr = E_FAIL;
        callbacks_.push_back(record);
        return E_FAIL;
    }
    ComPtr<IDispatch> keep = dispatch_;  // the callback may detach the ribbon
    DISPPARAMS params{argsReversed, nullptr, count, 0};
    EXCEPINFO exception{};
    UINT argError = 0;
    record.hr = keep->Invoke(callback.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, &exception,
                             &argError);
    UniqueBstr source, description, helpFile;
    source.reset(exception.bstrSource);
    description.reset(exception.bstrDescription);
    helpFile.reset(exception.bstrHelpFile);
    if (SUCCEEDED(record.hr) && result) record.result = DescribeResult(*result);
    callbacks_.push_back(record);
    return record.hr;
}

HRESULT Ribbon::InvokeCallback(const std::wstring& name, VARIANT* argsReversed, UINT count, VARIANT* result) {
    PVL_COM_TRY
    Callback callback{name};
    if (!dispatch_) return E_FAIL;
    UniqueBstr text(name.c_str());
    LPOLESTR names[] = {text.get()};
    RETURN_IF_FAILED(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &callback.id));
    return Call(name, callback, L"", L"", {}, argsReversed, count, result);
    PVL_COM_CATCH
}

void Ribbon::Load(HostWindow* host) {
    const RibbonKind* kind = KindOf(host);
    if (!kind || WindowOf(host)) return;
    ComPtr<HostWindow> keep(host);
    Customisation* c = CustomisationFor(kind->ribbonId);
    // onLoad may have closed the window or detached the ribbon.
    if (!c || !Attached() || host->IsClosed() || WindowOf(host)) return;
    auto window = std::make_shared<Window>();
    window->host = host;
    window->ribbonId = kind->ribbonId;
    windows_.push_back(window);
    ++generation_;
    if (!c->valid) return;
    std::vector<Group> shown;  // copied: a callback may detach the ribbon
    for (const Group& g : c->groups) {
        if (!g.tabSet.empty() && !host->ShowsTabSet(g.tabSet)) continue;
        if (!g.tabSet.empty()) window->tabSets.insert(g.tabSet);
        shown.push_back(g);
    }
    Show(window, shown);
}

void Ribbon::Show(const std::shared_ptr<Window>& window, const std::vector<Group>& groups) {
    for (const Group& g : groups)
        for (const Control& control : g.controls) {
            RibbonButtonView& v = window->state[control.id];
            v = RibbonButtonView{};
            v.kind = control.kind;
            v.id = control.id;
            v.label = control.label;
            v.tag = control.tag;
            v.screentip = control.screentip;
            v.supertip = control.supertip;
            v.keytip = control.keytip;
            v.size = control.size;
            v.enabled = control.enabled;
            v.visible = control.visible;
        }
    for (const Group& g : groups)
        for (const Control& control : g.controls) {
            if (window->closed || window->failed || !Attached()) return;
            // A tab set may have gone again inside a callback.
            if (!Shown(*window, g)) break;
            Query(window, control);
        }
}

const Ribbon::Group* Ribbon::GroupOf(const std::wstring& ribbonId, const std::wstring& controlId) const {
    auto c = customisations_.find(ribbonId);
    if (c == customisations_.end()) return nullptr;
    for (const Group& g : c->second.groups)
        for (const Control& control : g.controls)
            if (control.id == controlId) return &g;
    return nullptr;
}

void Ribbon::Query(const std::shared_ptr<Window>& window, const Control& control) {
    for (const QueryRow& row : kQueries) {
        if (window->closed || window->failed) return;
        auto it = control.callbacks.find(row.attribute);
        if (it == control.callbacks.end()) continue;
        // A fresh control for every call: Office hands out a new object each time, so an add-in
        // that keeps one keeps a stale one (the harsher reading).
        auto ribbonControl = Make<RibbonControl>(control.id, control.tag, static_cast<IDispatch*>(window->host.Get()));
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = static_cast<IRibbonControl*>(ribbonControl.Get());
        pvl::Variant result;
        HRESULT hr = Call(row.attribute, it->second, control.id, window->host->Name(), {}, &arg, 1, result.put());
        ribbonControl.Reset();
        if (window->closed) return;
        ReceivedPicture picture;
        std::wstring wrongType;
        if (SUCCEEDED(hr)) {
            // The exact type the callback's signature returns, nothing coerced (the harsher reading).
            const VARIANT& r = result.ref();
            switch (row.answer) {
                case Answer::Bool:
                    if (r.vt != VT_BOOL) wrongType = L"VT_BOOL";
                    break;
                case Answer::Text:
                    if (r.vt != VT_BSTR) wrongType = L"VT_BSTR";
                    break;
                case Answer::Picture:
                    if ((r.vt != VT_DISPATCH && r.vt != VT_UNKNOWN) || !r.punkVal) {
                        wrongType = L"an IPictureDisp";
                    } else {
                        ComPtr<IDispatch> disp;
                        if (FAILED(r.punkVal->QueryInterface(IID_PPV_ARGS(&disp))) || FAILED(ReadPicture(disp.Get(), &picture)))
                            wrongType = L"an IPictureDisp holding a bitmap";
                    }
                    break;
            }
        }
        if (FAILED(hr) || !wrongType.empty()) {
            std::wstring why = FAILED(hr) ? Hex(hr) : L"the result is " + DescribeResult(result.ref()) + L", not " + wrongType;
            RuntimeError(L"An error occurred while calling the callback: " + Quoted(it->second.name) + L" (control " +
                         Quoted(control.id) + L" in " + window->host->Name() + L": " + why + L")");
            window->failed = true;
            ++generation_;
            return;
        }
        auto state = window->state.find(control.id);
        if (state == window->state.end()) return;
        row.store(state->second, result.ref(), std::move(picture));
        ++generation_;
    }
}

HRESULT Ribbon::Invalidate(const std::wstring& ribbonId, const std::wstring& controlId, bool all) {
    if (!all && !FindControl(ribbonId, controlId)) return E_INVALIDARG;
    auto c = customisations_.find(ribbonId);
    if (c == customisations_.end()) return E_FAIL;
    for (auto& w : windows_) {
        if (w->ribbonId != ribbonId) continue;
        for (const Group& g : c->second.groups) {
            // A hidden contextual tab is asked afresh when it appears.
            if (!Shown(*w, g)) continue;
            for (const Control& control : g.controls)
                if ((all || control.id == controlId) &&
                    std::find(w->dirty.begin(), w->dirty.end(), control.id) == w->dirty.end())
                    w->dirty.push_back(control.id);
        }
    }
    Post();
    return S_OK;
}

bool Ribbon::HasTab(const std::wstring& ribbonId, const std::wstring& tabId) const {
    auto c = customisations_.find(ribbonId);
    if (c == customisations_.end()) return false;
    if (const RibbonKind* k = KindByRibbonId(ribbonId); k && (tabId == k->tab || (k->tabSetTab && tabId == k->tabSetTab)))
        return true;
    for (const Group& g : c->second.groups)
        if (g.tab == tabId) return true;
    return false;
}

void Ribbon::Update() {
    if (updating_) return;
    updating_ = true;
    const std::vector<std::shared_ptr<Window>> snapshot = windows_;
    for (auto& window : snapshot) {
        std::vector<std::wstring> dirty;
        dirty.swap(window->dirty);
        for (const std::wstring& controlId : dirty) {
            if (window->closed || window->failed || !Attached()) break;
            const Control* found = FindControl(window->ribbonId, controlId);
            const Group* group = GroupOf(window->ribbonId, controlId);
            if (!found || !group || !Shown(*window, *group)) continue;
            const Control control = *found;  // a callback may detach the ribbon
            Query(window, control);
        }
    }
    updating_ = false;
    // Invalidated again while asking: asked again on the next turn of the loop.
    if (Pending()) Post();
}

const Ribbon::Control* Ribbon::FindControl(const std::wstring& ribbonId, const std::wstring& controlId) const {
    auto c = customisations_.find(ribbonId);
    if (c == customisations_.end()) return nullptr;
    for (const Group& g : c->second.groups)
        for (const Control& control : g.controls)
            if (control.id == controlId) return &control;
    return nullptr;
}

std::shared_ptr<Ribbon::Window> Ribbon::WindowOf(const HostWindow* host) const {
    for (auto& w : windows_)
        if (w->host.Get() == host) return w;
    return nullptr;
}

HRESULT Ribbon::Press(HostWindow* host, const std::wstring& controlId, bool force) {
    PVL_COM_TRY
    auto window = WindowOf(host);
    if (!window || !Attached()) return E_FAIL;
    const Control* found = FindControl(window->ribbonId, controlId);
    const Group* group = GroupOf(window->ribbonId, controlId);
    if (!found || !group) return E_INVALIDARG;
    const Control control = *found;
    const ControlKind* kind = ControlKindOf(control.kind);
    if (!kind || !kind->pressable) return E_ACCESSDENIED;
    auto state = window->state.find(controlId);
    if (!force) {
        if (window->failed || !Shown(*window, *group) || state == window->state.end() || !state->second.enabled ||
            !state->second.visible)
            return E_ACCESSDENIED;
    }
    auto action = control.callbacks.find(L"onAction");
    if (action == control.callbacks.end()) return S_FALSE;
    auto ribbonControl = Make<RibbonControl>(control.id, control.tag, static_cast<IDispatch*>(host));
    // onAction(control) for a button; onAction(control, pressed) with the new state for a toggle.
    const bool toggle = control.kind == L"toggleButton";
    const bool pressed = toggle && !(state != window->state.end() && state->second.pressed);
    VARIANT args[2];
    args[0].vt = VT_BOOL;
    args[0].boolVal = pressed ? VARIANT_TRUE : VARIANT_FALSE;
    args[toggle ? 1 : 0].vt = VT_DISPATCH;
    args[toggle ? 1 : 0].pdispVal = static_cast<IRibbonControl*>(ribbonControl.Get());
    pvl::Variant result;
    ComPtr<HostWindow> keep(host);
    const HRESULT hr = Call(L"onAction", action->second, control.id, host->Name(),
                            toggle ? (pressed ? L"True" : L"False") : L"", args, toggle ? 2 : 1, result.put());
    if (FAILED(hr)) {
        RuntimeError(L"An error occurred while calling the callback: " + Quoted(action->second.name) + L" (control " +
                     Quoted(control.id) + L" in " + host->Name() + L": " + Hex(hr) + L")");
        if (!window->closed) {
            window->failed = true;
            ++generation_;
        }
    } else if (toggle && !window->closed) {
        // Office shows the state the user pressed it into and asks getPressed again only after an
        // invalidation (the harsher reading): an add-in that refuses the change must invalidate.
        if (auto now = window->state.find(controlId); now != window->state.end()) now->second.pressed = pressed;
        ++generation_;
    }
    return hr;
    PVL_COM_CATCH
}

std::vector<RibbonGroupView> Ribbon::Groups(const HostWindow* host) const {
    std::vector<RibbonGroupView> out;
    auto window = WindowOf(host);
    if (!window || window->failed) return out;
    auto c = customisations_.find(window->ribbonId);
    if (c == customisations_.end() || !c->second.valid) return out;
    for (const Group& g : c->second.groups) {
        if (!Shown(*window, g)) continue;
        RibbonGroupView view{g.id, g.label, g.tab, g.tabSet, {}};
        for (const Control& control : g.controls) {
            auto state = window->state.find(control.id);
            if (state != window->state.end()) view.buttons.push_back(state->second);
        }
        out.push_back(std::move(view));
    }
    return out;
}

std::optional<RibbonButtonView> Ribbon::Button(const HostWindow* host, const std::wstring& controlId) const {
    for (auto& g : Groups(host))
        for (auto& b : g.buttons)
            if (b.id == controlId) return b;
    return std::nullopt;
}

std::wstring Ribbon::RibbonIdOf(const HostWindow* host) const {
    auto window = WindowOf(host);
    return window ? window->ribbonId : std::wstring();
}

std::vector<std::wstring> Ribbon::RibbonIds() {
    std::vector<std::wstring> out;
    for (const RibbonKind& k : kRibbonKinds) out.push_back(k.ribbonId);
    return out;
}

std::vector<BuiltInId> Ribbon::BuiltInIds(const std::wstring& ribbonId) {
    const RibbonKind* k = KindByRibbonId(ribbonId);
    if (!k) return {};
    std::vector<BuiltInId> out{{L"tab", k->tab}, {L"tab", kAddInsTab}};
    if (k->tabSet) out.insert(out.end(), {{L"tabSet", k->tabSet}, {L"tab", k->tabSetTab}});
    return out;
}

std::vector<std::wstring> Ribbon::CallbackText() const {
    std::vector<std::wstring> out;
    for (const RibbonCallback& c : callbacks_) out.push_back(c.Text());
    return out;
}

std::vector<std::wstring> Ribbon::CallbacksMatching(const std::wstring& needle) const {
    std::vector<std::wstring> out;
    for (const RibbonCallback& c : callbacks_)
        if (c.Text().find(needle) != std::wstring::npos) out.push_back(c.Text());
    return out;
}

void Ribbon::ClearRecords() {
    errors_.clear();
    callbacks_.clear();
    requests_.clear();
}

RibbonUI* Ribbon::UI(const std::wstring& ribbonId) const {
    auto c = customisations_.find(ribbonId);
    return c == customisations_.end() ? nullptr : c->second.ui.Get();
}

}  // namespace simhost
