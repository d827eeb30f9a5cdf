#include "addin/mail_window.h"
#include "addin/connect.h"
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

HRESULT PutPicture(IDispatch* button, DISPID id, int resource) {
    Variant picture;
    RETURN_IF_FAILED(LoadPicture(resource, &picture));
    // Picture and Mask are plain property puts, not put-by-reference.
    return PutProperty(button, id, picture);
}

HRESULT Enable(IDispatch* button, bool enabled) {
    return PutProperty(button, host::dispid::Control_Enabled, Variant(enabled));
}
}  // namespace

HRESULT InspectorMailItem(IDispatch* inspector, ComPtr<IDispatch>* mailItem) {
    return MailItemProperty(inspector, host::dispid::Inspector_CurrentItem, mailItem);
}

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

MailWindow::MailWindow(Connect& connect, IDispatch* inspector, IDispatch* mailItem)
    : MailPlace(connect),
      Window(this, host::DIID_InspectorEvents_10),
      ProductButton(this, host::DIID_CommandBarButtonEvents),
      RecordButton(this, host::DIID_CommandBarButtonEvents),
      PlayButton(this, host::DIID_CommandBarButtonEvents),
      StopButton(this, host::DIID_CommandBarButtonEvents),
      inspector_(inspector) {
    mail_ = mailItem;
}

HRESULT MailWindow::Listen() { return Window.Assign(inspector_.Get()); }

IDispatch* MailWindow::Button(BarButton which) const {
    switch (which) {
        case BarButton::Product: return ProductButton.get();
        case BarButton::Record: return RecordButton.get();
        case BarButton::Play: return PlayButton.get();
        case BarButton::Stop: return StopButton.get();
    }
    return nullptr;
}

HRESULT MailWindow::DeleteBar() {
    ComPtr<IDispatch> bars, bar;
    RETURN_IF_FAILED(GetObjectProperty(inspector_.Get(), host::dispid::Inspector_CommandBars, &bars));
    Variant result;
    RETURN_IF_FAILED(ObjectResult(InvokeDispatch(bars.Get(), host::dispid::CommandBars_Item,
                                                 DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                                 Variant(kBarName).get(), 1, result.put()),
                                  result, &bar));
    Variant ignored;
    return CallMethod(bar.Get(), host::dispid::CommandBar_Delete, ignored.put());
}

HRESULT MailWindow::AddButton(EventConnection& field, int row) {
    const ButtonRow& b = kButtonRows[row];
    // field := bar.Controls.Add(Type:=msoControlButton)
    Guarded([&] {
        ComPtr<IDispatch> controls, button;
        RETURN_IF_FAILED(GetObjectProperty(bar_.Get(), host::dispid::CommandBar_Controls, &controls));
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
                    RETURN_IF_FAILED(connect_.BuildActionText(&action));  // ProgId is read afresh per button
                    return PutProperty(button, host::dispid::Control_OnAction, Variant(action.c_str()));
                }());
                break;
            case Visible: Guarded(PutProperty(button, host::dispid::Control_Visible, Variant(true))); break;
        }
    }
    return S_OK;
}

HRESULT MailWindow::BuildBar() {
    Guarded(DeleteBar());  // fails, harmlessly, when the window has no such bar
    const HRESULT added = [&] {
        ComPtr<IDispatch> bars, bar;
        RETURN_IF_FAILED(GetObjectProperty(inspector_.Get(), host::dispid::Inspector_CommandBars, &bars));
        Variant result;
        RETURN_IF_FAILED(ObjectResult(CallMethod(bars.Get(), host::dispid::CommandBars_Add, result.put(),
                                                 Variant(kBarName), Variant(host::msoBarTop)),
                                      result, &bar));
        bar_ = bar;
        return S_OK;
    }();
    // Without a bar of its own the window gets no buttons: put on another window's bar, they would
    // act for this window's mail from there.
    if (FAILED(added)) return added;
    Guarded(AddButton(ProductButton, 0));
    Guarded(AddButton(RecordButton, 1));
    Guarded(AddButton(PlayButton, 2));
    Guarded(AddButton(StopButton, 3));
    Guarded(PutProperty(bar_.Get(), host::dispid::CommandBar_Visible, Variant(true)));
    return S_OK;
}

HRESULT MailWindow::Show(BarLook look, bool stopAtFirstError) {
    HRESULT first = S_OK;
    auto step = [&](IDispatch* button, bool enabled) {
        if (!button || (FAILED(first) && stopAtFirstError)) return;  // never built: nothing to show
        const HRESULT hr = Enable(button, enabled);
        if (SUCCEEDED(first)) first = hr;
    };
    step(RecordButton.get(), look.record);
    step(PlayButton.get(), look.play);
    step(StopButton.get(), look.stop);
    return first;
}

HRESULT MailWindow::SetProductCaption(const wchar_t* caption) {
    if (!ProductButton) return S_OK;
    return PutProperty(ProductButton.get(), host::dispid::Control_Caption, Variant(caption));
}

void MailWindow::Disconnect() {
    StopButton.Clear();
    PlayButton.Clear();
    RecordButton.Clear();
    ProductButton.Clear();
    Window.Clear();
    MailPlace::Disconnect();
}

HRESULT MailWindow::RouteWindowEvent(DISPID id, DISPPARAMS*) {
    if (id != host::dispid::InspectorEvents_Close) return S_OK;
    const ComPtr<IUnknown> keep = KeepConnect();
    return connect_.MailWindow_Close(*this);
}

HRESULT MailWindow::RouteClick(BarButton which, DISPID id, DISPPARAMS* params) {
    if (id != host::dispid::CommandBarButtonEvents_Click) return S_OK;
    IDispatch* ctrl = DispatchArg(RawArg(params, 0));
    // The host raises Click on every button that carries the same Tag, in every window, and passes
    // the one actually pressed as Ctrl: only a press of this window's own button is its to act on.
    if (!SameObject(ctrl, Button(which))) return S_OK;
    const ComPtr<IUnknown> keep = KeepConnect();
    VARIANT_BOOL local = VARIANT_FALSE;
    VARIANT_BOOL* cancelDefault = BoolRefArg(RawArg(params, 1), &local);
    switch (which) {
        case BarButton::Product: return connect_.ButtonPVL_Click(ctrl, cancelDefault);
        case BarButton::Record: return connect_.ButtonRecord_Click(*this, ctrl, cancelDefault);
        case BarButton::Play: return connect_.ButtonPlay_Click(*this, ctrl, cancelDefault);
        case BarButton::Stop: return connect_.ButtonStop_Click(ctrl, cancelDefault);
    }
    return S_OK;
}

}  // namespace pvl
