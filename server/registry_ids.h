// The names under which the component is registered, as registry text. Shared by the registration
// table (server/registry_entries.inc) and the code that removes what it wrote.
#pragma once

#define PVL_LIBID L"{50654119-3BF3-4A45-97E1-C2E11656C8F5}"
#define PVL_CLSID L"{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}"
#define PVL_IID L"{255541DA-B966-4395-8B9C-20BC485F6CF1}"
#define PVL_PROGID L"pvlAddIn.Connect"
#define PVL_CLASSES L"Software\\Classes\\"
#define PVL_ADDIN_KEY L"Software\\Microsoft\\Office\\Outlook\\Addins\\" PVL_PROGID
// The type library's target, as LoadTypeLib looks it up; it follows the module's.
#ifdef _WIN64
#define PVL_TLB_PLATFORM L"win64"
#else
#define PVL_TLB_PLATFORM L"win32"
#endif
