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
    : EventSource(L"Inspector"), owner_(owner), item_(item), bars_(Make<CommandBars>()) {
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
    closed_ = true;
    ComPtr<Inspector> keep(this);
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
    if (observer_ && !inspector->IsClosed()) observer_->InspectorOpened(inspector.Get());
    return inspector;
}

HRESULT Inspectors::RaiseNewInspector(VARIANT* arg) {
    return Raise(pvl::host::DIID_InspectorsEvents, id::InspectorsEvents_NewInspector, arg, arg ? 1 : 0);
}

void Inspectors::Remove(Inspector* inspector) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->Get() == inspector) {
            if (observer_) observer_->InspectorClosed(inspector);
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
    switch (dispid) {
        case id::Inspectors_Count:
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return ReturnLong(static_cast<long>(items_.size()), result);
        case id::Inspectors_Item: {
            RETURN_IF_FAILED(EnterCall(L"Item", params));
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(items_.size())) return DISP_E_BADINDEX;
            return ReturnObject(items_[n.ref().lVal - 1].Get(), result);
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

Application::Application()
    : HostObject(L"Application"), inspectors_(Make<Inspectors>()), ribbon_(std::make_unique<Ribbon>(inspectors_.Get())) {
    inspectors_->SetObserver(ribbon_.get());
}

Application::~Application() {
    inspectors_->SetObserver(nullptr);
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
}

std::span<const DispMember> Application::Members() const {
    static const DispMember m[] = {{L"Inspectors", id::Application_Inspectors}};
    return m;
}

HRESULT Application::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS*, VARIANT* result) {
    if (dispid != id::Application_Inspectors || IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    RETURN_IF_FAILED(EnterGet(L"Inspectors"));
    return ReturnObject(inspectors_.Get(), result);
}

}  // namespace simhost
