// Resource ids of the ribbon's customisation: the XML for a mail being written and for the main
// window (a reply written in its reading pane), and the pictures
// of its buttons (32 x 32 for the large buttons, 16 x 16 for the product button), all with alpha.
#pragma once

#define IDR_RIBBON_COMPOSE 301
#define IDR_RIBBON_EXPLORER 302

#define IDB_RIBBON_PRODUCT 201
#define IDB_RIBBON_RECORD 202
#define IDB_RIBBON_PLAY 203
#define IDB_RIBBON_STOP 205
#define IDB_RIBBON_PRODUCT_SMALL 211

#ifndef RC_INVOKED
// The callback names ribbon_compose.xml and ribbon_explorer.xml use: the add-in's IDispatch must resolve every one of them.
inline constexpr const wchar_t* kRibbonComposeCallbacks[] = {L"onLoad",     L"onAction", L"onToggle",   L"getEnabled",
                                                             L"getImage",   L"getLabel", L"getPressed", L"getSupertip"};
#endif
