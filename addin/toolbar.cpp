// The "Parvaline" command bar in each new mail inspector, and its removal when that window closes.
#include "addin/connect.h"
#include "common/host_model.h"
#include "common/dispatch_call.h"
#include "common/module.h"
#include "common/result.h"
#include <olectl.h>

namespace pvl {

namespace {
constexpr wchar_t kBarName[] = L"Parvaline";

enum class Property { Caption, Style, Picture, Mask, Tag, OnAction, Visible };

// The four buttons, in their order on the bar, each with its properties in the order they are set.
struct ButtonRow {
    const wchar_t* caption;
    int picture;
    int mask;
    const wchar_t* tag;
    Property order[7];
};
using enum Property;
constexpr ButtonRow kButtonRows[] = {
    {L"", 101, 108, L"Parvaline", {Caption, Style, Picture, Mask, Tag, OnAction, Visible}},
    {L"Record", 102, 102, L"Record", {Caption, Tag, Style, Picture, Mask, OnAction, Visible}},
    {L"Play", 103, 103, L"Play", {Caption, Style, Picture, Mask, Tag, OnAction, Visible}},
    {L"Stop", 105, 105, L"Stop", {Caption, Style, Picture, Mask, Tag, OnAction, Visible}},
};

}  // namespace

HRESULT InspectorMailItem(IDispatch* inspector, ComPtr<IDispatch>* mailItem) {
    ComPtr<IDispatch> item;
    RETURN_IF_FAILED(GetObjectProperty(inspector, host::dispid::Inspector_CurrentItem, &item));
    ComPtr<IDispatch> mail;
    RETURN_IF_FAILED(item->QueryInterface(host::IID_MailItem, reinterpret_cast<void**>(mail.GetAddressOf())));
    if (!mail) return E_NOINTERFACE;
    *mailItem = mail;
    return S_OK;
}

namespace {
HRESULT DeleteBar(IDispatch* inspector) {
    ComPtr<IDispatch> bars, bar;
    RETURN_IF_FAILED(GetObjectProperty(inspector, host::dispid::Inspector_CommandBars, &bars));
    Variant result;
    RETURN_IF_FAILED(ObjectResult(InvokeDispatch(bars.Get(), host::dispid::CommandBars_Item,
                                                 DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                                 Variant(kBarName).get(), 1, result.put()),
                                  result, &bar));
    Variant ignored;
    return CallMethod(bar.Get(), host::dispid::CommandBar_Delete, ignored.put());
}

}  // namespace

HRESULT LoadPicture(int resource, Variant* picture) {
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(resource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap) return LastErrorResult();
    PICTDESC desc{sizeof(desc), PICTYPE_BITMAP};
    desc.bmp.hbitmap = bitmap;
    ComPtr<IDispatch> pictureDisp;
    const HRESULT hr = OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE,
                                                reinterpret_cast<void**>(pictureDisp.GetAddressOf()));
    if (FAILED(hr)) {
        DeleteObject(bitmap);
        return hr;
    }
    *picture = Variant(pictureDisp.Get());
    return S_OK;
}

namespace {

HRESULT PutPicture(IDispatch* button, DISPID id, int resource) {
    Variant picture;
    RETURN_IF_FAILED(LoadPicture(resource, &picture));
    // Picture and Mask are plain property puts, not put-by-reference.
    return PutProperty(button, id, picture);
}
}  // namespace

HRESULT Connect::BuildActionText(std::wstring* text) {
    Variant progId;
    RETURN_IF_FAILED(GetPropertyByName(AddInInst.Get(), L"ProgId", progId.put()));
    if (progId.vt() != VT_BSTR) return DISP_E_TYPEMISMATCH;
    *text = std::wstring(L"!<") + (progId.ref().bstrVal ? progId.ref().bstrVal : L"") + L">";
    return S_OK;
}

