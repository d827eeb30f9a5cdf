// Connect: the add-in object. It is what Office creates and talks to (IDTExtensibility2,
// IRibbonExtensibility, and the ribbon's callbacks by name through IDispatch); it keeps the fields
// the add-in's connection and its newest mail window are known by; and it routes every event to the
// handler named after its source and event. The places where a mail is written hold their own
// windows, mails and events:
//   addin/connect.cpp       connection and disconnection, the routing of every event
//   addin/mail_window.cpp   a mail window and its "Parvaline" bar
//   addin/reading_pane.cpp  the main window and a reply written inline in its reading pane
//   addin/ribbon.cpp        the ribbon's XML and callbacks
//   recorder/               Record, Play and Stop, compression and attachment
#pragma once
#include "addin/extensibility.h"
#include "addin/identity.h"
#include "addin/mail_window.h"
#include "addin/reading_pane.h"
#include "addin/ribbon_model.h"
#include "common/com_object.h"
#include "common/event_field.h"
#include "common/variant.h"
#include "recorder/recorder.h"
#include <string>
#include <vector>

namespace pvl {

class Connect : public IDTExtensibility2, public IRibbonExtensibility, private RecorderOwner {
public:
    Connect();
    ~Connect();
    // The host's last release: a recording still running is attached to its mail first.
    void FinalRelease();
    static const QITAB* Interfaces();

    PVL_DECLARE_IUNKNOWN;
    using Identity = IDTExtensibility2;  // the interface whose IUnknown is the object's identity
    IUnknown* Unknown() { return static_cast<IDTExtensibility2*>(this); }

    // IDispatch, shared by _Connect, IDTExtensibility2 and IRibbonExtensibility. _Connect declares
    // no members; the only names it answers are the ribbon's callbacks (addin/ribbon.cpp), which
    // Office resolves by name on this object.
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
    IFACEMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* info, UINT* argError) override;

    // IDTExtensibility2
    IFACEMETHODIMP OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                SAFEARRAY** custom) override;
    IFACEMETHODIMP OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    IFACEMETHODIMP OnAddInsUpdate(SAFEARRAY** custom) override;
    IFACEMETHODIMP OnStartupComplete(SAFEARRAY** custom) override;
    IFACEMETHODIMP OnBeginShutdown(SAFEARRAY** custom) override;

    // IRibbonExtensibility (addin/ribbon.cpp)
    IFACEMETHODIMP GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) override;

    // A read-only view of the fields, for tests and diagnostics.
    struct Fields {
        IDispatch* OutlookApp;
        IDispatch* OutlookInspectors;
        IDispatch* OutlookExplorers;
        IDispatch* AddInInst;
        IDispatch* mci;
        IDispatch* CurrentMailInspector;
        IDispatch* CurrentMailItem;
        IDispatch* CurrentCommandBar;
        IDispatch* ButtonPVL;
        IDispatch* ButtonRecord;
        IDispatch* ButtonPlay;
        IDispatch* ButtonStop;
        IDispatch* RecordingMailItem;  // the mail the last recording belongs to
        IDispatch* RecorderMailItem;   // the mail the recorder is busy for
        size_t MailWindows;            // open mail windows held, with their bars
        size_t ReadingPanes;           // main windows held
        size_t RibbonUIs;              // one per customUI document loaded
        pvlStates RecorderState;
    };
    Fields View() const;

    // Live Connect objects in this module.
    static long LiveObjects();

