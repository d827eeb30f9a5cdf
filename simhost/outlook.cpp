#include "simhost/outlook.h"
#include "simhost/office.h"
#include "simhost/ribbon.h"
#include "common/raii.h"
#include "common/result.h"
#include <shlwapi.h>

namespace simhost {

namespace id = pvl::host::dispid;
using pvl::DispMember;

// What Outlook answers when a sent item is changed: "The item has been moved or deleted."
constexpr HRESULT kItemSent = static_cast<HRESULT>(0x8004010A);
// What a method Outlook forbids on an inline response answers. Outlook raises an error whose number
// is not documented; any failure will do, as long as it is one.
constexpr HRESULT kNotForInlineResponse = E_ABORT;
using pvl::ReturnBool;
using pvl::ReturnLong;
using pvl::ReturnObject;
using pvl::ReturnString;
using pvl::GetPutBool;
using pvl::GetPutLong;
using pvl::GetPutString;

// --- Items -------------------------------------------------------------------------------------------

Item::Item(const wchar_t* type, long itemClass) : EventSource(type), class_(itemClass) {
    AddEvents(pvl::host::DIID_ItemEvents_10);
}

MailItem::MailItem(bool received)
    : Item(L"MailItem", pvl::host::olMail), attachments_(Make<Attachments>()), received_(received) {}
MailItem::~MailItem() = default;

const QITAB* MailItem::Interfaces() {
    static const QITAB table[] = {QITABENT(MailItem, IDispatch),
                                  QITABENTMULTI2(MailItem, pvl::host::IID_MailItem, IDispatch),
                                  QITABENT(MailItem, IConnectionPointContainer), {}};
    return table;
}

const wchar_t* MailItem::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_MailItem) ? L"_MailItem" : nullptr;
}

HRESULT MailItem::Send() {
    if (sent_) return kItemSent;
    ComPtr<MailItem> keep(this);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arg;
    arg.vt = VT_BOOL | VT_BYREF;
    arg.pboolVal = &cancel;
    Raise(pvl::host::DIID_ItemEvents_10, id::ItemEvents_Send, &arg, 1);
    if (cancel != VARIANT_FALSE) return S_FALSE;
    // In the Outbox: an attachment added from now on would not go with the mail.
    sent_ = true;
    attachments_->Freeze();
    return S_OK;
}

void MailItem::Discard() {
    discarded_ = true;
    inline_ = false;
    attachments_->Freeze();
}

HRESULT MailItem::RaiseClose() {
    ComPtr<MailItem> keep(this);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arg;
    arg.vt = VT_BOOL | VT_BYREF;
    arg.pboolVal = &cancel;
    Raise(pvl::host::DIID_ItemEvents_10, id::ItemEvents_Close, &arg, 1);
    return cancel != VARIANT_FALSE ? S_FALSE : S_OK;
}

void MailItem::Save() {
    saved_.clear();
    for (auto& a : attachments_->All()) saved_.push_back({a->DisplayName(), a->Data()});
    savedOnce_ = true;
}

std::span<const DispMember> MailItem::Members() const {
    static const DispMember m[] = {
        {L"Attachments", id::MailItem_Attachments}, {L"Class", id::Item_Class}, {L"Send", id::MailItem_Send}};
    return m;
}

