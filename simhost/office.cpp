#include "simhost/office.h"
#include "common/result.h"
#include <olectl.h>
#include <algorithm>
#include <cstring>

namespace simhost {

namespace id = pvl::host::dispid;
using pvl::DispMember;
using pvl::ReturnBool;
using pvl::ReturnLong;
using pvl::ReturnObject;
using pvl::ReturnString;
using pvl::GetPutBool;
using pvl::GetPutLong;
using pvl::GetPutString;

HRESULT ReadPicture(IDispatch* pictureDisp, ReceivedPicture* out) {
    ReceivedPicture received;
    received.picture = pictureDisp;
    ComPtr<IPicture> picture;
    if (!received.picture || FAILED(received.picture.As(&picture))) return DISP_E_TYPEMISMATCH;
    SHORT type = 0;
    OLE_HANDLE handle = 0;
    RETURN_IF_FAILED(picture->get_Type(&type));
    if (type != PICTYPE_BITMAP) return DISP_E_TYPEMISMATCH;
    RETURN_IF_FAILED(picture->get_Handle(&handle));
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    DIBSECTION section{};
    const int got = GetObjectW(bitmap, sizeof(section), &section);
    if (!got) return E_INVALIDARG;
    const BITMAP& info = section.dsBm;
    received.width = info.bmWidth;
    received.height = info.bmHeight;
    const size_t count = static_cast<size_t>(info.bmWidth) * info.bmHeight;
    if (got == sizeof(DIBSECTION) && info.bmBitsPixel == 32 && info.bmBits) {
        // A 32-bit section keeps its alpha bytes, which GetDIBits need not return: read them in place.
        const bool bottomUp = section.dsBmih.biHeight > 0;
        const auto* bits = static_cast<const BYTE*>(info.bmBits);
        std::vector<DWORD> raw(count);
        for (int r = 0; r < info.bmHeight; ++r) {
            const BYTE* line = bits + static_cast<size_t>(bottomUp ? info.bmHeight - 1 - r : r) * info.bmWidthBytes;
            memcpy(&raw[static_cast<size_t>(r) * info.bmWidth], line, static_cast<size_t>(info.bmWidth) * 4);
        }
        for (DWORD px : raw)
            if (px >> 24) received.hasAlpha = true;
        for (DWORD px : raw) {
            const BYTE a = received.hasAlpha ? BYTE(px >> 24) : 255;
            auto straight = [&](DWORD c) { return BYTE(a ? std::min<DWORD>(255, (c * 255 + a / 2) / a) : 0); };
            received.pixels.push_back(RGB(straight((px >> 16) & 0xFF), straight((px >> 8) & 0xFF), straight(px & 0xFF)));
            received.alpha.push_back(a);
        }
        *out = std::move(received);
        return S_OK;
    }
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), info.bmWidth, -info.bmHeight, 1, 32, BI_RGB};
    std::vector<DWORD> raw(count);
    HDC dc = GetDC(nullptr);
    const int lines = GetDIBits(dc, bitmap, 0, info.bmHeight, raw.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (lines != info.bmHeight) return E_FAIL;
    for (DWORD px : raw) received.pixels.push_back(RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF));
    received.alpha.assign(count, 255);
    *out = std::move(received);
    return S_OK;
}

namespace {
// Keeps a picture as received and reads its pixels back.
HRESULT PutPicture(DISPPARAMS* params, ReceivedPicture* out) {
    pvl::Variant v;
    RETURN_IF_FAILED(pvl::GetPutValue(params, VT_DISPATCH, v.put()));
    return ReadPicture(v.ref().pdispVal, out);
}

}  // namespace

// --- Office ------------------------------------------------------------------------------------------

COMAddIn::COMAddIn(std::wstring progId) : HostObject(L"COMAddIn"), progId_(std::move(progId)) {}

const QITAB* COMAddIn::Interfaces() {
    static const QITAB table[] = {QITABENT(COMAddIn, IDispatch),
                                  QITABENTMULTI2(COMAddIn, pvl::host::IID_COMAddIn, IDispatch), {}};
    return table;
}

const wchar_t* COMAddIn::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_COMAddIn) ? L"COMAddIn" : nullptr;
}

std::span<const DispMember> COMAddIn::Members() const {
    static const DispMember m[] = {{L"Description", id::COMAddIn_Description},
                                   {L"ProgId", id::COMAddIn_ProgId},
                                   {L"Connect", id::COMAddIn_Connect},
                                   {L"Object", id::COMAddIn_Object}};
    return m;
}

