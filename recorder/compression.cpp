// Inside Stop, after a recording: save the wave file, compress it with the encoder beside the
// component, wait for it, and attach the MP3 to the current mail item. Continue-on-error throughout.
#include "about/about_window.h"
#include "addin/connect.h"
#include "common/host_model.h"
#include "common/dispatch_call.h"
#include "common/module.h"
#include "common/raii.h"
#include "common/result.h"
#include "recorder/compression.h"
#include "recorder/library_encoder.h"
#include <shlwapi.h>
#include <vector>

namespace pvl {

namespace {
constexpr wchar_t kWaveSuffix[] = L"\\Parvaline.wav";
constexpr wchar_t kMp3Suffix[] = L"\\Parvaline.mp3";
constexpr wchar_t kEncoderSuffix[] = L"\\lame.exe";
constexpr wchar_t kAttachmentName[] = L"Parvaline.mp3";
constexpr wchar_t kCompressingCaption[] = L"Compressing, wait...";

HRESULT DeviceControl(ComPtr<IDispatch>* control) {
    AboutWindow* about = nullptr;
    RETURN_IF_FAILED(frmAbout(&about));
    if (!about->mci()) return E_POINTER;
    *control = about->mci();
    return S_OK;
}

HRESULT SetWaveFileName() {
    ComPtr<IDispatch> control;
    RETURN_IF_FAILED(DeviceControl(&control));
    std::wstring wave;
    RETURN_IF_FAILED(ComponentPath(kWaveSuffix, &wave));
    RETURN_IF_FAILED(PutProperty(control.Get(), mci_dispid::FileName, Variant(wave.c_str())));
    return S_OK;
}

HRESULT SetCaption(IDispatch* button, const wchar_t* caption) {
    return PutProperty(button, host::dispid::Control_Caption, Variant(caption));
}

HRESULT Attachments(IDispatch* mailItem, ComPtr<IDispatch>* attachments) {
    return GetObjectProperty(mailItem, host::dispid::MailItem_Attachments, attachments);
}

HRESULT DeleteAttachment(IDispatch* attachment) {
    Variant ignored;
    return CallMethod(attachment, host::dispid::Attachment_Delete, ignored.put());
}

// The earlier voice attachment, asked for by name.
HRESULT DeleteAttachmentNamed(IDispatch* attachments) {
    ComPtr<IDispatch> earlier;
    Variant result;
    RETURN_IF_FAILED(ObjectResult(
        CallMethod(attachments, host::dispid::Attachments_Item, result.put(), Variant(kAttachmentName)), result, &earlier));
    return DeleteAttachment(earlier.Get());
}

bool IsVoiceAttachment(IDispatch* attachment) {
    for (DISPID name : {host::dispid::Attachment_FileName, host::dispid::Attachment_DisplayName}) {
        Variant value;
        if (SUCCEEDED(GetProperty(attachment, name, value.put())) && value.vt() == VT_BSTR)
            return CompareStringOrdinal(value.ref().bstrVal ? value.ref().bstrVal : L"", -1, kAttachmentName, -1,
                                        TRUE) == CSTR_EQUAL;
    }
    return false;
}

// Item with a name matches the collection's default property, and the host documents none for an
// attachment: where the name finds nothing, every attachment is looked at by its file name (then
// its display name). From the last to the first, since each deletion renumbers those after it.
HRESULT DeleteAttachmentsByFileName(IDispatch* attachments) {
    Variant count;
    RETURN_IF_FAILED(GetProperty(attachments, host::dispid::Attachments_Count, count.put()));
    Variant n;
    RETURN_IF_FAILED(VariantChangeType(n.get(), count.get(), 0, VT_I4));
    HRESULT outcome = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    for (long i = n.ref().lVal; i >= 1; --i) {
        ComPtr<IDispatch> attachment;
        Variant result;
        if (FAILED(ObjectResult(CallMethod(attachments, host::dispid::Attachments_Item, result.put(), Variant(i)),
                                result, &attachment)))
            continue;
        if (IsVoiceAttachment(attachment.Get())) outcome = DeleteAttachment(attachment.Get());
    }
    return outcome;
}
}  // namespace

HRESULT EncoderCommandLine(std::wstring* commandLine) {
    // Three folder queries, one per piece. The two files are quoted. The program path is quoted
    // only when it holds a space: unquoted, the encoder's own argument parsing would split it
    // and take its pieces for the input and output files.
    std::wstring encoder, wave, mp3;
    RETURN_IF_FAILED(ComponentPath(kEncoderSuffix, &encoder));
    RETURN_IF_FAILED(ComponentPath(kWaveSuffix, &wave));
    RETURN_IF_FAILED(ComponentPath(kMp3Suffix, &mp3));
    std::vector<wchar_t> program(encoder.begin(), encoder.end());
    program.resize(program.size() + 3, L'\0');  // room for the quotes
    PathQuoteSpacesW(program.data());
    *commandLine = std::wstring(program.data()) + L" \"" + wave + L"\" \"" + mp3 + L"\"";
    return S_OK;
}

namespace {
DWORD g_timeoutOverride = 0;
DWORD g_startFailure = ERROR_SUCCESS;
}

void OverrideEncoderTimeout(DWORD ms) { g_timeoutOverride = ms; }

void OverrideEncoderStart(DWORD error) { g_startFailure = error; }

std::wstring NotAttachedMessage(const std::wstring& wavePath) { return kNotAttachedText + wavePath; }

DWORD EncoderTimeoutMs(const std::wstring& wavePath) {
    if (g_timeoutOverride) return g_timeoutOverride;
    // Generous: two minutes, plus four seconds per second of sound (the encoder needs a small
    // fraction of that). Only an encoder that hangs ever reaches it.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ULONGLONG bytes = 0;
    if (GetFileAttributesExW(wavePath.c_str(), GetFileExInfoStandard, &data))
        bytes = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const ULONGLONG bytesPerSecond = kRecordSampleRate * kRecordChannels * kRecordBitsPerSample / 8;
    const ULONGLONG ms = 120000 + bytes * 4000 / bytesPerSecond;
    return static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF);
}

