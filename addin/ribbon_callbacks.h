// The ribbon's callbacks as the XML names them, with the dispatch ids Connect answers them by.
#pragma once
#include "common/dispatch_impl.h"

namespace pvl {

namespace ribbon_dispid {
inline constexpr DISPID onLoad = 1;
inline constexpr DISPID onAction = 2;
inline constexpr DISPID getEnabled = 3;
inline constexpr DISPID getImage = 4;
inline constexpr DISPID getPressed = 5;
inline constexpr DISPID getLabel = 6;
inline constexpr DISPID getSupertip = 7;
inline constexpr DISPID onToggle = 8;
}  // namespace ribbon_dispid

inline constexpr DispMember kRibbonCallbacks[] = {
    {L"onLoad", ribbon_dispid::onLoad},
    {L"onAction", ribbon_dispid::onAction},
    {L"getEnabled", ribbon_dispid::getEnabled},
    {L"getImage", ribbon_dispid::getImage},
    {L"getPressed", ribbon_dispid::getPressed},
    {L"getLabel", ribbon_dispid::getLabel},
    {L"getSupertip", ribbon_dispid::getSupertip},
    {L"onToggle", ribbon_dispid::onToggle},
};

}  // namespace pvl