HRESULT COMAddIn::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    switch (dispid) {
        case id::COMAddIn_ProgId:
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            RETURN_IF_FAILED(EnterGet(L"ProgId"));
            if (progIdOverridden_)
                return result ? VariantCopy(result, const_cast<VARIANT*>(&progIdOverride_.ref())) : S_OK;
            return ReturnString(progId_, result);
        case id::COMAddIn_Description:
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            RETURN_IF_FAILED(EnterGet(L"Description"));
            return ReturnString(progId_, result);
        case id::COMAddIn_Connect:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Connect", params));
                return GetPutBool(params, &connected_);
            }
            RETURN_IF_FAILED(EnterGet(L"Connect"));
            return ReturnBool(connected_, result);
        case id::COMAddIn_Object:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Object", params));
                pvl::Variant v;
                RETURN_IF_FAILED(pvl::GetPutValue(params, VT_DISPATCH, v.put()));
                object_ = v.ref().pdispVal;
                return S_OK;
            }
            RETURN_IF_FAILED(EnterGet(L"Object"));
            return ReturnObject(object_.Get(), result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

namespace {
// Every live button of the process, oldest first: Office routes a click by Tag across them all.
std::vector<CommandBarButton*>& LiveButtons() {
    static std::vector<CommandBarButton*> buttons;
    return buttons;
}
}  // namespace

CommandBarButton::CommandBarButton(CommandBarControls* owner) : EventSource(L"CommandBarButton"), owner_(owner) {
    AddEvents(pvl::host::DIID_CommandBarButtonEvents);
    LiveButtons().push_back(this);
}

CommandBarButton::~CommandBarButton() { std::erase(LiveButtons(), this); }

const QITAB* CommandBarButton::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBarButton, IDispatch),
                                  QITABENTMULTI2(CommandBarButton, pvl::host::IID_CommandBarButton, IDispatch),
                                  QITABENTMULTI2(CommandBarButton, pvl::host::IID_CommandBarControl, IDispatch),
                                  QITABENT(CommandBarButton, IConnectionPointContainer), {}};
    return table;
}

const wchar_t* CommandBarButton::HostInterfaceName(REFIID riid) const {
    if (IsEqualIID(riid, pvl::host::IID_CommandBarButton)) return L"_CommandBarButton";
    if (IsEqualIID(riid, pvl::host::IID_CommandBarControl)) return L"CommandBarControl";
    return nullptr;
}

HRESULT CommandBarButton::Click(VARIANT_BOOL* cancel) {
    VARIANT_BOOL cancelDefault = VARIANT_FALSE;
    VARIANT args[2];  // reversed: CancelDefault, then Ctrl
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancelDefault;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = static_cast<IDispatch*>(this);
    ComPtr<CommandBarButton> keep(this);
    std::vector<ComPtr<CommandBarButton>> sameTag;
    for (CommandBarButton* b : LiveButtons())
        if (b == this || (!tag_.empty() && b->tag_ == tag_)) sameTag.emplace_back(b);
    HRESULT first = S_OK;
    for (auto& b : sameTag) {
        const HRESULT hr = b->Raise(pvl::host::DIID_CommandBarButtonEvents, id::CommandBarButtonEvents_Click, args, 2);
        if (FAILED(hr) && hr != CONNECT_E_NOCONNECTION && SUCCEEDED(first)) first = hr;
    }
    if (cancel) *cancel = cancelDefault;
    return first;
}

HRESULT CommandBarButton::RaiseClick(VARIANT* argsReversed, UINT count) {
    ComPtr<CommandBarButton> keep(this);
    return Raise(pvl::host::DIID_CommandBarButtonEvents, id::CommandBarButtonEvents_Click, argsReversed, count);
}

std::span<const DispMember> CommandBarButton::Members() const {
    static const DispMember m[] = {
        {L"BeginGroup", id::Control_BeginGroup}, {L"Caption", id::Control_Caption},
        {L"Delete", id::Control_Delete},         {L"Enabled", id::Control_Enabled},
        {L"OnAction", id::Control_OnAction},     {L"Parameter", id::Control_Parameter},
        {L"Tag", id::Control_Tag},               {L"TooltipText", id::Control_TooltipText},
        {L"Visible", id::Control_Visible},       {L"FaceId", id::Button_FaceId},
        {L"State", id::Button_State},            {L"Style", id::Button_Style},
        {L"Picture", id::Button_Picture},        {L"Mask", id::Button_Mask},
    };
    return m;
}

