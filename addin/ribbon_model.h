// Office's ribbon as the add-in and the host see it: the three interfaces of the Fluent UI
// extensibility model, their ids and dispatch ids, the ribbon ids of Outlook's mail windows and the
// customUI namespaces. Office asks the add-in object for IRibbonExtensibility and calls GetCustomUI
// through the vtable; the callbacks the XML names are called late-bound through the add-in's
// IDispatch. IRibbonUI and IRibbonControl are dual: the add-in may use either face.
#pragma once
#include <windows.h>
#include <oaidl.h>

MIDL_INTERFACE("000C0396-0000-0000-C000-000000000046")
IRibbonExtensibility : public IDispatch {
public:
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};
__CRT_UUID_DECL(IRibbonExtensibility, 0x000C0396, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

MIDL_INTERFACE("000C03A7-0000-0000-C000-000000000046")
IRibbonUI : public IDispatch {
public:
    virtual HRESULT STDMETHODCALLTYPE Invalidate() = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTab(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR ControlID, BSTR Namespace) = 0;
};
__CRT_UUID_DECL(IRibbonUI, 0x000C03A7, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

MIDL_INTERFACE("000C0395-0000-0000-C000-000000000046")
IRibbonControl : public IDispatch {
public:
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* Id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** Context) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* Tag) = 0;
};
__CRT_UUID_DECL(IRibbonControl, 0x000C0395, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)

namespace pvl::host {

inline constexpr IID IID_IRibbonExtensibility = {0x000C0396, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IRibbonUI = {0x000C03A7, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IRibbonControl = {0x000C0395, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace dispid {
inline constexpr DISPID RibbonExtensibility_GetCustomUI = 1;
inline constexpr DISPID RibbonUI_Invalidate = 1;
inline constexpr DISPID RibbonUI_InvalidateControl = 2;
inline constexpr DISPID RibbonUI_InvalidateControlMso = 3;
inline constexpr DISPID RibbonUI_ActivateTab = 4;
inline constexpr DISPID RibbonUI_ActivateTabMso = 5;
inline constexpr DISPID RibbonUI_ActivateTabQ = 6;
inline constexpr DISPID RibbonControl_Id = 1;
inline constexpr DISPID RibbonControl_Context = 2;
inline constexpr DISPID RibbonControl_Tag = 3;
}  // namespace dispid

// The ribbon ids Outlook passes to GetCustomUI for its item windows.
inline constexpr wchar_t kRibbonMailCompose[] = L"Microsoft.Outlook.Mail.Compose";
inline constexpr wchar_t kRibbonMailRead[] = L"Microsoft.Outlook.Mail.Read";
inline constexpr wchar_t kRibbonContact[] = L"Microsoft.Outlook.Contact";
// The main window's ribbon, asked for once at start-up; a reply written inline in its reading pane
// shows its commands on the contextual tab set TabComposeTools, tab TabMessage.
inline constexpr wchar_t kRibbonExplorer[] = L"Microsoft.Outlook.Explorer";

// customUI namespaces: Office 2010 and later, and Office 2007's (which later versions still read).
inline constexpr wchar_t kCustomUiNamespace2009[] = L"http://schemas.microsoft.com/office/2009/07/customui";
inline constexpr wchar_t kCustomUiNamespace2006[] = L"http://schemas.microsoft.com/office/2006/01/customui";

}  // namespace pvl::host
