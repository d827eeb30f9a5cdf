// A mail window (an Inspector showing a mail) and the "Parvaline" command bar the add-in builds in
// it: the window (its Close), its mail, the bar and the bar's four buttons (their clicks).
//
// Every window's bar acts for its own mail and shows the recorder's state. Office raises a button's
// Click on every button that carries the same Tag, in every window, passing the one pressed as Ctrl:
// a window acts only on presses of its own buttons.
#pragma once
#include "addin/mail_place.h"
#include "recorder/recorder.h"
#include <string>

namespace pvl {

enum class BarButton { Product, Record, Play, Stop };

class MailWindow : public MailPlace {
public:
    MailWindow(Connect& connect, IDispatch* inspector, IDispatch* mailItem);
    // Listens to the window's Close.
    HRESULT Listen();

    IDispatch* Inspector() const { return inspector_.Get(); }
    IDispatch* Bar() const { return bar_.Get(); }
    IDispatch* Button(BarButton which) const;

    // Builds the bar: a "Parvaline" bar left in the window goes first, then the new one and its
    // buttons, each with its properties in the bar's own order (continue-on-error throughout). A bar
    // that cannot be created leaves the window without buttons.
    HRESULT BuildBar();
    // Enables or disables Record, Play and Stop, in that order. With `stopAtFirstError` the first
    // failing put ends it; otherwise every put is tried. The first failure is returned. A window
    // without a bar shows nothing and succeeds.
    HRESULT Show(BarLook look, bool stopAtFirstError);
    // The product button's caption ("Compressing, wait..." while Stop encodes).
    HRESULT SetProductCaption(const wchar_t* caption);
    // Deletes the window's "Parvaline" bar.
    HRESULT DeleteBar();
    void Disconnect() override;

private:
    HRESULT AddButton(EventConnection& field, int row);
    HRESULT RouteWindowEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteClick(BarButton which, DISPID id, DISPPARAMS* params);
    HRESULT RouteProductClick(DISPID id, DISPPARAMS* p) { return RouteClick(BarButton::Product, id, p); }
    HRESULT RouteRecordClick(DISPID id, DISPPARAMS* p) { return RouteClick(BarButton::Record, id, p); }
    HRESULT RoutePlayClick(DISPID id, DISPPARAMS* p) { return RouteClick(BarButton::Play, id, p); }
    HRESULT RouteStopClick(DISPID id, DISPPARAMS* p) { return RouteClick(BarButton::Stop, id, p); }

    EventField<MailWindow, &MailWindow::RouteWindowEvent> Window;
    EventField<MailWindow, &MailWindow::RouteProductClick> ProductButton;
    EventField<MailWindow, &MailWindow::RouteRecordClick> RecordButton;
    EventField<MailWindow, &MailWindow::RoutePlayClick> PlayButton;
    EventField<MailWindow, &MailWindow::RouteStopClick> StopButton;
    ComPtr<IDispatch> inspector_;
    ComPtr<IDispatch> bar_;
};

// The mail item a window shows: its CurrentItem, as a MailItem; fails for any other item.
HRESULT InspectorMailItem(IDispatch* inspector, ComPtr<IDispatch>* mailItem);
// A bitmap of the component's resources as a picture object that owns it (its pixels kept exact,
// alpha included).
HRESULT LoadPicture(int resource, Variant* picture);

}  // namespace pvl
