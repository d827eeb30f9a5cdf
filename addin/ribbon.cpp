// The ribbon group "Voice message" on the Message tab of a mail being written: the XML Office asks
// for, and the callbacks it names. Every window has its own group, and each group shows and acts on
// its own window's mail, which Office passes as the control's Context (the window's Inspector).
//
// In each window: while the recorder records or plays for this window's mail, Record and Play are
// off and Stop is on; while it is busy for another mail, all three are off; when it is idle, Record
// is on, Stop off, and Play on only if the last recording is this mail's. The product button is
// always on. A press does only what its window shows as enabled, so no window ever acts on another
// window's mail.
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
};
constexpr RibbonButtonRow kRibbonButtons[] = {
    {L"pvlRecord", RibbonButton::Record, RibbonPicture::Record},
    {L"pvlPlay", RibbonButton::Play, RibbonPicture::Play},
    {L"pvlStop", RibbonButton::Stop, RibbonPicture::Stop},
    {L"pvlAbout", RibbonButton::Product, RibbonPicture::Product},
};

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

// The window a control sits in, and the mail that window shows.
HRESULT ContextMail(IDispatch* control, ComPtr<IDispatch>* inspector, ComPtr<IDispatch>* mailItem) {
    ComPtr<IDispatch> context;
    RETURN_IF_FAILED(GetObjectProperty(control, host::dispid::RibbonControl_Context, &context));
    RETURN_IF_FAILED(context->QueryInterface(host::IID_Inspector, reinterpret_cast<void**>(inspector->GetAddressOf())));
    if (!*inspector) return E_NOINTERFACE;
    return InspectorMailItem(inspector->Get(), mailItem);
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
        if (u && SUCCEEDED(u->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(d.GetAddressOf())))) return d.Get();
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

HRESULT LoadRibbonXml(std::wstring* xml) {
    HRSRC found = FindResourceW(ModuleInstance(), MAKEINTRESOURCEW(IDR_RIBBON_COMPOSE), MAKEINTRESOURCEW(10));  // RT_RCDATA
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
    // Only a mail being written gets the group; every other ribbon is left as it is.
    std::wstring xml;
    if (RibbonID && CompareStringOrdinal(RibbonID, -1, host::kRibbonMailCompose, -1, FALSE) == CSTR_EQUAL)
        RETURN_IF_FAILED(LoadRibbonXml(&xml));
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
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT Connect::Ribbon_onLoad(IDispatch* ribbon) {
    if (!ribbon) return E_INVALIDARG;
    ComPtr<IDispatch> ui;
    RETURN_IF_FAILED(ribbon->QueryInterface(host::IID_IRibbonUI, reinterpret_cast<void**>(ui.GetAddressOf())));
    RibbonUI = ui;
    return S_OK;
}

bool Connect::RibbonButtonEnabled(int button, IDispatch* mailItem) const {
    const bool busy = RecorderState != pvlNone;
    switch (static_cast<RibbonButton>(button)) {
        case RibbonButton::Product:
            return true;
        case RibbonButton::Record:
            return !busy;
        case RibbonButton::Play:
            return !busy && SameObject(RecordingMailItem.Get(), mailItem);
        case RibbonButton::Stop:
            return busy && SameObject(RecorderMailItem.Get(), mailItem);
    }
    return false;
}

bool Connect::Ribbon_getEnabled(IDispatch* control) {
    const RibbonButtonRow* row = RowOf(control);
    if (!row) return false;
    if (row->button == RibbonButton::Product) return true;  // the About window needs no mail
    ComPtr<IDispatch> inspector, mailItem;
    if (FAILED(ContextMail(control, &inspector, &mailItem))) return false;
    return RibbonButtonEnabled(static_cast<int>(row->button), mailItem.Get());
}

HRESULT Connect::Ribbon_getImage(IDispatch* control, VARIANT* picture) {
    const RibbonButtonRow* row = RowOf(control);
    if (!row) return E_INVALIDARG;
    return RibbonImage(control, row->picture, picture);  // drawn for the DPI of the control's window
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
    ComPtr<IDispatch> inspector, mailItem;
    if (FAILED(ContextMail(control, &inspector, &mailItem))) return S_OK;  // not a mail window
    if (!RibbonButtonEnabled(static_cast<int>(row->button), mailItem.Get())) return S_OK;
    switch (row->button) {
        case RibbonButton::Record: Guarded(StartRecording(inspector.Get(), mailItem.Get())); break;
        case RibbonButton::Play: Guarded(PlayRecording(mailItem.Get())); break;
        case RibbonButton::Stop: Guarded(ButtonStop_Click(control, &cancelDefault)); break;
        case RibbonButton::Product: break;
    }
    return S_OK;
}

void Connect::InvalidateRibbon() {
    Variant ignored;
    Guarded(CallMethod(RibbonUI.Get(), host::dispid::RibbonUI_Invalidate, ignored.put()));
}

}  // namespace pvl
