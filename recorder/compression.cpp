// After a recording: the encoder, run hidden from the component's folder and waited for, and the
// MP3 attached to the recording's own mail in place of its earlier voice attachment.
#include "recorder/compression.h"
#include "audio/mci_control.h"
#include "common/dispatch_call.h"
#include "common/host_model.h"
#include "common/raii.h"
#include "common/result.h"
#include "recorder/library_encoder.h"
#include <shlwapi.h>
#include <vector>

namespace pvl {

namespace {
constexpr wchar_t kAttachmentName[] = L"Parvaline.mp3";
bool IsVoiceAttachment(IDispatch* attachment) {
    for (DISPID name : {host::dispid::Attachment_FileName, host::dispid::Attachment_DisplayName}) {
        Variant value;
        if (SUCCEEDED(GetProperty(attachment, name, value.put())) && value.vt() == VT_BSTR)
            return CompareStringOrdinal(value.ref().bstrVal ? value.ref().bstrVal : L"", -1, kAttachmentName, -1,
                                        TRUE) == CSTR_EQUAL;
    }
    return false;
}

void Remember(std::vector<ComPtr<IDispatch>>* found, IDispatch* attachment) {
    for (auto& f : *found)
        if (SameObject(f.Get(), attachment)) return;
    found->emplace_back(attachment);
}

// The mail's voice attachments as they are before the new one is added: the one the host finds by
// its name, and every one whose file name (or display name) is the voice's. Item with a name matches
// the collection's default property, and the host documents none for an attachment, so the name
// may find nothing; and a mail may hold more than one (added by hand, or by another program).
std::vector<ComPtr<IDispatch>> EarlierVoices(IDispatch* attachments) {
    std::vector<ComPtr<IDispatch>> found;
    Guarded([&] {
        ComPtr<IDispatch> named;
        Variant result;
        RETURN_IF_FAILED(ObjectResult(
            CallMethod(attachments, host::dispid::Attachments_Item, result.put(), Variant(kAttachmentName)), result,
            &named));
        Remember(&found, named.Get());
        return S_OK;
    }());
    Guarded([&] {
        Variant count, n;
        RETURN_IF_FAILED(GetProperty(attachments, host::dispid::Attachments_Count, count.put()));
        RETURN_IF_FAILED(VariantChangeType(n.get(), count.get(), 0, VT_I4));
        for (long i = 1; i <= n.ref().lVal; ++i) {
            ComPtr<IDispatch> attachment;
            Variant result;
            if (SUCCEEDED(ObjectResult(CallMethod(attachments, host::dispid::Attachments_Item, result.put(), Variant(i)),
                                       result, &attachment)) &&
                IsVoiceAttachment(attachment.Get()))
                Remember(&found, attachment.Get());
        }
        return S_OK;
    }());
    return found;
}
}  // namespace

std::wstring EncoderCommandLine(const RecordingFiles& files) {
    // The two files are quoted. The program path is quoted only when it holds a space: unquoted,
    // the encoder's own argument parsing would split it and take its pieces for the input and
    // output files.
    std::vector<wchar_t> program(files.encoder.begin(), files.encoder.end());
    program.resize(program.size() + 3, L'\0');  // room for the quotes
    PathQuoteSpacesW(program.data());
    return std::wstring(program.data()) + L" \"" + files.wave + L"\" \"" + files.mp3 + L"\"";
}

namespace {
DWORD g_timeoutOverride = 0;
DWORD g_startFailure = ERROR_SUCCESS;
}

void OverrideEncoderTimeout(DWORD ms) { g_timeoutOverride = ms; }

void OverrideEncoderStart(DWORD error) { g_startFailure = error; }

std::wstring NotAttachedMessage(const std::wstring& wavePath) {
    // The box names the recording only where there is one to find.
    if (GetFileAttributesW(wavePath.c_str()) == INVALID_FILE_ATTRIBUTES) return kLostText;
    return kNotAttachedText + wavePath;
}

DWORD EncoderTimeoutMs(const std::wstring& wavePath) {
    if (g_timeoutOverride) return g_timeoutOverride;
    // LAME needs well under a hundredth of a second per second of sound: ten seconds, plus a quarter
    // of a second per second of sound, is reached only by an encoder that hangs, and keeps the mail
    // program from freezing for long even then.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ULONGLONG bytes = 0;
    if (GetFileAttributesExW(wavePath.c_str(), GetFileExInfoStandard, &data))
        bytes = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const ULONGLONG bytesPerSecond = kRecordSampleRate * kRecordChannels * kRecordBitsPerSample / 8;
    const ULONGLONG ms = 10000 + bytes * 250 / bytesPerSecond;
    return static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF);
}