HRESULT MailItem::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::MailItem_Send:
            RETURN_IF_FAILED(EnterCall(L"Send", params));
            if (inline_) return kNotForInlineResponse;
            if (discarded_) return kItemSent;
            return Send();
        case id::MailItem_Attachments:
            RETURN_IF_FAILED(EnterGet(L"Attachments"));
            return ReturnObject(attachments_.Get(), result);
        case id::Item_Class:
            RETURN_IF_FAILED(EnterGet(L"Class"));
            return ReturnLong(class_, result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

ContactItem::ContactItem() : Item(L"ContactItem", pvl::host::olContact) {}

const QITAB* ContactItem::Interfaces() {
    // _ContactItem {00063021-0000-0000-C000-000000000046}
    static const IID IID_ContactItem = {0x00063021, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    static const QITAB table[] = {QITABENT(ContactItem, IDispatch),
                                  QITABENTMULTI2(ContactItem, IID_ContactItem, IDispatch),
                                  QITABENT(ContactItem, IConnectionPointContainer), {}};
    return table;
}

std::span<const DispMember> ContactItem::Members() const {
    static const DispMember m[] = {{L"Class", id::Item_Class}};
    return m;
}

HRESULT ContactItem::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS*, VARIANT* result) {
    if (dispid != id::Item_Class || IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    RETURN_IF_FAILED(EnterGet(L"Class"));
    return ReturnLong(class_, result);
}

// --- Attachments -------------------------------------------------------------------------------------

Attachment::Attachment(Attachments* owner, std::wstring displayName, std::wstring sourcePath,
                       std::vector<unsigned char> data)
    : HostObject(L"Attachment"), owner_(owner), displayName_(std::move(displayName)),
      sourcePath_(std::move(sourcePath)), data_(std::move(data)) {}

const QITAB* Attachment::Interfaces() {
    static const QITAB table[] = {QITABENT(Attachment, IDispatch),
                                  QITABENTMULTI2(Attachment, pvl::host::IID_Attachment, IDispatch), {}};
    return table;
}

std::span<const DispMember> Attachment::Members() const {
    static const DispMember m[] = {{L"Delete", id::Attachment_Delete},
                                   {L"DisplayName", id::Attachment_DisplayName},
                                   {L"FileName", id::Attachment_FileName}};
    return m;
}

HRESULT Attachment::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    switch (dispid) {
        case id::Attachment_Delete: {
            RETURN_IF_FAILED(EnterCall(L"Delete", params));
            if (owner_ && owner_->Frozen()) return kItemSent;
            if (!owner_) return E_FAIL;  // already removed
            ComPtr<Attachment> keep(this);
            owner_->Remove(this);
            return S_OK;
        }
        case id::Attachment_DisplayName:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"DisplayName", params));
                return GetPutString(params, &displayName_);
            }
            RETURN_IF_FAILED(EnterGet(L"DisplayName"));
            return ReturnString(displayName_, result);
        case id::Attachment_FileName:
            RETURN_IF_FAILED(EnterGet(L"FileName"));
            return ReturnString(displayName_, result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

Attachments::Attachments() : HostObject(L"Attachments") {}

Attachments::~Attachments() {
    for (auto& a : items_) a->Orphan();
}

const QITAB* Attachments::Interfaces() {
    static const QITAB table[] = {QITABENT(Attachments, IDispatch),
                                  QITABENTMULTI2(Attachments, pvl::host::IID_Attachments, IDispatch), {}};
    return table;
}

void Attachments::Remove(Attachment* a) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->Get() == a) {
            a->Orphan();
            items_.erase(it);
            return;
        }
}

HRESULT Attachments::AddFile(const std::wstring& path) {
    pvl::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return pvl::LastErrorResult();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return pvl::LastErrorResult();
    std::vector<unsigned char> data(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!data.empty() && (!ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) ||
                          read != data.size()))
        return pvl::LastErrorResult();
    items_.push_back(Make<Attachment>(this, PathFindFileNameW(path.c_str()), path, std::move(data)));
    return S_OK;
}

std::span<const DispMember> Attachments::Members() const {
    static const DispMember m[] = {{L"Count", id::Attachments_Count},
                                   {L"Item", id::Attachments_Item},
                                   {L"Add", id::Attachments_Add},
                                   {L"Remove", id::Attachments_Remove}};
    return m;
}

HRESULT Attachments::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::Attachments_Count:
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return ReturnLong(static_cast<long>(items_.size()), result);
        case id::Attachments_Item: {
            RETURN_IF_FAILED(EnterCall(L"Item", params));
            const VARIANT* index = pvl::RawArg(params, 0);
            if (!index) return DISP_E_PARAMNOTFOUND;
            if (index->vt == VT_BSTR && !Host::Get().AttachmentItemByNumberOnly()) {
                for (auto& a : items_)
                    if (SameText(a->DisplayName(), index->bstrVal ? index->bstrVal : L""))
                        return ReturnObject(a.Get(), result);
                return DISP_E_BADINDEX;
            }
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(items_.size())) return DISP_E_BADINDEX;
            return ReturnObject(items_[n.ref().lVal - 1].Get(), result);
        }
        case id::Attachments_Add: {
            RETURN_IF_FAILED(EnterCall(L"Add", params));
            if (frozen_) return kItemSent;
            pvl::Variant source;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_BSTR, source.put()));
            RETURN_IF_FAILED(AddFile(source.ref().bstrVal ? source.ref().bstrVal : L""));
            return ReturnObject(items_.back().Get(), result);
        }
        case id::Attachments_Remove: {
            RETURN_IF_FAILED(EnterCall(L"Remove", params));
            if (frozen_) return kItemSent;
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(items_.size())) return DISP_E_BADINDEX;
            Remove(items_[n.ref().lVal - 1].Get());
            return S_OK;
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

