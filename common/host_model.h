// The host's object model as the add-in uses it: interface ids, event interfaces and dispatch ids of
// the Outlook and Office type libraries. Host objects are called late-bound through IDispatch with
// these ids; the interface ids are used to test what an object is.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace pvl::host {

// Outlook
inline constexpr IID IID_Application = {0x00063001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Inspectors = {0x00063008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Inspector = {0x00063005, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_MailItem = {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Attachments = {0x0006303C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Attachment = {0x00063007, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_InspectorsEvents = {0x00063079, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_InspectorEvents = {0x0006307D, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_InspectorEvents_10 = {0x0006302A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_ItemEvents_10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The main window (Explorer) and its collection; replies written in its reading pane (Outlook 2013+).
inline constexpr IID IID_Explorers = {0x0006300A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_Explorer = {0x00063003, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_ExplorersEvents = {0x00063078, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_ExplorerEvents_10 = {0x0006300F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Office
inline constexpr IID IID_CommandBars = {0x000C0302, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBar = {0x000C0304, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarControls = {0x000C0306, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarControl = {0x000C0308, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_CommandBarButton = {0x000C030E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID DIID_CommandBarButtonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_COMAddIn = {0x000C033A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace dispid {
// Outlook
inline constexpr DISPID Application_ActiveExplorer = 0x111;
inline constexpr DISPID Application_Explorers = 0x119;
inline constexpr DISPID Application_Inspectors = 0x11A;
inline constexpr DISPID Explorers_Count = 0x50;
inline constexpr DISPID Explorers_Item = 0x51;
inline constexpr DISPID Explorers_Add = 0x5F;
inline constexpr DISPID Explorer_CommandBars = 0x2100;
inline constexpr DISPID Explorer_Close = 0x2103;
inline constexpr DISPID Explorer_Selection = 0x2202;
inline constexpr DISPID Explorer_ActiveInlineResponse = 0xFC93;
inline constexpr DISPID Explorer_ActiveInlineResponseWordEditor = 0xFC94;
inline constexpr DISPID Inspectors_Count = 0x50;
inline constexpr DISPID Inspectors_Item = 0x51;
inline constexpr DISPID Inspector_CommandBars = 0x2100;
inline constexpr DISPID Inspector_CurrentItem = 0x2102;
inline constexpr DISPID Inspector_Close = 0x2103;
inline constexpr DISPID Item_Class = 0xF00A;
inline constexpr DISPID MailItem_Send = 0xF075;
inline constexpr DISPID MailItem_Attachments = 0xF815;
inline constexpr DISPID Attachments_Count = 0x50;
inline constexpr DISPID Attachments_Item = 0x51;
inline constexpr DISPID Attachments_Remove = 0x54;
inline constexpr DISPID Attachments_Add = 0x65;
inline constexpr DISPID Attachment_Delete = 0x69;
inline constexpr DISPID Attachment_DisplayName = 0x3001;
inline constexpr DISPID Attachment_FileName = 0x3704;
// Outlook events
inline constexpr DISPID InspectorsEvents_NewInspector = 0xF001;
inline constexpr DISPID InspectorEvents_Close = 0xF008;
inline constexpr DISPID ItemEvents_Close = 0xF004;
inline constexpr DISPID ItemEvents_Send = 0xF005;
inline constexpr DISPID ExplorersEvents_NewExplorer = 0xF001;
inline constexpr DISPID ExplorerEvents_Activate = 0xF001;
inline constexpr DISPID ExplorerEvents_Close = 0xF008;
// InlineResponseClose has no argument in the type library (Microsoft's page shows one; none is read).
inline constexpr DISPID ExplorerEvents_InlineResponse = 0xFC92;
inline constexpr DISPID ExplorerEvents_InlineResponseClose = 0xFC96;

// Office
inline constexpr DISPID CommandBars_Item = 0;
inline constexpr DISPID CommandBars_Add = 0x60030002;
inline constexpr DISPID CommandBars_Count = 0x60030003;
inline constexpr DISPID CommandBar_Controls = 0x60040003;
inline constexpr DISPID CommandBar_Delete = 0x60040004;
inline constexpr DISPID CommandBar_Enabled = 0x60040005;
inline constexpr DISPID CommandBar_Name = 0x6004000E;
inline constexpr DISPID CommandBar_Position = 0x60040013;
inline constexpr DISPID CommandBar_Visible = 0x6004001E;
inline constexpr DISPID CommandBarControls_Add = 0x60030000;
inline constexpr DISPID CommandBarControls_Count = 0x60030001;
inline constexpr DISPID CommandBarControls_Item = 0;
inline constexpr DISPID Control_BeginGroup = 0x60040000;
inline constexpr DISPID Control_Caption = 0x60040003;
inline constexpr DISPID Control_Delete = 0x60040007;
inline constexpr DISPID Control_Enabled = 0x6004000A;
inline constexpr DISPID Control_Id = 0x60040013;
inline constexpr DISPID Control_OnAction = 0x6004001A;
inline constexpr DISPID Control_Parameter = 0x6004001D;
inline constexpr DISPID Control_Tag = 0x60040023;
inline constexpr DISPID Control_TooltipText = 0x60040025;
inline constexpr DISPID Control_Visible = 0x60040029;
inline constexpr DISPID Button_FaceId = 0x60050003;
inline constexpr DISPID Button_State = 0x60050008;
inline constexpr DISPID Button_Style = 0x6005000A;
inline constexpr DISPID Button_Picture = 0x6005000E;
inline constexpr DISPID Button_Mask = 0x60050010;
// Office events
inline constexpr DISPID CommandBarButtonEvents_Click = 1;
// COMAddIn
inline constexpr DISPID COMAddIn_Description = 0;
inline constexpr DISPID COMAddIn_ProgId = 3;
inline constexpr DISPID COMAddIn_Connect = 6;
inline constexpr DISPID COMAddIn_Object = 7;
}  // namespace dispid

// Office enumerations
inline constexpr long msoBarTop = 1;
inline constexpr long msoControlButton = 1;
inline constexpr long msoButtonIconAndCaption = 3;
// Outlook item classes
inline constexpr long olMail = 43;
inline constexpr long olContact = 40;
inline constexpr long olExplorer = 34;
inline constexpr long olInspector = 35;

}  // namespace pvl::host
