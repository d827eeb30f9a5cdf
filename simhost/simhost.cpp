#include "simhost/simhost.h"
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
    attachmentItemByNumberOnly_ = false;
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

HRESULT Host::Injected(const std::wstring& type, const wchar_t* member) {
    auto it = faults_.find(type + L"." + member);
    if (it == faults_.end() || it->second.remaining == 0) return S_OK;
    if (it->second.remaining > 0) --it->second.remaining;
    return it->second.hr;
}

HRESULT Host::Enter(const std::wstring& type, const std::wstring& object, const wchar_t* member, const wchar_t* kind,
                    const std::wstring& args) {
    log_.push_back({object, member, kind, args});
    const HRESULT hr = Injected(type, member);
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

std::wstring DescribeArgs(const DISPPARAMS* params) {
    std::wstring out;
    const UINT positional = params->cArgs - params->cNamedArgs;
    for (UINT i = 0; i < positional; ++i) {
        if (i) out += L", ";
        out += Describe(params->rgvarg[params->cArgs - 1 - i]);
    }
    return out;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

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

IFACEMETHODIMP EventSource::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (point) *point = nullptr;
    if (FAILED(Host::Get().Injected(Type(), L"FindConnectionPoint"))) return CONNECT_E_NOCONNECTION;
    return ConnectionPoints::FindConnectionPoint(iid, point);
}

void EventSource::AddEvents(const IID& events) {
    AddConnectionPoint(events, [](int delta) { Host::Get().SinksChanged(delta); });
}

// --- Client ------------------------------------------------------------------------------------------

Client Client::Create(const wchar_t* progId) {
    Client client{Make<Application>(), Make<COMAddIn>(progId)};
    // Raises NewExplorer before any add-in listens, as at Outlook's start.
    client.app->GetExplorers().Open();
    return client;
}

ComPtr<MailItem> Client::NewMail() { return Make<MailItem>(); }

ComPtr<MailItem> Client::NewReceivedMail() { return Make<MailItem>(true); }

ComPtr<ContactItem> Client::NewContact() { return Make<ContactItem>(); }

}  // namespace simhost