// --- Inspectors --------------------------------------------------------------------------------------

Inspector::Inspector(Inspectors* owner, IDispatch* item)
    : HostWindow(L"Inspector"), owner_(owner), item_(item), bars_(Make<CommandBars>()) {
    AddEvents(pvl::host::DIID_InspectorEvents_10);
    AddEvents(pvl::host::DIID_InspectorEvents);
}

Inspector::~Inspector() = default;

const QITAB* Inspector::Interfaces() {
    static const QITAB table[] = {QITABENT(Inspector, IDispatch),
                                  QITABENTMULTI2(Inspector, pvl::host::IID_Inspector, IDispatch),
                                  QITABENT(Inspector, IConnectionPointContainer), QITABENT(Inspector, IOleWindow), {}};
    return table;
}

IFACEMETHODIMP Inspector::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = nullptr;
    RETURN_IF_FAILED(Enter(L"GetWindow", L"call"));
    if (!window_) return E_FAIL;
    *window = window_;
    return S_OK;
}

const wchar_t* Inspector::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_Inspector) ? L"_Inspector" : nullptr;
}

void Inspector::OverrideCurrentItem(const VARIANT& v, bool literal) {
    override_.CopyFrom(v);
    overrideEmpty_ = literal && v.vt == VT_EMPTY;
}

void Inspector::OverrideCommandBars(const VARIANT& v, bool literal) {
    barsOverride_.CopyFrom(v);
    barsOverridden_ = literal || v.vt != VT_EMPTY;
}

HRESULT Inspector::CloseWindow() {
    if (closed_) return S_OK;
    ComPtr<Inspector> keep(this);
    // The mail's own Close comes first; a handler that cancels it keeps the window open. Microsoft
    // does not say whether the "save changes?" question comes between that and the window's Close.
    // The harsher reading: it does, and the user answers Yes, so that the draft holds what the mail
    // held then, and anything added at the window's Close is not saved.
    if (auto* mail = dynamic_cast<MailItem*>(item_.Get())) {
        if (mail->RaiseClose() == S_FALSE) return S_FALSE;
        if (closed_) return S_OK;  // a handler closed it meanwhile
        if (!mail->Sent() && !mail->Received()) mail->Save();
    }
    closed_ = true;
    const HRESULT hr = Raise(pvl::host::DIID_InspectorEvents_10, id::InspectorEvents_Close);
    Raise(pvl::host::DIID_InspectorEvents, id::InspectorEvents_Close);
    if (owner_) owner_->Remove(this);
    return hr == CONNECT_E_NOCONNECTION ? S_OK : hr;
}

HRESULT Inspector::SendMail() {
    auto* mail = dynamic_cast<MailItem*>(item_.Get());
    if (!mail || closed_) return E_UNEXPECTED;
    ComPtr<Inspector> keep(this);
    RETURN_IF_FAILED(mail->Send());
    if (!mail->Sent()) return S_FALSE;
    CloseWindow();
    return S_OK;
}

std::span<const DispMember> Inspector::Members() const {
    static const DispMember m[] = {{L"CommandBars", id::Inspector_CommandBars},
                                   {L"CurrentItem", id::Inspector_CurrentItem},
                                   {L"Close", id::Inspector_Close}};
    return m;
}

HRESULT Inspector::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::Inspector_CurrentItem:
            RETURN_IF_FAILED(EnterGet(L"CurrentItem"));
            if (overrideEmpty_) return S_OK;  // the result stays VT_EMPTY
            if (override_.vt() != VT_EMPTY) return result ? VariantCopy(result, const_cast<VARIANT*>(&override_.ref())) : S_OK;
            return ReturnObject(item_.Get(), result);
        case id::Inspector_CommandBars:
            RETURN_IF_FAILED(EnterGet(L"CommandBars"));
            if (barsOverridden_)
                return result ? VariantCopy(result, const_cast<VARIANT*>(&barsOverride_.ref())) : S_OK;
            return ReturnObject(bars_.Get(), result);
        case id::Inspector_Close:
            RETURN_IF_FAILED(EnterCall(L"Close", params));
            return CloseWindow();
    }
    return DISP_E_MEMBERNOTFOUND;
}

