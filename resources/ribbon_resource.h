// Resource ids of the ribbon's customisation: the XML for a mail being written and for the main
// window (a reply written in its reading pane). Its pictures are drawn at run time for the window's
// DPI (addin/ribbon_pictures.cpp).
#pragma once

#define IDR_RIBBON_COMPOSE 301
#define IDR_RIBBON_EXPLORER 302

#ifndef RC_INVOKED
// The callback names ribbon_compose.xml and ribbon_explorer.xml use: the add-in's IDispatch must resolve every one of them.
inline constexpr const wchar_t* kRibbonComposeCallbacks[] = {L"onLoad",     L"onAction", L"onToggle",   L"getEnabled",
                                                             L"getImage",   L"getLabel", L"getPressed", L"getSupertip"};
#endif
