// The ribbon group "Voice message": on the Message tab of a mail being written, and in the main
// window on the Message tab Outlook shows while a reply is written in the reading pane. The XML
// Office asks for, and the callbacks it names. Every window has its own group, and each group shows
// and acts on its own window's mail, found through the control's Context: a mail window's Inspector,
// or the main window's Explorer, whose mail is the reply written inline there.
//
// In each window: while the recorder records or plays for this window's mail, Record and Play are
// off and Stop is on; while it is busy for another mail, all three are off; when it is idle, Record
// is on, Stop off, and Play on only if the last recording is this mail's. A main window without an
// inline reply has no mail: all three are off. The product button is always on. A press does only
// what its window shows as enabled, so no window ever acts on another window's mail.
//
// Office drops the whole group when a callback fails, so the callbacks answer a safe value rather
// than fail wherever they can; only arguments that no ribbon would pass are refused.
#include "addin/connect.h"
#include "common/host_model.h"
#include "addin/ribbon_callbacks.h"
#include "addin/ribbon_pictures.h"
#include "common/dispatch_call.h"
#include "common/module.h"
#include "common/result.h"
#include "resources/ribbon_resource.h"

namespace pvl {

namespace {

enum class RibbonButton { Record, Play, Stop, Product };

struct RibbonButtonRow {
    const wchar_t* id;
    RibbonButton button;
    RibbonPicture picture;
    const wchar_t* label;
};
constexpr RibbonButtonRow kRibbonButtons[] = {
    {L"pvlRecord", RibbonButton::Record, RibbonPicture::Record, L"Record"},
    {L"pvlPlay", RibbonButton::Play, RibbonPicture::Play, L"Play"},
    {L"pvlStop", RibbonButton::Stop, RibbonPicture::Stop, L"Stop"},
    {L"pvlAbout", RibbonButton::Product, RibbonPicture::Product, L"Parvaline"},
};

// A length as the clock shows it: minutes and seconds, m:ss.
std::wstring ClockText(ULONGLONG ms) {
    const ULONGLONG seconds = ms / 1000;
    wchar_t text[32];
    swprintf(text, 32, L"%llu:%02llu", seconds / 60, seconds % 60);
    return text;
}

// The control a callback is about, or null when the argument is not a control of ours.
const RibbonButtonRow* RowOf(IDispatch* control) {
    Variant id;
    if (!control || FAILED(GetProperty(control, host::dispid::RibbonControl_Id, id.put())) || id.vt() != VT_BSTR)
        return nullptr;
    for (const RibbonButtonRow& row : kRibbonButtons)
        if (CompareStringOrdinal(row.id, -1, id.ref().bstrVal ? id.ref().bstrVal : L"", -1, FALSE) == CSTR_EQUAL)
            return &row;
    return nullptr;
}

// A callback argument as an object: by value or by reference, IDispatch or IUnknown.
IDispatch* ObjectArg(const VARIANT* v) {
    if (v && v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
    if (!v) return nullptr;
    if (v->vt == VT_DISPATCH) return v->pdispVal;
    if (v->vt == (VT_DISPATCH | VT_BYREF) && v->ppdispVal) return *v->ppdispVal;
    if (v->vt == VT_UNKNOWN || v->vt == (VT_UNKNOWN | VT_BYREF)) {
        IUnknown* u = v->vt == VT_UNKNOWN ? v->punkVal : (v->ppunkVal ? *v->ppunkVal : nullptr);
        ComPtr<IDispatch> d;
        if (u && SUCCEEDED(u->QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(d.GetAddressOf())))) return d.Get();
    }
    return nullptr;
}

// Office calls a get-callback of a COM add-in with the control alone and reads Invoke's result;
// the form with a second, by-reference argument for the value is filled too.
HRESULT Answer(const DISPPARAMS* params, Variant value, VARIANT* result) {
    if (const VARIANT* out = RawArg(params, 1)) {
        if (out->vt == (VT_VARIANT | VT_BYREF) && out->pvarVal) {
            RETURN_IF_FAILED(VariantCopy(out->pvarVal, value.get()));
        } else if (out->vt == (VT_BOOL | VT_BYREF) && out->pboolVal && value.vt() == VT_BOOL) {
            *out->pboolVal = value.ref().boolVal;
        } else if (out->vt == (VT_DISPATCH | VT_BYREF) && out->ppdispVal && value.vt() == VT_DISPATCH) {
            if (*out->ppdispVal) (*out->ppdispVal)->Release();
            *out->ppdispVal = value.ref().pdispVal;
            if (*out->ppdispVal) (*out->ppdispVal)->AddRef();
        }
    }
    if (result) {
        *result = *value.get();  // handed over whole: the caller clears it
        VariantInit(value.get());
    }
    return S_OK;
}

// The customUI document for each ribbon Outlook asks for; every other ribbon is left as it is
// ("Microsoft.Outlook.Mail.Read" among them: a mail that is read has nothing to record).
struct CustomUIRow {
    const wchar_t* ribbonId;
    int resource;
};
constexpr CustomUIRow kCustomUIs[] = {
    {host::kRibbonMailCompose, IDR_RIBBON_COMPOSE},
    {host::kRibbonExplorer, IDR_RIBBON_EXPLORER},
};

HRESULT LoadRibbonXml(int resource, std::wstring* xml) {
    HRSRC found = FindResourceW(ModuleInstance(), MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!found) return LastErrorResult();
    HGLOBAL loaded = LoadResource(ModuleInstance(), found);
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    int size = static_cast<int>(SizeofResource(ModuleInstance(), found));
    if (!text || size <= 0) return LastErrorResult();
    if (size >= 3 && std::string_view(text, 3) == "\xEF\xBB\xBF") text += 3, size -= 3;  // a byte-order mark
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, size, nullptr, 0);
    if (n <= 0) return LastErrorResult();
    xml->assign(n, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, size, xml->data(), n);
    return S_OK;
}

}  // namespace

