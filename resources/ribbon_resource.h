// Resource ids of the ribbon's customisation: the XML for a mail being written. Its pictures are
// drawn at run time for the window's DPI (addin/ribbon_pictures.cpp).
#pragma once

#define IDR_RIBBON_COMPOSE 301

#ifndef RC_INVOKED
// The callback names ribbon_compose.xml uses: the add-in's IDispatch must resolve every one of them.
inline constexpr const wchar_t* kRibbonComposeCallbacks[] = {L"onLoad", L"onAction", L"getEnabled", L"getImage"};
#endif
