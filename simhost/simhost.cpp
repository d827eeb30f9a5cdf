#include "simhost.h"
#include "common/raii.h"
#include "common/result.h"
#include <olectl.h>
#include <shlwapi.h>
#include <cwchar>

namespace simhost {

namespace id = pvl::host::dispid;
using pvl::DispMember;

// --- Host ----------------------------------------------------------------------------------------

std::wstring Call::Text() const {
    std::wstring t = object + L"." + member + L" " + kind;
    if (!args.empty()) t += L" " + args;
    return t;
}

Host& Host::Get() {
    static Host host;
    return host;
}

void Host::Reset() {
    log_.clear();
    faults_.clear();
    numbers_.clear();
    hook_ = nullptr;
}

std::vector<std::wstring> Host::LogText() const {
    std::vector<std::wstring> out;
    for (const Call& c : log_) out.push_back(c.Text());
    return out;
}

std::vector<std::wstring> Host::LogMatching(const std::wstring& needle) const {
    std::vector<std::wstring> out;
    for (const Call& c : log_)
        if (c.Text().find(needle) != std::wstring::npos) out.push_back(c.Text());
    return out;
}

void Host::Fail(const std::wstring& operation, HRESULT hr, int times) { faults_[operation] = {hr, times}; }

HRESULT Host::Enter(const std::wstring& type, const std::wstring& object, const wchar_t* member, const wchar_t* kind,
                    const std::wstring& args) {
    log_.push_back({object, member, kind, args});
    HRESULT hr = S_OK;
    auto it = faults_.find(type + L"." + member);
    if (it != faults_.end() && it->second.remaining != 0) {
        if (it->second.remaining > 0) --it->second.remaining;
        hr = it->second.hr;
    }
    if (hook_) {
        auto hook = hook_;        // the hook may replace itself
        const Call call = log_.back();  // and log calls of its own
        hook(call);
    }
    return hr;
}

std::wstring Describe(const VARIANT& in) {
    const VARIANT* v = &in;
    if (v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
    wchar_t buf[64];
    switch (v->vt) {
        case VT_EMPTY: return L"Empty";
        case VT_NULL: return L"Null";
        case VT_BSTR: return L"\"" + std::wstring(v->bstrVal ? v->bstrVal : L"") + L"\"";
        case VT_BOOL: return v->boolVal ? L"True" : L"False";
        case VT_I2: swprintf(buf, 64, L"%d", v->iVal); return buf;
        case VT_I4: swprintf(buf, 64, L"%ld", v->lVal); return buf;
        case VT_INT: swprintf(buf, 64, L"%d", v->intVal); return buf;
        case VT_ERROR: return v->scode == DISP_E_PARAMNOTFOUND ? L"Missing" : L"Error";
        case VT_DISPATCH: {
            if (!v->pdispVal) return L"Nothing";
            ComPtr<IPicture> picture;
            if (SUCCEEDED(v->pdispVal->QueryInterface(IID_PPV_ARGS(&picture)))) return L"Picture";
            return L"Object";
        }
        default: swprintf(buf, 64, L"vt%u", v->vt); return buf;
    }
}

namespace {
std::wstring DescribeArgs(const DISPPARAMS* params) {
    std::wstring out;
    const UINT positional = params->cArgs - params->cNamedArgs;
    for (UINT i = 0; i < positional; ++i) {
        if (i) out += L", ";
        out += Describe(params->rgvarg[params->cArgs - 1 - i]);
    }
    return out;
}

using pvl::ReturnBool;
using pvl::ReturnLong;
using pvl::ReturnObject;
using pvl::ReturnString;

using pvl::GetPutBool;
using pvl::GetPutLong;
using pvl::GetPutString;

// Keeps a picture as received and reads its pixels back.
HRESULT PutPicture(DISPPARAMS* params, ReceivedPicture* out) {
    pvl::Variant v;
    RETURN_IF_FAILED(pvl::GetPutValue(params, VT_DISPATCH, v.put()));
    ReceivedPicture received;
    received.picture = v.ref().pdispVal;
    ComPtr<IPicture> picture;
    if (!received.picture || FAILED(received.picture.As(&picture))) return DISP_E_TYPEMISMATCH;
    SHORT type = 0;
    OLE_HANDLE handle = 0;
    RETURN_IF_FAILED(picture->get_Type(&type));
    if (type != PICTYPE_BITMAP) return DISP_E_TYPEMISMATCH;
    RETURN_IF_FAILED(picture->get_Handle(&handle));
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    BITMAP info{};
    if (!GetObjectW(bitmap, sizeof(info), &info)) return E_INVALIDARG;
    received.width = info.bmWidth;
    received.height = info.bmHeight;
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB};
    std::vector<DWORD> raw(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    HDC dc = GetDC(nullptr);
    const int lines = GetDIBits(dc, bitmap, 0, info.bmHeight, raw.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (lines != info.bmHeight) return E_FAIL;
    for (DWORD px : raw) received.pixels.push_back(RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF));
    *out = std::move(received);
    return S_OK;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}
}  // namespace

// --- Base classes ------------------------------------------------------------------------------------

HostObject::HostObject(const wchar_t* type) : type_(type) {
    name_ = type_ + L"#" + std::to_wstring(Host::Get().NextNumber(type_));
    Host::Get().ObjectCreated();
}

HostObject::~HostObject() { Host::Get().ObjectDestroyed(); }

HRESULT HostObject::Enter(const wchar_t* member, const wchar_t* kind, const std::wstring& args) {
    return Host::Get().Enter(type_, name_, member, kind, args);
}

HRESULT HostObject::EnterPut(const wchar_t* member, DISPPARAMS* params) {
    pvl::Variant v;
    const HRESULT read = pvl::GetPutValue(params, VT_VARIANT, v.put());
    return Enter(member, L"put", SUCCEEDED(read) ? Describe(v.ref()) : L"?");
}

HRESULT HostObject::EnterCall(const wchar_t* member, DISPPARAMS* params) {
    return Enter(member, L"call", DescribeArgs(params));
}

void EventSource::AddEvents(const IID& events) {
    AddConnectionPoint(events, [](int delta) { Host::Get().SinksChanged(delta); });
}

// --- Items -------------------------------------------------------------------------------------------

Item::Item(const wchar_t* type, long itemClass) : HostObject(type), class_(itemClass) {}

MailItem::MailItem() : Item(L"MailItem", pvl::host::olMail), attachments_(Make<Attachments>()) {}
MailItem::~MailItem() = default;

const QITAB* MailItem::Interfaces() {
    static const QITAB table[] = {QITABENT(MailItem, IDispatch),
                                  QITABENTMULTI2(MailItem, pvl::host::IID_MailItem, IDispatch), {}};
    return table;
}

const wchar_t* MailItem::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_MailItem) ? L"_MailItem" : nullptr;
}

