#include "addin/mail_place.h"
#include "addin/connect.h"
#include "common/dispatch_call.h"
#include "common/dispatch_impl.h"
#include "common/result.h"

namespace pvl {

const QITAB* MailPlace::Interfaces() {
    static const QITAB table[] = {QITABENT(MailPlace, IUnknown), {}};
    return table;
}

ComPtr<IUnknown> MailPlace::KeepConnect() const { return ComPtr<IUnknown>(connect_.Unknown()); }

void MailPlace::FollowRecording(bool recordingHere) {
    if (!recordingHere) {
        MailItemEvents.Clear();
        return;
    }
    if (MailItemEvents && SameObject(MailItemEvents.get(), mail_.Get())) return;
    if (FAILED(MailItemEvents.Assign(mail_.Get()))) MailItemEvents.Clear();
}

void MailPlace::Disconnect() { MailItemEvents.Clear(); }

HRESULT MailPlace::RouteMailEvent(DISPID id, DISPPARAMS* params) {
    if (id != host::dispid::ItemEvents_Send && id != host::dispid::ItemEvents_Close) return S_OK;
    const ComPtr<IUnknown> keep = KeepConnect();
    // Cancel is an in/out Boolean; without one the event cannot be held back, but Stop still runs.
    VARIANT_BOOL local = VARIANT_FALSE;
    VARIANT_BOOL* cancel = BoolRefArg(RawArg(params, 0), &local);
    return id == host::dispid::ItemEvents_Send ? connect_.RecordingMail_Send(*this, cancel)
                                               : connect_.RecordingMail_Close(*this, cancel);
}

HRESULT MailItemProperty(IDispatch* object, DISPID property, ComPtr<IDispatch>* mailItem) {
    ComPtr<IDispatch> item;
    RETURN_IF_FAILED(GetObjectProperty(object, property, &item));
    ComPtr<IDispatch> mail;
    RETURN_IF_FAILED(item->QueryInterface(host::IID_MailItem, reinterpret_cast<void**>(mail.GetAddressOf())));
    if (!mail) return E_NOINTERFACE;
    *mailItem = mail;
    return S_OK;
}

IDispatch* DispatchArg(const VARIANT* v) {
    if (v && v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
    if (!v) return nullptr;
    if (v->vt == VT_DISPATCH) return v->pdispVal;
    if (v->vt == (VT_DISPATCH | VT_BYREF) && v->ppdispVal) return *v->ppdispVal;
    return nullptr;
}

VARIANT_BOOL* BoolRefArg(const VARIANT* v, VARIANT_BOOL* local) {
    return (v && v->vt == (VT_BOOL | VT_BYREF) && v->pboolVal) ? v->pboolVal : local;
}

}  // namespace pvl