HRESULT CommandBarButton::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    auto stringProperty = [&](const wchar_t* name, std::wstring& field) -> HRESULT {
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return GetPutString(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnString(field, result);
    };
    auto boolProperty = [&](const wchar_t* name, bool& field) -> HRESULT {
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return GetPutBool(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnBool(field, result);
    };
    auto longProperty = [&](const wchar_t* name, long& field) -> HRESULT {
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return GetPutLong(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnLong(field, result);
    };
    auto pictureProperty = [&](const wchar_t* name, ReceivedPicture& field) -> HRESULT {
        // A put, never a put-by-reference, as the host declares it.
        if (flags & DISPATCH_PROPERTYPUTREF) return DISP_E_MEMBERNOTFOUND;
        if (IsPut(flags)) {
            RETURN_IF_FAILED(EnterPut(name, params));
            return PutPicture(params, &field);
        }
        RETURN_IF_FAILED(EnterGet(name));
        return ReturnObject(field.picture.Get(), result);
    };
    switch (dispid) {
        case id::Control_Caption: return stringProperty(L"Caption", caption_);
        case id::Control_Tag: return stringProperty(L"Tag", tag_);
        case id::Control_OnAction: return stringProperty(L"OnAction", onAction_);
        case id::Control_TooltipText: return stringProperty(L"TooltipText", tooltip_);
        case id::Control_Parameter: return stringProperty(L"Parameter", parameter_);
        case id::Control_Enabled: return boolProperty(L"Enabled", enabled_);
        case id::Control_Visible: return boolProperty(L"Visible", visible_);
        case id::Control_BeginGroup: return boolProperty(L"BeginGroup", beginGroup_);
        case id::Button_Style: return longProperty(L"Style", style_);
        case id::Button_FaceId: return longProperty(L"FaceId", faceId_);
        case id::Button_State: return longProperty(L"State", state_);
        case id::Button_Picture: return pictureProperty(L"Picture", picture_);
        case id::Button_Mask: return pictureProperty(L"Mask", mask_);
        case id::Control_Delete: {
            RETURN_IF_FAILED(EnterCall(L"Delete", params));
            if (!owner_) return E_FAIL;
            ComPtr<CommandBarButton> keep(this);
            owner_->Remove(this);
            return S_OK;
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBarControls::CommandBarControls() : HostObject(L"CommandBarControls") {}

CommandBarControls::~CommandBarControls() {
    for (auto& b : buttons_) b->Orphan();
}

const QITAB* CommandBarControls::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBarControls, IDispatch),
                                  QITABENTMULTI2(CommandBarControls, pvl::host::IID_CommandBarControls, IDispatch),
                                  {}};
    return table;
}

const wchar_t* CommandBarControls::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_CommandBarControls) ? L"CommandBarControls" : nullptr;
}

void CommandBarControls::Remove(CommandBarButton* b) {
    for (auto it = buttons_.begin(); it != buttons_.end(); ++it)
        if (it->Get() == b) {
            b->Orphan();
            buttons_.erase(it);
            return;
        }
}

std::span<const DispMember> CommandBarControls::Members() const {
    static const DispMember m[] = {{L"Add", id::CommandBarControls_Add},
                                   {L"Count", id::CommandBarControls_Count},
                                   {L"Item", id::CommandBarControls_Item}};
    return m;
}

HRESULT CommandBarControls::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::CommandBarControls_Add: {
            RETURN_IF_FAILED(EnterCall(L"Add", params));
            pvl::Variant type;
            if (pvl::RawArg(params, 0)) {
                RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, type.put()));
                if (type.ref().lVal != pvl::host::msoControlButton) return E_INVALIDARG;  // only buttons are modelled
            }
            auto button = Make<CommandBarButton>(this);
            buttons_.push_back(button);
            return ReturnObject(button.Get(), result);
        }
        case id::CommandBarControls_Count:
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return ReturnLong(static_cast<long>(buttons_.size()), result);
        case id::CommandBarControls_Item: {
            RETURN_IF_FAILED(EnterGet(L"Item"));
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(buttons_.size())) return E_INVALIDARG;
            return ReturnObject(buttons_[n.ref().lVal - 1].Get(), result);
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBar::CommandBar(CommandBars* owner, std::wstring name, long position)
    : HostObject(L"CommandBar"), owner_(owner), name_(std::move(name)), position_(position),
      controls_(Make<CommandBarControls>()) {}

const QITAB* CommandBar::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBar, IDispatch),
                                  QITABENTMULTI2(CommandBar, pvl::host::IID_CommandBar, IDispatch), {}};
    return table;
}

const wchar_t* CommandBar::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_CommandBar) ? L"CommandBar" : nullptr;
}

std::span<const DispMember> CommandBar::Members() const {
    static const DispMember m[] = {{L"Controls", id::CommandBar_Controls}, {L"Delete", id::CommandBar_Delete},
                                   {L"Enabled", id::CommandBar_Enabled},   {L"Name", id::CommandBar_Name},
                                   {L"Position", id::CommandBar_Position}, {L"Visible", id::CommandBar_Visible}};
    return m;
}