std::span<const DispMember> MailItem::Members() const {
    static const DispMember m[] = {{L"Attachments", id::MailItem_Attachments}, {L"Class", id::Item_Class}};
    return m;
}

HRESULT MailItem::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS*, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
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
                                  QITABENTMULTI2(ContactItem, IID_ContactItem, IDispatch), {}};
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
            if (index->vt == VT_BSTR) {
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
            pvl::Variant source;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_BSTR, source.put()));
            RETURN_IF_FAILED(AddFile(source.ref().bstrVal ? source.ref().bstrVal : L""));
            return ReturnObject(items_.back().Get(), result);
        }
        case id::Attachments_Remove: {
            RETURN_IF_FAILED(EnterCall(L"Remove", params));
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
                                  QITABENT(Inspector, IConnectionPointContainer), {}};
    return table;
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

ComPtr<Inspector> Inspectors::Open(IDispatch* item) {
    auto inspector = Make<Inspector>(this, item);
    items_.push_back(inspector);
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = static_cast<IDispatch*>(inspector.Get());
    Raise(pvl::host::DIID_InspectorsEvents, id::InspectorsEvents_NewInspector, &arg, 1);
    return inspector;
}

HRESULT Inspectors::RaiseNewInspector(VARIANT* arg) {
    return Raise(pvl::host::DIID_InspectorsEvents, id::InspectorsEvents_NewInspector, arg, arg ? 1 : 0);
}

void Inspectors::Remove(Inspector* inspector) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->Get() == inspector) {
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

Application::Application() : HostObject(L"Application"), inspectors_(Make<Inspectors>()) {}

Application::~Application() = default;

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

// --- Office ------------------------------------------------------------------------------------------

COMAddIn::COMAddIn(std::wstring progId) : HostObject(L"COMAddIn"), progId_(std::move(progId)) {}

const QITAB* COMAddIn::Interfaces() {
    static const QITAB table[] = {QITABENT(COMAddIn, IDispatch),
                                  QITABENTMULTI2(COMAddIn, pvl::host::IID_COMAddIn, IDispatch), {}};
    return table;
}

const wchar_t* COMAddIn::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_COMAddIn) ? L"COMAddIn" : nullptr;
}

