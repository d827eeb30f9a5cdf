// A main window (an Explorer) and the reply written inline in its reading pane, where Outlook opens
// Reply and Forward since 2013. There is no command bar here: the voice group sits on the ribbon's
// Message tab that Outlook shows while a reply is written inline.
//
// The pane's mail is the inline reply while there is one. It is remembered from InlineResponse,
// since by the time InlineResponseClose arrives the explorer has let go of it.
#pragma once
#include "addin/mail_place.h"

namespace pvl {

class ReadingPane : public MailPlace {
public:
    ReadingPane(Connect& connect, IDispatch* explorer);
    // Listens to the explorer's events (InlineResponse, InlineResponseClose, Close).
    HRESULT Listen();

    IDispatch* Explorer() const { return explorer_.Get(); }
    // The reply written inline now, as the explorer reports it (ActiveInlineResponse); remembered.
    // Fails when there is none.
    HRESULT ActiveReply(ComPtr<IDispatch>* mailItem);
    // A reply appeared inline (null: none is there any more).
    void SetReply(IDispatch* mailItem) { mail_ = mailItem; }
    void Disconnect() override;

private:
    HRESULT RouteExplorerEvent(DISPID id, DISPPARAMS* params);

    EventField<ReadingPane, &ReadingPane::RouteExplorerEvent> ExplorerEvents;
    ComPtr<IDispatch> explorer_;
};

// The reply written inline in `explorer` now: its ActiveInlineResponse, as a MailItem.
HRESULT InlineReplyOf(IDispatch* explorer, ComPtr<IDispatch>* mailItem);

}  // namespace pvl
