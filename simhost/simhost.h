// The simulated mail client: real COM objects with the host's interface ids, dispatch ids and
// connection-point events, standing in for Outlook and Office in tests, benchmarks and the demo.
//
// Besides the object model it offers what a test needs to see into the add-in's behaviour:
//   - a log of every call the add-in makes on a host object, in order, with its arguments;
//   - fault injection: any named operation ("Inspector.CurrentItem", "CommandBars.Add",
//     "Application.QueryInterface", ...) can be made to fail with a chosen HRESULT;
//   - counts of live host objects and of advised event sinks, so a test can prove that nothing is
//     left behind when the add-in is released.
// Everything runs on the calling thread, which must be a single-threaded apartment.
#pragma once
#include "simhost/host_object.h"
#include "simhost/office.h"
#include "simhost/outlook.h"
#include "simhost/ribbon.h"

namespace simhost {

// A client as it is when add-ins connect: the application with one main window (an explorer) open.
struct Client {
    ComPtr<Application> app;
    ComPtr<COMAddIn> addIn;
    static Client Create(const wchar_t* progId = L"pvlAddIn.Connect");
    ComPtr<MailItem> NewMail();
    ComPtr<MailItem> NewReceivedMail();
    ComPtr<ContactItem> NewContact();
    ComPtr<Inspector> Open(IDispatch* item, HWND window = nullptr) { return app->GetInspectors().Open(item, window); }
    // The main window the client starts with (Outlook's exists when add-ins connect); null once closed.
    ComPtr<Explorer> MainWindow() const {
        auto& all = app->GetExplorers().All();
        return all.empty() ? nullptr : all.front();
    }
    // Another main window, as the user opens one (NewExplorer is raised).
    ComPtr<Explorer> OpenExplorer() { return app->GetExplorers().Open(); }
};

}  // namespace simhost