HRESULT Connect::AddButton(EventConnection& field, int row) {
    const ButtonRow& b = kButtonRows[row];
    // field := CurrentCommandBar.Controls.Add(Type:=msoControlButton)
    Guarded([&] {
        ComPtr<IDispatch> controls, button;
        RETURN_IF_FAILED(GetObjectProperty(CurrentCommandBar.Get(), host::dispid::CommandBar_Controls, &controls));
        Variant result;
        RETURN_IF_FAILED(ObjectResult(CallMethod(controls.Get(), host::dispid::CommandBarControls_Add, result.put(),
                                                 Variant(host::msoControlButton)),
                                      result, &button));
        return field.Assign(button.Get());
    }());
    // Each property is its own step, set on whatever button the field now holds.
    for (Property p : b.order) {
        IDispatch* button = field.get();
        switch (p) {
            case Caption: Guarded(PutProperty(button, host::dispid::Control_Caption, Variant(b.caption))); break;
            case Style: Guarded(PutProperty(button, host::dispid::Button_Style, Variant(host::msoButtonIconAndCaption))); break;
            case Picture: Guarded(PutPicture(button, host::dispid::Button_Picture, b.picture)); break;
            case Mask: Guarded(PutPicture(button, host::dispid::Button_Mask, b.mask)); break;
            case Tag: Guarded(PutProperty(button, host::dispid::Control_Tag, Variant(b.tag))); break;
            case OnAction:
                Guarded([&] {
                    std::wstring action;
                    RETURN_IF_FAILED(BuildActionText(&action));  // ProgId is read afresh per button
                    return PutProperty(button, host::dispid::Control_OnAction, Variant(action.c_str()));
                }());
                break;
            case Visible: Guarded(PutProperty(button, host::dispid::Control_Visible, Variant(true))); break;
        }
    }
    return S_OK;
}

HRESULT Connect::OutlookInspectors_NewInspector(IDispatch* Inspector) {
    // Continue-on-error, once the window is known to show a mail item.
    ComPtr<IDispatch> mailItem;
    if (FAILED(InspectorMailItem(Inspector, &mailItem))) return S_OK;  // not a mail: nothing changes

    Guarded(CurrentMailInspector.Assign(Inspector));
    Guarded([&] {
        ComPtr<IDispatch> item;
        RETURN_IF_FAILED(InspectorMailItem(Inspector, &item));
        CurrentMailItem = item;
        return S_OK;
    }());
    Guarded(DeleteBar(Inspector));  // fails, harmlessly, when the window has no such bar
    Guarded([&] {
        ComPtr<IDispatch> bars, bar;
        RETURN_IF_FAILED(GetObjectProperty(Inspector, host::dispid::Inspector_CommandBars, &bars));
        Variant result;
        RETURN_IF_FAILED(ObjectResult(CallMethod(bars.Get(), host::dispid::CommandBars_Add, result.put(),
                                                 Variant(kBarName), Variant(host::msoBarTop)),
                                      result, &bar));
        CurrentCommandBar = bar;
        return S_OK;
    }());
    Guarded(AddButton(ButtonPVL, 0));
    Guarded(AddButton(ButtonRecord, 1));
    Guarded(AddButton(ButtonPlay, 2));
    Guarded(AddButton(ButtonStop, 3));
    Guarded(PutProperty(CurrentCommandBar.Get(), host::dispid::CommandBar_Visible, Variant(true)));
    // While a recording or playback runs on (for an earlier window's mail) the new bar shows it:
    // its Record would throw the recording away, and its Stop is the only one left to end it.
    const bool busy = RecorderState != pvlNone;
    Guarded(PutProperty(ButtonRecord.get(), host::dispid::Control_Enabled, Variant(!busy)));
    Guarded(PutProperty(ButtonPlay.get(), host::dispid::Control_Enabled, Variant(false)));
    Guarded(PutProperty(ButtonStop.get(), host::dispid::Control_Enabled, Variant(busy)));
    return S_OK;
}

HRESULT Connect::CurrentMailInspector_Close() {
    // Continue-on-error: Stop as if clicked, then the bar goes.
    VARIANT_BOOL cancelDefault = VARIANT_TRUE;
    Guarded(ButtonStop_Click(ButtonStop.get(), &cancelDefault));
    Guarded(DeleteBar(CurrentMailInspector.get()));
    return S_OK;
}

}  // namespace pvl