HRESULT RunEncoder(DWORD* waitResult) {
    *waitResult = WAIT_FAILED;
    std::wstring commandLine, encoder, wave, mp3;
    RETURN_IF_FAILED(EncoderCommandLine(&commandLine));
    RETURN_IF_FAILED(ComponentPath(kEncoderSuffix, &encoder));
    RETURN_IF_FAILED(ComponentPath(kWaveSuffix, &wave));
    RETURN_IF_FAILED(ComponentPath(kMp3Suffix, &mp3));

    // An MP3 from an earlier recording must not stand in for this one if the encoding fails.
    if (!DeleteFileW(mp3.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return LastErrorResult();

    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    // The program is named explicitly: with an unquoted path that holds spaces, the system would
    // otherwise try each space-separated prefix ("D:\Mail.exe" for "D:\Mail Tools") first.
    // CREATE_NO_WINDOW: a console program's console would otherwise flash up despite SW_HIDE.
    BOOL started = FALSE;
    if (g_startFailure != ERROR_SUCCESS) {
        SetLastError(g_startFailure);
    } else {
        started = CreateProcessW(encoder.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &process);
    }
    if (!started) {
        // Policy (an attack-surface rule, AppLocker) may forbid the mail program to start any
        // program, or the encoder may be missing or damaged: the same library, in process.
        *waitResult = WAIT_OBJECT_0;
        return EncodeInProcess(wave, mp3, EncoderTimeoutMs(wave));
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);

    // The user-interface thread blocks here by design: the host waits for its attachment.
    *waitResult = WaitForSingleObject(processHandle.get(), EncoderTimeoutMs(wave));
    if (*waitResult != WAIT_OBJECT_0) {
        // A hung encoder: end it, and leave nothing half-written to be attached.
        TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
        WaitForSingleObject(processHandle.get(), 10000);
        DeleteFileW(mp3.c_str());
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    return S_OK;
}

HRESULT Connect::CompressAndAttach() {
    Guarded(SetWaveFileName());
    Guarded([] {
        ComPtr<IDispatch> control;
        RETURN_IF_FAILED(DeviceControl(&control));
        return PutProperty(control.Get(), mci_dispid::Command, Variant(L"save"));
    }());
    Guarded(SetCaption(ButtonPVL.get(), kCompressingCaption));
    const HRESULT encoded = [] {
        DWORD waitResult;
        return RunEncoder(&waitResult);
    }();
    Guarded(encoded);
    Guarded(SetCaption(ButtonPVL.get(), L""));
    // The attachment of an earlier recording in this item goes first, so the item keeps one.
    Guarded([&] {
        ComPtr<IDispatch> attachments;
        RETURN_IF_FAILED(Attachments(RecordingMailItem.Get(), &attachments));
        if (SUCCEEDED(DeleteAttachmentNamed(attachments.Get()))) return S_OK;
        return DeleteAttachmentsByFileName(attachments.Get());
    }());
    const HRESULT attached = [&] {
        // When the encoder did not run to its end, whatever is at the MP3 path is not this
        // recording: an earlier MP3 that could not be removed (read-only, or held open by
        // another program) would otherwise go out as this one.
        RETURN_IF_FAILED(encoded);
        ComPtr<IDispatch> attachments;
        RETURN_IF_FAILED(Attachments(RecordingMailItem.Get(), &attachments));
        std::wstring mp3;
        RETURN_IF_FAILED(ComponentPath(kMp3Suffix, &mp3));
        Variant ignored;
        return CallMethod(attachments.Get(), host::dispid::Attachments_Add, ignored.put(), Variant(mp3.c_str()));
    }();
    Guarded(attached);
    if (FAILED(attached)) {
        // Said out loud: a mail that silently lacks its voice reads as one that carries it. The
        // recording itself is still beside the component, and the box says where.
        Guarded([] {
            std::wstring wave;
            RETURN_IF_FAILED(ComponentPath(kWaveSuffix, &wave));
            if (MessageBoxW(nullptr, NotAttachedMessage(wave).c_str(), L"Parvaline", MB_OK | MB_TASKMODAL) == 0)
                return LastErrorResult();
            return S_OK;
        }());
    }
    return attached;
}

}  // namespace pvl