Inspectors::Inspectors() : EventSource(L"Inspectors") { AddEvents(pvl::host::DIID_InspectorsEvents); }

Inspectors::~Inspectors() {
    for (auto& i : items_) i->Orphan();
}

const QITAB* Inspectors::Interfaces() {
    static const QITAB table[] = {QITABENT(Inspectors, IDispatch),
                                  QITABENTMULTI2(Inspectors, pvl::host::IID_Inspectors, IDispatch),
                                  QITABENT(Inspectors, IConnectionPointContainer), {}};
    return table;
}

const wchar_t* Inspectors::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_Inspectors) ? L"_Inspectors" : nullptr;
}

ComPtr<Inspector> Inspectors::Open(IDispatch* item, HWND window) {
    auto inspector = Make<Inspector>(this, item);
    inspector->SetWindow(window);
    items_.push_back(inspector);
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = static_cast<IDispatch*>(inspector.Get());
    Raise(pvl::host::DIID_InspectorsEvents, id::InspectorsEvents_NewInspector, &arg, 1);
    // A handler may have closed the window already.
    if (observer_ && !inspector->IsClosed()) observer_->WindowOpened(inspector.Get());
    return inspector;
}

HRESULT Inspectors::RaiseNewInspector(VARIANT* arg) {
    return Raise(pvl::host::DIID_InspectorsEvents, id::InspectorsEvents_NewInspector, arg, arg ? 1 : 0);
}

void Inspectors::Remove(Inspector* inspector) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->Get() == inspector) {
            if (observer_) observer_->WindowClosed(inspector);
            inspector->Orphan();
            items_.erase(it);
            return;
        }
}

std::span<const DispMember> Inspectors::Members() const {
    static const DispMember m[] = {{L"Count", id::Inspectors_Count}, {L"Item", id::Inspectors_Item}};
    return m;
}

HRESULT Inspectors::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    if (dispid != id::Inspectors_Count && dispid != id::Inspectors_Item) return DISP_E_MEMBERNOTFOUND;
    return InvokeCountOrItem(dispid, id::Inspectors_Count, items_, params, result);
}

// --- Explorers -----------------------------------------------------------------------------------------

// The contextual tab set Outlook's main window shows while a reply is written inline.
constexpr wchar_t kComposeTools[] = L"TabComposeTools";

Explorer::Explorer(Explorers* owner, Inspectors* inspectors)
    : HostWindow(L"Explorer"), owner_(owner), inspectors_(inspectors) {
    AddEvents(pvl::host::DIID_ExplorerEvents_10);
}

Explorer::~Explorer() = default;

CommandBars& Explorer::Bars() {
    if (!bars_) bars_ = Make<CommandBars>();
    return *bars_.Get();
}

const QITAB* Explorer::Interfaces() {
    static const QITAB table[] = {QITABENT(Explorer, IDispatch),
                                  QITABENTMULTI2(Explorer, pvl::host::IID_Explorer, IDispatch),
                                  QITABENT(Explorer, IConnectionPointContainer),
                                  QITABENT(Explorer, IOleWindow), {}};
    return table;
}

const wchar_t* Explorer::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_Explorer) ? L"_Explorer" : nullptr;
}

bool Explorer::ShowsTabSet(const std::wstring& tabSet) const { return inline_ && !closed_ && tabSet == kComposeTools; }

void Explorer::TabSetsChanged() {
    if (owner_ && owner_->Observer()) owner_->Observer()->TabSetsChanged(this);
}

IFACEMETHODIMP Explorer::GetWindow(HWND* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(Enter(L"GetWindow", L"call"));
    if (!hwnd_) return E_FAIL;
    *out = hwnd_;
    return S_OK;
}

ComPtr<MailItem> Explorer::Reply(MailItem* received) {
    if (closed_ || !received) return nullptr;
    ComPtr<Explorer> keep(this);
    if (inline_) SelectOther();
    if (closed_) return nullptr;
    auto reply = Make<MailItem>();
    reply->SetInline(true);
    inline_ = reply;
    // Undocumented which comes first, the Message tab or the event. The harsher reading: the tab
    // appears (and asks its callbacks) before InlineResponse is raised, so an add-in that does not
    // invalidate on InlineResponse shows what it knew before.
    TabSetsChanged();
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = static_cast<IDispatch*>(reply.Get());
    Raise(pvl::host::DIID_ExplorerEvents_10, id::ExplorerEvents_InlineResponse, &arg, 1);
    return inline_ == reply ? reply : nullptr;
}