std::span<const DispMember> COMAddIn::Members() const {
    static const DispMember m[] = {{L"Description", id::COMAddIn_Description},
                                   {L"ProgId", id::COMAddIn_ProgId},
                                   {L"Connect", id::COMAddIn_Connect},
                                   {L"Object", id::COMAddIn_Object}};
    return m;
}

HRESULT COMAddIn::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    switch (dispid) {
        case id::COMAddIn_ProgId:
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            RETURN_IF_FAILED(EnterGet(L"ProgId"));
            if (progIdOverridden_)
                return result ? VariantCopy(result, const_cast<VARIANT*>(&progIdOverride_.ref())) : S_OK;
            return ReturnString(progId_, result);
        case id::COMAddIn_Description:
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            RETURN_IF_FAILED(EnterGet(L"Description"));
            return ReturnString(progId_, result);
        case id::COMAddIn_Connect:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Connect", params));
                return GetPutBool(params, &connected_);
            }
            RETURN_IF_FAILED(EnterGet(L"Connect"));
            return ReturnBool(connected_, result);
        case id::COMAddIn_Object:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Object", params));
                pvl::Variant v;
                RETURN_IF_FAILED(pvl::GetPutValue(params, VT_DISPATCH, v.put()));
                object_ = v.ref().pdispVal;
                return S_OK;
            }
            RETURN_IF_FAILED(EnterGet(L"Object"));
            return ReturnObject(object_.Get(), result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBarButton::CommandBarButton(CommandBarControls* owner) : EventSource(L"CommandBarButton"), owner_(owner) {
    AddEvents(pvl::host::DIID_CommandBarButtonEvents);
}

const QITAB* CommandBarButton::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBarButton, IDispatch),
                                  QITABENTMULTI2(CommandBarButton, pvl::host::IID_CommandBarButton, IDispatch),
                                  QITABENTMULTI2(CommandBarButton, pvl::host::IID_CommandBarControl, IDispatch),
                                  QITABENT(CommandBarButton, IConnectionPointContainer), {}};
    return table;
}

const wchar_t* CommandBarButton::HostInterfaceName(REFIID riid) const {
    if (IsEqualIID(riid, pvl::host::IID_CommandBarButton)) return L"_CommandBarButton";
    if (IsEqualIID(riid, pvl::host::IID_CommandBarControl)) return L"CommandBarControl";
    return nullptr;
}

HRESULT CommandBarButton::Click(VARIANT_BOOL* cancel) {
    VARIANT_BOOL cancelDefault = VARIANT_FALSE;
    VARIANT args[2];  // reversed: CancelDefault, then Ctrl
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancelDefault;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = static_cast<IDispatch*>(this);
    ComPtr<CommandBarButton> keep(this);
    const HRESULT hr = Raise(pvl::host::DIID_CommandBarButtonEvents, id::CommandBarButtonEvents_Click, args, 2);
    if (cancel) *cancel = cancelDefault;
    return hr;
}

HRESULT CommandBarButton::RaiseClick(VARIANT* argsReversed, UINT count) {
    ComPtr<CommandBarButton> keep(this);
    return Raise(pvl::host::DIID_CommandBarButtonEvents, id::CommandBarButtonEvents_Click, argsReversed, count);
}

std::span<const DispMember> CommandBarButton::Members() const {
    static const DispMember m[] = {
        {L"BeginGroup", id::Control_BeginGroup}, {L"Caption", id::Control_Caption},
        {L"Delete", id::Control_Delete},         {L"Enabled", id::Control_Enabled},
        {L"OnAction", id::Control_OnAction},     {L"Parameter", id::Control_Parameter},
        {L"Tag", id::Control_Tag},               {L"TooltipText", id::Control_TooltipText},
        {L"Visible", id::Control_Visible},       {L"FaceId", id::Button_FaceId},
        {L"State", id::Button_State},            {L"Style", id::Button_Style},
        {L"Picture", id::Button_Picture},        {L"Mask", id::Button_Mask},
    };
    return m;
}