HRESULT CommandBar::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    switch (dispid) {
        case id::CommandBar_Controls:
            if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
            RETURN_IF_FAILED(EnterGet(L"Controls"));
            return ReturnObject(controls_.Get(), result);
        case id::CommandBar_Delete: {
            RETURN_IF_FAILED(EnterCall(L"Delete", params));
            if (!owner_) return E_FAIL;  // already deleted
            ComPtr<CommandBar> keep(this);
            owner_->Remove(this);
            return S_OK;
        }
        case id::CommandBar_Visible:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Visible", params));
                return GetPutBool(params, &visible_);
            }
            RETURN_IF_FAILED(EnterGet(L"Visible"));
            return ReturnBool(visible_, result);
        case id::CommandBar_Enabled:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Enabled", params));
                return GetPutBool(params, &enabled_);
            }
            RETURN_IF_FAILED(EnterGet(L"Enabled"));
            return ReturnBool(enabled_, result);
        case id::CommandBar_Name:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Name", params));
                return GetPutString(params, &name_);
            }
            RETURN_IF_FAILED(EnterGet(L"Name"));
            return ReturnString(name_, result);
        case id::CommandBar_Position:
            if (IsPut(flags)) {
                RETURN_IF_FAILED(EnterPut(L"Position", params));
                return GetPutLong(params, &position_);
            }
            RETURN_IF_FAILED(EnterGet(L"Position"));
            return ReturnLong(position_, result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

CommandBars::CommandBars() : HostObject(L"CommandBars") {}

CommandBars::~CommandBars() {
    for (auto& b : bars_) b->Orphan();
}

const QITAB* CommandBars::Interfaces() {
    static const QITAB table[] = {QITABENT(CommandBars, IDispatch),
                                  QITABENTMULTI2(CommandBars, pvl::host::IID_CommandBars, IDispatch), {}};
    return table;
}

const wchar_t* CommandBars::HostInterfaceName(REFIID riid) const {
    return IsEqualIID(riid, pvl::host::IID_CommandBars) ? L"_CommandBars" : nullptr;
}

std::vector<CommandBar*> CommandBars::Named(const std::wstring& name) const {
    std::vector<CommandBar*> out;
    for (auto& b : bars_)
        if (SameText(b->BarName(), name)) out.push_back(b.Get());
    return out;
}

ComPtr<CommandBar> CommandBars::AddBar(const std::wstring& name, long position) {
    auto bar = Make<CommandBar>(this, name, position);
    bars_.push_back(bar);
    return bar;
}

void CommandBars::Remove(CommandBar* bar) {
    for (auto it = bars_.begin(); it != bars_.end(); ++it)
        if (it->Get() == bar) {
            bar->Orphan();
            bars_.erase(it);
            return;
        }
}

std::span<const DispMember> CommandBars::Members() const {
    static const DispMember m[] = {{L"Item", id::CommandBars_Item},
                                   {L"Add", id::CommandBars_Add},
                                   {L"Count", id::CommandBars_Count}};
    return m;
}

HRESULT CommandBars::InvokeMember(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result) {
    if (IsPut(flags)) return DISP_E_MEMBERNOTFOUND;
    switch (dispid) {
        case id::CommandBars_Item: {
            RETURN_IF_FAILED(Enter(L"Item", L"get", DescribeArgs(params)));
            const VARIANT* index = pvl::RawArg(params, 0);
            if (!index) return DISP_E_PARAMNOTFOUND;
            if (index->vt == VT_BSTR) {
                auto named = Named(index->bstrVal ? index->bstrVal : L"");
                if (named.empty()) return E_INVALIDARG;  // no bar of that name
                return ReturnObject(named.front(), result);
            }
            pvl::Variant n;
            RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
            if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(bars_.size())) return E_INVALIDARG;
            return ReturnObject(bars_[n.ref().lVal - 1].Get(), result);
        }
        case id::CommandBars_Add: {
            RETURN_IF_FAILED(EnterCall(L"Add", params));
            pvl::Variant name, position;
            std::wstring barName = L"Custom " + std::to_wstring(bars_.size() + 1);
            if (pvl::RawArg(params, 0)) {
                RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_BSTR, name.put()));
                barName = name.ref().bstrVal ? name.ref().bstrVal : L"";
            }
            long pos = 4;  // msoBarFloating, the host's default
            if (pvl::RawArg(params, 1)) {
                RETURN_IF_FAILED(pvl::GetArg(params, 1, VT_I4, position.put()));
                pos = position.ref().lVal;
            }
            if (!Named(barName).empty()) return E_INVALIDARG;  // the host refuses a second bar of one name
            return ReturnObject(AddBar(barName, pos).Get(), result);
        }
        case id::CommandBars_Count:
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return ReturnLong(static_cast<long>(bars_.size()), result);
    }
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace simhost