HRESULT Explorer::RaiseInlineResponse(VARIANT* arg) {
    return Raise(pvl::host::DIID_ExplorerEvents_10, id::ExplorerEvents_InlineResponse, arg, arg ? 1 : 0);
}

ComPtr<MailItem> Explorer::CloseInline() {
    ComPtr<MailItem> reply = std::move(inline_);
    inline_.Reset();
    if (!reply) return reply;
    reply->SetInline(false);
    ComPtr<Explorer> keep(this);
    TabSetsChanged();
    // The type library gives InlineResponseClose no argument. The harsher reading: ActiveInlineResponse
    // already answers Nothing while it runs, so an add-in must remember the reply from InlineResponse.
    Raise(pvl::host::DIID_ExplorerEvents_10, id::ExplorerEvents_InlineResponseClose);
    return reply;
}

HRESULT Explorer::SendInline() {
    if (!inline_) return E_UNEXPECTED;
    ComPtr<Explorer> keep(this);
    ComPtr<MailItem> reply = inline_;
    // The mail's Send first; a handler that cancels it leaves the reply inline.
    RETURN_IF_FAILED(reply->Send());
    if (!reply->Sent()) return S_FALSE;
    // In the Outbox before the pane closes (the harsher reading): an attachment added during
    // InlineResponseClose would not go with the mail, and is refused.
    if (inline_ == reply) CloseInline();
    return S_OK;
}

HRESULT Explorer::DiscardInline() {
    if (!inline_) return E_UNEXPECTED;
    ComPtr<MailItem> reply = CloseInline();
    reply->Discard();
    return S_OK;
}

HRESULT Explorer::SelectOther() {
    if (!inline_) return E_UNEXPECTED;
    ComPtr<MailItem> reply = CloseInline();
    reply->KeepAsDraft();
    drafts_.push_back(reply);
    return S_OK;
}

ComPtr<Inspector> Explorer::PopOut() {
    if (!inline_) return nullptr;
    ComPtr<Explorer> keep(this);
    ComPtr<MailItem> reply = CloseInline();
    if (!inspectors_) return nullptr;
    return inspectors_->Open(static_cast<IDispatch*>(reply.Get()));
}

HRESULT Explorer::CloseWindow() {
    if (closed_) return S_OK;
    ComPtr<Explorer> keep(this);
    if (inline_) SelectOther();
    if (closed_) return S_OK;  // a handler closed it meanwhile
    closed_ = true;
    const HRESULT hr = Raise(pvl::host::DIID_ExplorerEvents_10, id::ExplorerEvents_Close);
    if (owner_) owner_->Remove(this);
    return hr == CONNECT_E_NOCONNECTION ? S_OK : hr;
}

void Explorer::Activate() {
    if (closed_ || !owner_) return;
    ComPtr<Explorer> keep(this);
    owner_->SetActive(this);
    Raise(pvl::host::DIID_ExplorerEvents_10, id::ExplorerEvents_Activate);
}

std::span<const DispMember> Explorer::Members() const {
    static const DispMember m[] = {{L"ActiveInlineResponse", id::Explorer_ActiveInlineResponse},
                                   {L"Class", id::Item_Class},
                                   {L"Close", id::Explorer_Close},
                                   {L"CommandBars", id::Explorer_CommandBars}};
    return m;
}

HRESULT Explorer::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::Explorer_ActiveInlineResponse:
            RETURN_IF_FAILED(EnterGet(L"ActiveInlineResponse"));
            // Nothing is a null VT_DISPATCH, as Outlook answers it.
            return ReturnObject(inline_ ? static_cast<IDispatch*>(inline_.Get()) : nullptr, result);
        case id::Item_Class:
            RETURN_IF_FAILED(EnterGet(L"Class"));
            return ReturnLong(pvl::host::olExplorer, result);
        case id::Explorer_CommandBars:
            RETURN_IF_FAILED(EnterGet(L"CommandBars"));
            return ReturnObject(&Bars(), result);
        case id::Explorer_Close:
            RETURN_IF_FAILED(EnterCall(L"Close", params));
            return CloseWindow();
    }
    return DISP_E_MEMBERNOTFOUND;
}