HRESULT CommandBarButton::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    auto stringProperty = [&](const wchar_t* name, std::wstring& field) -> HRESULT {
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return GetPutString(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnString(field, result);
    };
    auto boolProperty = [&](const wchar_t* name, bool& field) -> HRESULT {
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return GetPutBool(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnBool(field, result);
    };
    auto longProperty = [&](const wchar_t* name, long& field) -> HRESULT {
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return GetPutLong(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnLong(field, result);
    };
    auto pictureProperty = [&](const wchar_t* name, ReceivedPicture& field) -> HRESULT {
        // A put, never a put-by-reference, as the host declares it.
        if (flags & DISPATCH_PROPERTYPUTREF) return DISP_E_MEMBERNOTFOUND;
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return PutPicture(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnObject(field.picture.Get(), result);
    };
    switch (dispid) {
        case id::Control_Caption: return stringProperty(L"Caption", caption_);
        case id::Control_Tag: return stringProperty(L"Tag", tag_);
        case id::Control_OnAction: return stringProperty(L"OnAction", onAction_);
        case id::Control_TooltipText: return stringProperty(L"TooltipText", tooltip_);
        case id::Control_Parameter: return stringProperty(L"Parameter", parameter_);
        case id::Control_Enabled: return boolProperty(L"Enabled", enabled_);
        case id::Control_Visible: return boolProperty(L"Visible", visible_);
        case id::Control_BeginGroup: return boolProperty(L"BeginGroup", beginGroup_);
        case id::Button_Style: return longProperty(L"Style", style_);
        case id::Button_FaceId: return longProperty(L"FaceId", faceId_);
        case id::Button_State: return longProperty(L"State", state_);
        case id::Button_Picture: return pictureProperty(L"Picture", picture_);
        case id::Button_Mask: return pictureProperty(L"Mask", mask_);
        case id::Control_Delete: {
            RETURN_IF_FAILED(EnterCall(L"Delete", params));
            if (!owner_) return E_FAIL;
            ComPtr<CommandBarButton> keep(this);
            owner_->Remove(this);
            return S_OK;
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBarControls::CommandBarControls() : HostObject(L"CommandBarControls") {}

CommandBarControls::~CommandBarControls() {
    for (auto& b : buttons_) b->Orphan();
}

const QITAB* CommandBarControls::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBarControls, IDispatch),
                                  QITABENTMULTI2(CommandBarControls, pvl::host::IID_CommandBarControls, IDispatch),
                                  {}};
    return table;
}

const wchar_t* CommandBarControls::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_CommandBarControls) ? L"CommandBarControls" : nullptr;
}

void CommandBarControls::Remove(CommandBarButton* b) {
    for (auto it = buttons_.begin(); it != buttons_.end(); ++it)
        if (it->Get() == b) {
            b->Orphan();
            buttons_.erase(it);
            return;
        }
}

std::span<const DispMember> CommandBarControls::Members() const {
    static const DispMember m[] = {{L"Add", id::CommandBarControls_Add},
                                   {L"Count", id::CommandBarControls_Count},
                                   {L"Item", id::CommandBarControls_Item}};
    return m;
}

HRESULT CommandBarControls::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::CommandBarControls_Add: {
            RETURN_IF_FAILED(EnterCall(L"Add", params));
            pvl::Variant type;
            if (pvl::RawArg(params, 0)) {
                RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, type.put()));
                if (type.ref().lVal != pvl::host::msoControlButton) return E_INVALIDARG;  // only buttons are modelled
            }
            auto button = Make<CommandBarButton>(this);
            buttons_.push_back(button);
            return ReturnObject(button.Get(), result);
        }
        case id::CommandBarControls_Count:
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return ReturnLong(static_cast<long>(buttons_.size()), result);
        case id::CommandBarControls_Item: {
            RETURN_IF_FAILED(EnterGet(L"Item"));
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(buttons_.size())) return E_INVALIDARG;
            return ReturnObject(buttons_[n.ref().lVal - 1].Get(), result);
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBar::CommandBar(CommandBars* owner, std::wstring name, long position)
    : HostObject(L"CommandBar"), owner_(owner), name_(std::move(name)), position_(position),
      controls_(Make<CommandBarControls>()) {}

const QITAB* CommandBar::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBar, IDispatch),
                                  QITABENTMULTI2(CommandBar, pvl::host::IID_CommandBar, IDispatch), {}};
    return table;
}

const wchar_t* CommandBar::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_CommandBar) ? L"CommandBar" : nullptr;
}

std::span<const DispMember> CommandBar::Members() const {
    static const DispMember m[] = {{L"Controls", id::CommandBar_Controls}, {L"Delete", id::CommandBar_Delete},
                                   {L"Enabled", id::CommandBar_Enabled},   {L"Name", id::CommandBar_Name},
                                   {L"Position", id::CommandBar_Position}, {L"Visible", id::CommandBar_Visible}};
    return m;
}

