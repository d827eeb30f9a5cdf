// The component's identity: the ids by which Windows, the registry and the host know it.
#pragma once
#include <windows.h>
#include "recorder/recorder_state.h"

namespace pvl {

// {50654119-3BF3-4A45-97E1-C2E11656C8F5}
inline constexpr GUID LIBID_pvlAddIn = {0x50654119, 0x3BF3, 0x4A45, {0x97, 0xE1, 0xC2, 0xE1, 0x16, 0x56, 0xC8, 0xF5}};
// {1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}
inline constexpr CLSID CLSID_Connect = {0x1F5FCC6B, 0x98CC, 0x46BB, {0xA0, 0xBB, 0x57, 0x60, 0xC2, 0x0E, 0x56, 0x52}};
// {255541DA-B966-4395-8B9C-20BC485F6CF1}
inline constexpr IID IID__Connect = {0x255541DA, 0xB966, 0x4395, {0x8B, 0x9C, 0x20, 0xBC, 0x48, 0x5F, 0x6C, 0xF1}};
// {DB6CB211-AD78-4071-B5BE-76B0719F5173}
inline constexpr GUID GUID_pvlStates = {0xDB6CB211, 0xAD78, 0x4071, {0xB5, 0xBE, 0x76, 0xB0, 0x71, 0x9F, 0x51, 0x73}};

inline constexpr wchar_t kProgId[] = L"pvlAddIn.Connect";

}  // namespace pvl