Explorers::Explorers(Inspectors* inspectors) : EventSource(L"Explorers"), inspectors_(inspectors) {
    AddEvents(pvl::host::DIID_ExplorersEvents);
}

Explorers::~Explorers() {
    for (auto& e : items_) e->Orphan();
}

const QITAB* Explorers::Interfaces() {
    static const QITAB table[] = {QITABENT(Explorers, IDispatch),
                                  QITABENTMULTI2(Explorers, pvl::host::IID_Explorers, IDispatch),
                                  QITABENT(Explorers, IConnectionPointContainer), {}};
    return table;
}

const wchar_t* Explorers::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_Explorers) ? L"_Explorers" : nullptr;
}

ComPtr<Explorer> Explorers::Open() {
    auto explorer = Make<Explorer>(this, inspectors_);
    items_.push_back(explorer);
    active_ = explorer.Get();
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = static_cast<IDispatch*>(explorer.Get());
    Raise(pvl::host::DIID_ExplorersEvents, id::ExplorersEvents_NewExplorer, &arg, 1);
    if (observer_ && !explorer->IsClosed()) observer_->WindowOpened(explorer.Get());
    return explorer;
}

HRESULT Explorers::RaiseNewExplorer(VARIANT* arg) {
    return Raise(pvl::host::DIID_ExplorersEvents, id::ExplorersEvents_NewExplorer, arg, arg ? 1 : 0);
}

void Explorers::Remove(Explorer* explorer) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->Get() == explorer) {
            if (observer_) observer_->WindowClosed(explorer);
            explorer->Orphan();
            items_.erase(it);
            // Another main window comes to the front, as in Outlook.
            if (active_ == explorer) active_ = items_.empty() ? nullptr : items_.back().Get();
            return;
        }
}

std::span<const DispMember> Explorers::Members() const {
    static const DispMember m[] = {{L"Count", id::Explorers_Count}, {L"Item", id::Explorers_Item}};
    return m;
}

HRESULT Explorers::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    if (dispid != id::Explorers_Count && dispid != id::Explorers_Item) return DISP_E_MEMBERNOTFOUND;
    return InvokeCountOrItem(dispid, id::Explorers_Count, items_, params, result);
}

// --- Application ---------------------------------------------------------------------------------------

Application::Application()
    : HostObject(L"Application"), inspectors_(Make<Inspectors>()), explorers_(Make<Explorers>(inspectors_.Get())),
      ribbon_(std::make_unique<Ribbon>(inspectors_.Get(), explorers_.Get())) {
    inspectors_->SetObserver(ribbon_.get());
    explorers_->SetObserver(ribbon_.get());
}

Application::~Application() {
    inspectors_->SetObserver(nullptr);
    explorers_->SetObserver(nullptr);
    explorers_->Orphan();
    ribbon_.reset();
}

const QITAB* Application::Interfaces() {
    static const QITAB table[] = {QITABENT(Application, IDispatch),
                                  QITABENTMULTI2(Application, pvl::host::IID_Application, IDispatch), {}};
    return table;
}

const wchar_t* Application::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_Application) ? L"_Application" : nullptr;
}

void Application::CloseAll() {
    auto open = inspectors_->All();
    for (auto& i : open) i->CloseWindow();
    auto main = explorers_->All();
    for (auto& e : main) e->CloseWindow();
}

std::span<const DispMember> Application::Members() const {
    static const DispMember m[] = {{L"ActiveExplorer", id::Application_ActiveExplorer},
                                   {L"Explorers", id::Application_Explorers},
                                   {L"Inspectors", id::Application_Inspectors}};
    return m;
}

HRESULT Application::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::Application_Inspectors:
            RETURN_IF_FAILED(EnterGet(L"Inspectors"));
            return ReturnObject(inspectors_.Get(), result);
        case id::Application_Explorers:
            RETURN_IF_FAILED(EnterGet(L"Explorers"));
            return ReturnObject(explorers_.Get(), result);
        case id::Application_ActiveExplorer:
            // Nothing (a null VT_DISPATCH) when no main window is open.
            RETURN_IF_FAILED(EnterCall(L"ActiveExplorer", params));
            return ReturnObject(explorers_->Active(), result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace simhost