private:
    friend class MailPlace;
    friend class MailWindow;
    friend class ReadingPane;

    // Event routing of the fields that receive events.
    HRESULT RouteInspectorsEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteExplorersEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteMciEvent(DISPID id, DISPPARAMS* params);

    // Continue-on-error handlers: every step is guarded; they return success.
    HRESULT AddinInstance_OnConnection(IDispatch* Application, IDispatch* addInInst);
    HRESULT AddinInstance_OnDisconnection();
    HRESULT OutlookInspectors_NewInspector(IDispatch* Inspector);
    HRESULT OutlookExplorers_NewExplorer(IDispatch* Explorer);
    HRESULT MailWindow_Close(MailWindow& window);
    HRESULT CurrentMailInspector_Close(MailWindow& window);
    HRESULT ButtonRecord_Click(MailWindow& window, IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT ButtonStop_Click(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT Explorer_InlineResponse(ReadingPane& pane, IDispatch* Item);
    HRESULT Explorer_InlineResponseClose(ReadingPane& pane);
    HRESULT Explorer_Close(ReadingPane& pane);
    HRESULT RecordingMail_Send(MailPlace& place, VARIANT_BOOL* Cancel);
    HRESULT RecordingMail_Close(MailPlace& place, VARIANT_BOOL* Cancel);
    // Stop-at-first-error handlers: the first failing step's result is returned to the event's caller.
    HRESULT ButtonPlay_Click(MailWindow& window, IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT ButtonPVL_Click(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT mci_Done(short NotifyCode);
    HRESULT mci_PlayCompleted(long Errorcode);

    // The places.
    HRESULT AddReadingPane(IDispatch* explorer);
    void Forget(MailPlace& place);
    void LetGoOf(IDispatch* mailItem);
    MailWindow* WindowOf(IDispatch* inspector) const;
    ReadingPane* PaneOf(IDispatch* explorer) const;
    // The action text of a bar's buttons: "!<" ProgId ">", the ProgId read from AddInInst.
    HRESULT BuildActionText(std::wstring* text);

    // RecorderOwner
    HRESULT ShowOnBars(BarLook look, bool stopAtFirstError) override;
    void RecorderChanged() override;
    void ShowCompressing(bool compressing) override;

    // The ribbon's callbacks (ribbon.cpp), reached through IDispatch by the names in the XML.
    HRESULT InvokeRibbonCallback(DISPID id, DISPPARAMS* params, VARIANT* result);
    HRESULT Ribbon_onLoad(IDispatch* ribbon);
    HRESULT Ribbon_onAction(IDispatch* control);
    bool Ribbon_getEnabled(IDispatch* control);
    HRESULT Ribbon_getImage(IDispatch* control, VARIANT* picture);
    bool Ribbon_getPressed(IDispatch* control);
    std::wstring Ribbon_getLabel(IDispatch* control);
    std::wstring Ribbon_getSupertip(IDispatch* control);
    HRESULT Ribbon_onToggle(IDispatch* control, bool pressed);
    // Office asks Stop's label again: the clock of a running recording, once a second.
    void InvalidateClock();
    // The mail of the window or pane a control sits in: null when it shows none.
    ComPtr<IDispatch> ContextMail(IDispatch* control);
    // The state rule of a group's buttons where `mailItem` is written (a RibbonButton).
    bool RibbonButtonEnabled(int button, IDispatch* mailItem) const;
    // Office asks the groups' get-callbacks again after this; called on every change of state.
    void InvalidateRibbon();

    // Event-connected fields.
    EventField<Connect, &Connect::RouteInspectorsEvent> OutlookInspectors;
    EventField<Connect, &Connect::RouteExplorersEvent> OutlookExplorers;
    EventField<Connect, &Connect::RouteMciEvent> mci;

    // The newest mail window, its mail, its bar and the bar's buttons. The window itself, with its
    // events, is one of `windows_`; these keep their references until the next mail window opens.
    ComPtr<IDispatch> CurrentMailInspector;
    ComPtr<IDispatch> CurrentMailItem;
    ComPtr<IDispatch> CurrentCommandBar;
    ComPtr<IDispatch> ButtonPVL;
    ComPtr<IDispatch> ButtonRecord;
    ComPtr<IDispatch> ButtonPlay;
    ComPtr<IDispatch> ButtonStop;

    // Plain fields.
    ComPtr<IDispatch> OutlookApp;
    ComPtr<IDispatch> AddInInst;
    pvlStates RecorderState = pvlNone;

    // Every open mail window, in the order they opened, and every main window.
    std::vector<ComPtr<MailWindow>> windows_;
    std::vector<ComPtr<ReadingPane>> panes_;
    // The host's ribbons, one per customUI document, handed to onLoad; empty in a host without one.
    std::vector<ComPtr<IDispatch>> ribbonUIs_;
    Recorder recorder_{RecorderState, *this};
};

}  // namespace pvl