// --- IRibbonExtensibility ------------------------------------------------------------------------------

IFACEMETHODIMP Connect::GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) {
    if (!RibbonXml) return E_POINTER;
    *RibbonXml = nullptr;
    PVL_COM_TRY
    std::wstring xml;
    for (const CustomUIRow& row : kCustomUIs)
        if (RibbonID && CompareStringOrdinal(RibbonID, -1, row.ribbonId, -1, FALSE) == CSTR_EQUAL)
            RETURN_IF_FAILED(LoadRibbonXml(row.resource, &xml));
    *RibbonXml = SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size()));
    return *RibbonXml ? S_OK : E_OUTOFMEMORY;
    PVL_COM_CATCH
}

// --- The callbacks -------------------------------------------------------------------------------------

HRESULT Connect::InvokeRibbonCallback(DISPID id, DISPPARAMS* params, VARIANT* result) {
    if (result) VariantInit(result);
    IDispatch* control = ObjectArg(RawArg(params, 0));
    switch (id) {
        case ribbon_dispid::onLoad:
            return Ribbon_onLoad(control);
        case ribbon_dispid::onAction:
            return Ribbon_onAction(control);
        case ribbon_dispid::getEnabled:
            return Answer(params, Variant(Ribbon_getEnabled(control)), result);
        case ribbon_dispid::getImage: {
            Variant picture;
            RETURN_IF_FAILED(Ribbon_getImage(control, picture.put()));
            return Answer(params, std::move(picture), result);
        }
        case ribbon_dispid::getPressed:
            return Answer(params, Variant(Ribbon_getPressed(control)), result);
        case ribbon_dispid::getLabel:
            return Answer(params, Variant(Ribbon_getLabel(control).c_str()), result);
        case ribbon_dispid::getSupertip:
            return Answer(params, Variant(Ribbon_getSupertip(control).c_str()), result);
        case ribbon_dispid::onToggle: {
            // onAction of a toggle button: the control, then its new state.
            Variant pressed;
            const VARIANT* arg = RawArg(params, 1);
            if (arg && arg->vt == (VT_VARIANT | VT_BYREF)) arg = arg->pvarVal;
            const bool on = arg && SUCCEEDED(VariantChangeType(pressed.get(), const_cast<VARIANT*>(arg), 0, VT_BOOL)) &&
                            pressed.ref().boolVal != VARIANT_FALSE;
            return Ribbon_onToggle(control, on);
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT Connect::Ribbon_onLoad(IDispatch* ribbon) {
    // Once per customUI document: each has its own IRibbonUI, and invalidating one does not refresh
    // the others.
    if (!ribbon) return E_INVALIDARG;
    ComPtr<IDispatch> ui;
    RETURN_IF_FAILED(ribbon->QueryInterface(host::IID_IRibbonUI, reinterpret_cast<void**>(ui.GetAddressOf())));
    for (auto& known : ribbonUIs_)
        if (SameObject(known.Get(), ui.Get())) return S_OK;
    ribbonUIs_.push_back(ui);
    return S_OK;
}

ComPtr<IDispatch> Connect::ContextMail(IDispatch* control) {
    ComPtr<IDispatch> context, window, mail;
    if (FAILED(GetObjectProperty(control, host::dispid::RibbonControl_Context, &context))) return nullptr;
    // A mail window: its mail.
    if (SUCCEEDED(context->QueryInterface(host::IID_Inspector, reinterpret_cast<void**>(window.GetAddressOf()))) &&
        window) {
        if (MailWindow* known = WindowOf(window.Get())) return known->Mail();
        return SUCCEEDED(InspectorMailItem(window.Get(), &mail)) ? mail : nullptr;
    }
    // The main window: the reply written inline there now, if any.
    if (SUCCEEDED(context->QueryInterface(host::IID_Explorer, reinterpret_cast<void**>(window.GetAddressOf()))) &&
        window) {
        if (ReadingPane* pane = PaneOf(window.Get())) return SUCCEEDED(pane->ActiveReply(&mail)) ? mail : nullptr;
        return SUCCEEDED(InlineReplyOf(window.Get(), &mail)) ? mail : nullptr;
    }
    return nullptr;
}

bool Connect::RibbonButtonEnabled(int button, IDispatch* mailItem) const {
    const bool busy = recorder_.IsBusy();
    switch (static_cast<RibbonButton>(button)) {
        case RibbonButton::Product:
            return true;
        case RibbonButton::Record:
            // A toggle: pressed while this mail records, when releasing it ends the recording.
            return mailItem && (!busy || recorder_.RecordsFor(mailItem));
        case RibbonButton::Play:
            return mailItem && !busy && SameObject(recorder_.RecordingMail(), mailItem);
        case RibbonButton::Stop:
            return mailItem && busy && SameObject(recorder_.BusyFor(), mailItem);
    }
    return false;
}

bool Connect::Ribbon_getEnabled(IDispatch* control) {
    const RibbonButtonRow* row = RowOf(control);
    if (!row) return false;
    if (row->button == RibbonButton::Product) return true;  // the About window needs no mail
    const ComPtr<IDispatch> mailItem = ContextMail(control);
    return RibbonButtonEnabled(static_cast<int>(row->button), mailItem.Get());
}

HRESULT Connect::Ribbon_getImage(IDispatch* control, VARIANT* picture) {
    const RibbonButtonRow* row = RowOf(control);
    if (!row) return E_INVALIDARG;
    return RibbonImage(control, row->picture, picture);  // drawn for the DPI of the control's window
}

bool Connect::Ribbon_getPressed(IDispatch* control) {
    const RibbonButtonRow* row = RowOf(control);
    if (!row || row->button != RibbonButton::Record) return false;
    const ComPtr<IDispatch> mailItem = ContextMail(control);
    return mailItem && recorder_.RecordsFor(mailItem.Get());
}

std::wstring Connect::Ribbon_getLabel(IDispatch* control) {
    // Stop counts this mail's running recording; Play shows how long its last one is. Another
    // mail's recording shows no clock here.
    const RibbonButtonRow* row = RowOf(control);
    if (!row) return L"";
    const ComPtr<IDispatch> mailItem = ContextMail(control);
    ULONGLONG ms = 0;
    if (row->button == RibbonButton::Stop && mailItem && recorder_.RecordsFor(mailItem.Get())) ms = recorder_.ElapsedMs();
    if (row->button == RibbonButton::Play && mailItem && !recorder_.IsRecording() &&
        SameObject(recorder_.RecordingMail(), mailItem.Get()))
        ms = recorder_.LastLengthMs();
    std::wstring label = row->label;
    if (ms || (row->button == RibbonButton::Stop && mailItem && recorder_.RecordsFor(mailItem.Get())))
        label += L" " + ClockText(ms);
    return label;
}

std::wstring Connect::Ribbon_getSupertip(IDispatch* control) {
    const RibbonButtonRow* row = RowOf(control);
    if (!row || row->button != RibbonButton::Record) return L"";
    const ComPtr<IDispatch> mailItem = ContextMail(control);
    if (mailItem && recorder_.RecordsFor(mailItem.Get()))
        return L"Recording a spoken message for this mail. Release Record, or press Stop, to attach it as an MP3.";
    if (recorder_.IsBusy() && !(mailItem && SameObject(recorder_.BusyFor(), mailItem.Get())))
        return L"Another mail's voice message is being recorded or played: Record is free again once it ends.";
    return L"Record a spoken message for this mail. Press Record again, or Stop, to attach it as an MP3.";
}

HRESULT Connect::Ribbon_onToggle(IDispatch* control, bool pressed) {
    // Pressing the toggle records; releasing it ends this mail's recording, as Stop does. Whatever
    // happens, the group stays.
    const RibbonButtonRow* row = RowOf(control);
    if (!row || row->button != RibbonButton::Record) return Ribbon_onAction(control);
    const ComPtr<IDispatch> mailItem = ContextMail(control);
    if (!RibbonButtonEnabled(static_cast<int>(RibbonButton::Record), mailItem.Get())) return S_OK;
    if (pressed && !recorder_.IsBusy()) Guarded(recorder_.Record(mailItem.Get()));
    if (!pressed && recorder_.RecordsFor(mailItem.Get())) Guarded(recorder_.Stop());
    // Office shows the state the user pressed; it is asked again, so that it shows what happened.
    InvalidateRibbon();
    return S_OK;
}

void Connect::InvalidateClock() {
    const auto uis = ribbonUIs_;
    for (auto& ui : uis) {
        Variant ignored;
        Guarded(CallMethod(ui.Get(), host::dispid::RibbonUI_InvalidateControl, ignored.put(), Variant(L"pvlStop")));
    }
}

HRESULT Connect::Ribbon_onAction(IDispatch* control) {
    // Whatever happens below, the group stays: every step is guarded and the result is success.
    const RibbonButtonRow* row = RowOf(control);
    if (!row) return S_OK;
    VARIANT_BOOL cancelDefault = VARIANT_FALSE;
    if (row->button == RibbonButton::Product) {
        Guarded(ButtonPVL_Click(control, &cancelDefault));
        return S_OK;
    }
    const ComPtr<IDispatch> mailItem = ContextMail(control);
    if (!RibbonButtonEnabled(static_cast<int>(row->button), mailItem.Get())) return S_OK;
    switch (row->button) {
        case RibbonButton::Record: Guarded(recorder_.Record(mailItem.Get())); break;
        case RibbonButton::Play: Guarded(recorder_.Play(mailItem.Get())); break;
        case RibbonButton::Stop: Guarded(ButtonStop_Click(control, &cancelDefault)); break;
        case RibbonButton::Product: break;
    }
    return S_OK;
}

void Connect::InvalidateRibbon() {
    const auto uis = ribbonUIs_;
    for (auto& ui : uis) {
        Variant ignored;
        Guarded(CallMethod(ui.Get(), host::dispid::RibbonUI_Invalidate, ignored.put()));
    }
}

}  // namespace pvl
