// A place where a mail is being written: a mail window with its bar (MailWindow), or a reply
// written in the reading pane of the main window (ReadingPane). Each holds its mail and its events;
// what arrives goes to Connect, which decides with the recorder.
//
// While the recorder records for a place's mail, the place also listens to that mail's own events
// (Send, Close), and only then: a mail without a recording keeps no sink of the add-in's, and a sent
// or closed one none at all.
#pragma once
#include "common/event_field.h"
#include "common/host_model.h"
#include "common/variant.h"

namespace pvl {

class Connect;

class MailPlace : public IUnknown {
public:
    static const QITAB* Interfaces();
    using Identity = IUnknown;

    // The mail written here; null while there is none (a main window without an inline reply).
    IDispatch* Mail() const { return mail_.Get(); }
    // Listens to the mail's own Send and Close while `recordingHere`, and not otherwise. A connection
    // that cannot be made leaves none.
    void FollowRecording(bool recordingHere);
    // Ends every event connection: the place closed, or the add-in is going away.
    virtual void Disconnect();

protected:
    explicit MailPlace(Connect& connect) : connect_(connect), MailItemEvents(this, host::DIID_ItemEvents_10) {}
    virtual ~MailPlace() = default;
    // The add-in object, kept alive while one of this place's events is handled: a handler may run
    // into the host's last release of it.
    ComPtr<IUnknown> KeepConnect() const;

    Connect& connect_;
    ComPtr<IDispatch> mail_;

private:
    HRESULT RouteMailEvent(DISPID id, DISPPARAMS* params);
    EventField<MailPlace, &MailPlace::RouteMailEvent> MailItemEvents;
};

// The mail item an object holds in a property (an Inspector's CurrentItem, an Explorer's
// ActiveInlineResponse), as a MailItem; fails for anything else.
HRESULT MailItemProperty(IDispatch* object, DISPID property, ComPtr<IDispatch>* mailItem);

// Event arguments as the host passes them.
// An object argument, by value or by reference; null for anything else.
IDispatch* DispatchArg(const VARIANT* v);
// An in/out Boolean argument (Cancel, CancelDefault); `local` stands in when the host passed none.
VARIANT_BOOL* BoolRefArg(const VARIANT* v, VARIANT_BOOL* local);

}  // namespace pvl