HRESULT CommandBar::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    switch (dispid) {
        case id::CommandBar_Controls:
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            RETURN_IF_FAILED(EnterGet(L"Controls"));
            return ReturnObject(controls_.Get(), result);
        case id::CommandBar_Delete: {
            RETURN_IF_FAILED(EnterCall(L"Delete", params));
            if (!owner_) return E_FAIL;  // already deleted
            ComPtr<CommandBar> keep(this);
            owner_->Remove(this);
            return S_OK;
        }
        case id::CommandBar_Visible:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Visible", params));
                return GetPutBool(params, &visible_);
            }
            RETURN_IF_FAILED(EnterGet(L"Visible"));
            return ReturnBool(visible_, result);
        case id::CommandBar_Enabled:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Enabled", params));
                return GetPutBool(params, &enabled_);
            }
            RETURN_IF_FAILED(EnterGet(L"Enabled"));
            return ReturnBool(enabled_, result);
        case id::CommandBar_Name:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Name", params));
                return GetPutString(params, &name_);
            }
            RETURN_IF_FAILED(EnterGet(L"Name"));
            return ReturnString(name_, result);
        case id::CommandBar_Position:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Position", params));
                return GetPutLong(params, &position_);
            }
            RETURN_IF_FAILED(EnterGet(L"Position"));
            return ReturnLong(position_, result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBars::CommandBars() : HostObject(L"CommandBars") {}

CommandBars::~CommandBars() {
    for (auto& b : bars_) b->Orphan();
}

const QITAB* CommandBars::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBars, IDispatch),
                                  QITABENTMULTI2(CommandBars, pvl::host::IID_CommandBars, IDispatch), {}};
    return table;
}

const wchar_t* CommandBars::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_CommandBars) ? L"_CommandBars" : nullptr;
}

std::vector<CommandBar*> CommandBars::Named(const std::wstring& name) const {
    std::vector<CommandBar*> out;
    for (auto& b : bars_)
        if (SameText(b->BarName(), name)) out.push_back(b.Get());
    return out;
}

ComPtr<CommandBar> CommandBars::AddBar(const std::wstring& name, long position) {
    auto bar = Make<CommandBar>(this, name, position);
    bars_.push_back(bar);
    return bar;
}

void CommandBars::Remove(CommandBar* bar) {
    for (auto it = bars_.begin(); it != bars_.end(); ++it)
        if (it->Get() == bar) {
            bar->Orphan();
            bars_.erase(it);
            return;
        }
}

std::span<const DispMember> CommandBars::Members() const {
    static const DispMember m[] = {{L"Item", id::CommandBars_Item},
                                   {L"Add", id::CommandBars_Add},
                                   {L"Count", id::CommandBars_Count}};
    return m;
}

HRESULT CommandBars::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::CommandBars_Item: {
            RETURN_IF_FAILED(Enter(L"Item", L"get", DescribeArgs(params)));
            const VARIANT* index = pvl::RawArg(params, 0);
            if (!index) return DISP_E_PARAMNOTFOUND;
            if (index->vt == VT_BSTR) {
                auto named = Named(index->bstrVal ? index->bstrVal : L"");
                if (named.empty()) return E_INVALIDARG;  // no bar of that name
                return ReturnObject(named.front(), result);
            }
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(bars_.size())) return E_INVALIDARG;
            return ReturnObject(bars_[n.ref().lVal - 1].Get(), result);
        }
        case id::CommandBars_Add: {
            RETURN_IF_FAILED(EnterCall(L"Add", params));
            pvl::Variant name, position;
            std::wstring barName = L"Custom " + std::to_wstring(bars_.size() + 1);
            if (pvl::RawArg(params, 0)) {
                RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_BSTR, name.put()));
                barName = name.ref().bstrVal ? name.ref().bstrVal : L"";
            }
            long pos = 4;  // msoBarFloating, the host's default
            if (pvl::RawArg(params, 1)) {
                RETURN_IF_FAILED(pvl::GetArg(params, 1, VT_I4, position.put()));
                pos = position.ref().lVal;
            }
            if (!Named(barName).empty()) return E_INVALIDARG;  // the host refuses a second bar of one name
            return ReturnObject(AddBar(barName, pos).Get(), result);
        }
        case id::CommandBars_Count:
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return ReturnLong(static_cast<long>(bars_.size()), result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

// --- Client ------------------------------------------------------------------------------------------

Client Client::Create(const wchar_t* progId) { return {Make<Application>(), Make<COMAddIn>(progId)}; }

ComPtr<MailItem> Client::NewMail() { return Make<MailItem>(); }

ComPtr<ContactItem> Client::NewContact() { return Make<ContactItem>(); }

}  // namespace simhost
