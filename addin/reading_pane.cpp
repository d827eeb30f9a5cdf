#include "addin/reading_pane.h"
#include "addin/connect.h"
#include "common/dispatch_call.h"
#include "common/result.h"

namespace pvl {

HRESULT InlineReplyOf(IDispatch* explorer, ComPtr<IDispatch>* mailItem) {
    return MailItemProperty(explorer, host::dispid::Explorer_ActiveInlineResponse, mailItem);
}

ReadingPane::ReadingPane(Connect& connect, IDispatch* explorer)
    : MailPlace(connect), ExplorerEvents(this, host::DIID_ExplorerEvents_10), explorer_(explorer) {}

HRESULT ReadingPane::Listen() { return ExplorerEvents.Assign(explorer_.Get()); }

HRESULT ReadingPane::ActiveReply(ComPtr<IDispatch>* mailItem) {
    RETURN_IF_FAILED(InlineReplyOf(explorer_.Get(), mailItem));
    mail_ = *mailItem;
    return S_OK;
}

void ReadingPane::Disconnect() {
    ExplorerEvents.Clear();
    MailPlace::Disconnect();
}

HRESULT ReadingPane::RouteExplorerEvent(DISPID id, DISPPARAMS* params) {
    const ComPtr<IUnknown> keep = KeepConnect();
    switch (id) {
        case host::dispid::ExplorerEvents_InlineResponse:
            return connect_.Explorer_InlineResponse(*this, DispatchArg(RawArg(params, 0)));
        case host::dispid::ExplorerEvents_InlineResponseClose:
            // The type library gives it no argument (Microsoft's page shows one): none is read.
            return connect_.Explorer_InlineResponseClose(*this);
        case host::dispid::ExplorerEvents_Close:
            return connect_.Explorer_Close(*this);
        default:
            return S_OK;
    }
}

}  // namespace pvl
