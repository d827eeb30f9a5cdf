// Office's objects in the simulated mail client: the add-in's COMAddIn and the command bars.
#pragma once
#include "simhost/host_object.h"

namespace simhost {

class CommandBar;
class CommandBarButton;
class CommandBars;
class CommandBarControls;

class COMAddIn : public HostObject {
public:
    explicit COMAddIn(std::wstring progId);
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Makes ProgId answer `v` instead of the text (bad-input tests).
    void OverrideProgId(const VARIANT& v) { progIdOverride_.CopyFrom(v); progIdOverridden_ = true; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::wstring progId_;
    pvl::Variant progIdOverride_;
    bool progIdOverridden_ = false;
    bool connected_ = true;
    ComPtr<IDispatch> object_;
};

// A picture as the host received it, with its pixels read back.
struct ReceivedPicture {
    ComPtr<IDispatch> picture;
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;  // row 0 at the top; the colour before premultiplication
    std::vector<BYTE> alpha;       // per pixel; 255 throughout for a picture without alpha
    bool hasAlpha = false;         // a 32-bit picture whose alpha bytes are not all zero
    COLORREF At(int row, int column) const { return pixels[row * width + column]; }
    BYTE AlphaAt(int row, int column) const { return alpha[row * width + column]; }
    explicit operator bool() const { return picture != nullptr; }
};

// Reads a bitmap picture's pixels back (an IPictureDisp holding a bitmap); anything else is
// DISP_E_TYPEMISMATCH.
HRESULT ReadPicture(IDispatch* picture, ReceivedPicture* out);

class CommandBarButton : public EventSource {
public:
    explicit CommandBarButton(CommandBarControls* owner);
    ~CommandBarButton();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Clicks the button as the user does. As in Office, Click is raised on every button that carries
    // the same Tag (in any window, oldest first), each time with this button as Ctrl; a button
    // without a Tag raises it on itself only. Returns the first failure a handler returned;
    // *cancel gets CancelDefault.
    HRESULT Click(VARIANT_BOOL* cancel = nullptr);
    // Raises Click with arbitrary arguments (bad-input tests).
    HRESULT RaiseClick(VARIANT* argsReversed, UINT count);
    std::wstring Caption() const { return caption_; }
    std::wstring Tag() const { return tag_; }
    std::wstring OnAction() const { return onAction_; }
    bool Enabled() const { return enabled_; }
    bool Visible() const { return visible_; }
    long Style() const { return style_; }
    const ReceivedPicture& Picture() const { return picture_; }
    const ReceivedPicture& Mask() const { return mask_; }
    void Orphan() { owner_ = nullptr; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    CommandBarControls* owner_;
    std::wstring caption_, tag_, onAction_, tooltip_, parameter_;
    bool enabled_ = true, visible_ = true, beginGroup_ = false;
    long style_ = 0, faceId_ = 0, state_ = 0;
    ReceivedPicture picture_, mask_;
};

class CommandBarControls : public HostObject {
public:
    CommandBarControls();
    ~CommandBarControls();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::vector<ComPtr<CommandBarButton>>& Buttons() const { return buttons_; }
    void Remove(CommandBarButton* b);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<CommandBarButton>> buttons_;
};

class CommandBar : public HostObject {
public:
    CommandBar(CommandBars* owner, std::wstring name, long position);
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::wstring& BarName() const { return name_; }
    long Position() const { return position_; }
    bool Visible() const { return visible_; }
    CommandBarControls& Controls() { return *controls_.Get(); }
    void Orphan() { owner_ = nullptr; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    CommandBars* owner_;
    std::wstring name_;
    long position_;
    bool visible_ = false, enabled_ = true;
    ComPtr<CommandBarControls> controls_;
};

class CommandBars : public HostObject {
public:
    CommandBars();
    ~CommandBars();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::vector<ComPtr<CommandBar>>& All() const { return bars_; }
    // The bars with this name.
    std::vector<CommandBar*> Named(const std::wstring& name) const;
    // Adds a bar without logging (for test set-up, e.g. a bar left from an earlier session).
    ComPtr<CommandBar> AddBar(const std::wstring& name, long position);
    void Remove(CommandBar* bar);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<CommandBar>> bars_;
};

// The whole simulated client: its application object and the add-in object the host knows it by.

}  // namespace simhost