namespace {
// Whether the encoder left an MP3 with something in it.
bool HasContent(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0);
}

// Runs lame.exe hidden and waits for it, bounded. S_OK only when it ended by itself with exit code 0
// and left an MP3 with something in it; otherwise whatever it wrote is removed.
HRESULT RunEncoderProgram(const RecordingFiles& files, DWORD* waitResult) {
    const std::wstring commandLine = EncoderCommandLine(files);
    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    // The program is named explicitly: with an unquoted path that holds spaces, the system would
    // otherwise try each space-separated prefix ("D:\Mail.exe" for "D:\Mail Tools") first.
    // CREATE_NO_WINDOW: a console program's console would otherwise flash up despite SW_HIDE.
    if (g_startFailure != ERROR_SUCCESS) return HRESULT_FROM_WIN32(g_startFailure);
    if (!CreateProcessW(files.encoder.c_str(), buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return LastErrorResult();
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);

    // The user-interface thread blocks here by design: the host waits for its attachment.
    *waitResult = WaitForSingleObject(processHandle.get(), EncoderTimeoutMs(files.wave));
    HRESULT outcome = S_OK;
    if (*waitResult != WAIT_OBJECT_0) {
        // A hung encoder: end it.
        TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
        WaitForSingleObject(processHandle.get(), 10000);
        outcome = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    } else {
        // A full disk or a crash mid-encode leaves a truncated MP3 behind, and says so only here.
        DWORD exitCode = 1;
        if (!GetExitCodeProcess(processHandle.get(), &exitCode)) outcome = LastErrorResult();
        else if (exitCode != 0) outcome = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0300 + (exitCode & 0xFF));
        else if (!HasContent(files.mp3)) outcome = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    if (FAILED(outcome)) DeleteFileW(files.mp3.c_str());  // nothing half-written may be attached
    return outcome;
}
}  // namespace

HRESULT RunEncoder(const RecordingFiles& files, DWORD* waitResult) {
    *waitResult = WAIT_FAILED;
    // An MP3 from an earlier recording must not stand in for this one if the encoding fails.
    if (!DeleteFileW(files.mp3.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return LastErrorResult();
    if (SUCCEEDED(RunEncoderProgram(files, waitResult))) return S_OK;
    // The program may not start (an attack-surface rule or AppLocker forbids the mail program to
    // start programs), be missing or damaged, or fail on its way: the same library, in process,
    // under a bound of its own.
    *waitResult = WAIT_OBJECT_0;
    const HRESULT encoded = EncodeInProcess(files.library, files.wave, files.mp3, EncoderTimeoutMs(files.wave));
    if (SUCCEEDED(encoded) && HasContent(files.mp3)) return S_OK;
    DeleteFileW(files.mp3.c_str());
    return FAILED(encoded) ? encoded : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT AttachVoice(IDispatch* mailItem, const std::wstring& mp3Path) {
    ComPtr<IDispatch> attachments;
    RETURN_IF_FAILED(GetObjectProperty(mailItem, host::dispid::MailItem_Attachments, &attachments));
    // The new voice goes in before the earlier ones go out: a mail that refuses the new one keeps
    // the voice it had.
    const std::vector<ComPtr<IDispatch>> earlier = EarlierVoices(attachments.Get());
    Variant added;
    RETURN_IF_FAILED(CallMethod(attachments.Get(), host::dispid::Attachments_Add, added.put(), Variant(mp3Path.c_str())));
    for (const auto& attachment : earlier) {
        Variant ignored;
        Guarded(CallMethod(attachment.Get(), host::dispid::Attachment_Delete, ignored.put()));
    }
    return S_OK;
}

}  // namespace pvl
