// Connect: the add-in object. It holds every reference the add-in keeps (host objects and the audio
// control), receives every event, and routes each to its handler. The handlers are members, named
// after their event source and event; they live beside their subsystem:
//   addin/connect.cpp    connection and disconnection, event routing
//   addin/toolbar.cpp    the mail inspector's command bar
//   recorder/recorder.cpp  Record, Play, Stop and the audio control's events
//   recorder/compression.cpp  saving, encoding and attaching inside Stop
//   about/about_window.cpp    the product button
#pragma once
#include "common/com_object.h"
#include "common/event_field.h"
#include "common/variant.h"
#include "addin/extensibility.h"
#include "addin/identity.h"
#include "addin/ribbon_model.h"
#include <string>

namespace pvl {

class Connect : public IDTExtensibility2, public IRibbonExtensibility {
public:
    Connect();
    ~Connect();
    static const QITAB* Interfaces();

    PVL_DECLARE_IUNKNOWN;
    using Identity = IDTExtensibility2;  // the interface whose IUnknown is the object's identity

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
        IDispatch* AddInInst;
        IDispatch* mci;
        IDispatch* CurrentMailInspector;
        IDispatch* CurrentMailItem;
        IDispatch* CurrentCommandBar;
        IDispatch* ButtonPVL;
        IDispatch* ButtonRecord;
        IDispatch* ButtonPlay;
        IDispatch* ButtonStop;
        IDispatch* RecordingMailInspector;
        IDispatch* RecordingMailItem;
        IDispatch* RecorderMailItem;
        IDispatch* RibbonUI;
        pvlStates RecorderState;
    };
    Fields View() const;

    // Live Connect objects in this module.
    static long LiveObjects();

private:
    // Event routing: each event-connected field delivers its events to one of these, which reads
    // the event's arguments and calls the handler.
    HRESULT RouteInspectorsEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteMailInspectorEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteMciEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteButtonPVLEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteButtonRecordEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteButtonPlayEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteButtonStopEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteRecordingInspectorEvent(DISPID id, DISPPARAMS* params);
    HRESULT RouteRecordingItemEvent(DISPID id, DISPPARAMS* params);
    using ClickHandler = HRESULT (Connect::*)(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT RouteClick(ClickHandler handler, const EventConnection& button, DISPID id, DISPPARAMS* params);

    // Continue-on-error handlers: every step is guarded; they return success.
    HRESULT AddinInstance_OnConnection(IDispatch* Application, IDispatch* addInInst);
    HRESULT AddinInstance_OnDisconnection();
    HRESULT OutlookInspectors_NewInspector(IDispatch* Inspector);
    HRESULT CurrentMailInspector_Close();
    HRESULT ButtonRecord_Click(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT ButtonStop_Click(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT RecordingMailInspector_Close();
    HRESULT RecordingMailItem_Send(VARIANT_BOOL* Cancel);
    // Stop-at-first-error handlers: the first failing step's result is returned to the event's caller.
    HRESULT ButtonPlay_Click(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT ButtonPVL_Click(IDispatch* Ctrl, VARIANT_BOOL* CancelDefault);
    HRESULT mci_Done(short NotifyCode);
    HRESULT mci_PlayCompleted(long Errorcode);

    // Stop's steps. The result is S_OK unless a recording ended without reaching its mail.
    HRESULT StopRecorder();
    // Whether a recording runs for a mail other than `mailItem`: a Record or Play for that mail
    // would reopen the device and throw the other mail's recording away.
    bool RecordingForAnotherMail(IDispatch* mailItem) const;
    // Record for the mail in `inspector` (continue-on-error).
    HRESULT StartRecording(IDispatch* inspector, IDispatch* mailItem);
    bool IsRecording() const { return RecorderState == pvlRecording || RecorderState == pvlRecordPause; }

    // The ribbon's callbacks (ribbon.cpp), reached through IDispatch by the names in the XML.
    HRESULT InvokeRibbonCallback(DISPID id, DISPPARAMS* params, VARIANT* result);
    HRESULT Ribbon_onLoad(IDispatch* ribbon);
    HRESULT Ribbon_onAction(IDispatch* control);
    bool Ribbon_getEnabled(IDispatch* control);
    HRESULT Ribbon_getImage(IDispatch* control, VARIANT* picture);
    // Office asks the ribbon's get-callbacks again after this; called on every change of state.
    void InvalidateRibbon();
    // The state rule of the ribbon's buttons for a window showing `mailItem` (a RibbonButton).
    bool RibbonButtonEnabled(int button, IDispatch* mailItem) const;
    // Play, for the mail whose window asked (stop-at-first-error).
    HRESULT PlayRecording(IDispatch* mailItem);

    // Toolbar steps (toolbar.cpp).
    HRESULT AddButton(EventConnection& field, int row);
    HRESULT BuildActionText(std::wstring* text);
    // Compression and attachment inside Stop (compression.cpp). S_OK only when the mail received
    // this recording as its voice attachment.
    HRESULT CompressAndAttach();

    // Event-connected fields, in their declared order.
    EventField<Connect, &Connect::RouteInspectorsEvent> OutlookInspectors;
    EventField<Connect, &Connect::RouteMailInspectorEvent> CurrentMailInspector;
    EventField<Connect, &Connect::RouteMciEvent> mci;
    EventField<Connect, &Connect::RouteButtonPVLEvent> ButtonPVL;
    EventField<Connect, &Connect::RouteButtonRecordEvent> ButtonRecord;
    EventField<Connect, &Connect::RouteButtonPlayEvent> ButtonPlay;
    EventField<Connect, &Connect::RouteButtonStopEvent> ButtonStop;
    // The window and the mail the recording belongs to: the ones whose Record started it. They stay
    // with the recording when newer mail windows open, so that it is attached where it was made,
    // also when its window closes or its mail is sent.
    EventField<Connect, &Connect::RouteRecordingInspectorEvent> RecordingMailInspector;
    EventField<Connect, &Connect::RouteRecordingItemEvent> RecordingMailItemEvents;

    // Plain fields.
    ComPtr<IDispatch> OutlookApp;
    ComPtr<IDispatch> CurrentCommandBar;
    ComPtr<IDispatch> CurrentMailItem;
    ComPtr<IDispatch> AddInInst;
    // The mail the recording belongs to; Stop attaches the recording to it.
    ComPtr<IDispatch> RecordingMailItem;
    // The mail the recorder is busy for: the one whose Record or Play started what runs now.
    ComPtr<IDispatch> RecorderMailItem;
    // The host's ribbon, handed to onLoad; empty in a host without one.
    ComPtr<IDispatch> RibbonUI;
    pvlStates RecorderState = pvlNone;
};

// Shared by the bar and the ribbon.
// The mail item a window shows: its CurrentItem, as a MailItem; fails for any other item.
HRESULT InspectorMailItem(IDispatch* inspector, ComPtr<IDispatch>* mailItem);
// A bitmap of the component's resources as a picture object that owns it (its pixels kept exact,
// alpha included).
HRESULT LoadPicture(int resource, Variant* picture);

}  // namespace pvl
