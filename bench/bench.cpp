// Benchmarks of what the add-in costs its host, through the simulated mail client. Every figure is
// the median of many runs and is printed with its ratio to an anchor measured or fixed in the same
// run:
//   - the add-in's own time on the host's user-interface thread (OnConnection, a new mail window's
//     bar, its ribbon group, Record), against one frame of a 60 Hz user interface: below 1 the user
//     cannot see it;
//   - Stop after a recording, against the encoder alone on the same wave file, started the same way
//     (hidden, same command line, waited for): the ratio approaches 1.0 when everything Stop does
//     besides waiting for the encoder is negligible, and the difference is the add-in's own time;
//   - the time Stop blocks the mail client per minute of speech, with the real LAME on a 60 s wave
//     file, against the minute itself;
//   - the module's size and what it imports, read from the built DLL.
// The audio device is a stand-in that answers at once (its "save" writes a tone of the length the
// benchmark asks for), so the figures are the add-in's and the encoder's, not the sound driver's.
#include "audio.h"
#include "addin/connect.h"
#include "about/about_window.h"
#include "common/module.h"
#include "recorder/compression.h"
#include "recorder/recording_files.h"
#include "audio/mci_backend.h"
#include "server/class_factory.h"
#include "simhost/simhost.h"
#include "simhost/ribbon.h"
#include "simhost/box_answerer.h"
#include "common/raii.h"
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using pvl::ComPtr;

constexpr double kFrameMs = 1000.0 / 60.0;

// A tone of `seconds` as a 16 kHz mono 16-bit wave file, the recording format.
std::vector<unsigned char> ToneWave(double seconds) {
    const uint32_t rate = 16000, count = uint32_t(seconds * rate);
    std::vector<int16_t> samples(count);
    // A voice-like signal: a gliding pitch with a slow swell, so the encoder has something to do.
    for (uint32_t i = 0; i < count; ++i) {
        const double t = double(i) / rate;
        const double pitch = 140 + 60 * std::sin(2 * 3.14159265 * 0.7 * t);
        const double swell = 0.5 + 0.5 * std::sin(2 * 3.14159265 * 3 * t);
        const double s = swell * (std::sin(2 * 3.14159265 * pitch * t) + 0.4 * std::sin(2 * 3.14159265 * 3 * pitch * t));
        samples[i] = int16_t(7000 * s);
    }
    return pvltest::WaveFile(samples);
}

// The test sentence (raw 16 kHz mono 32-bit samples) repeated to `seconds`, as the recording format;
// empty when there is no sentence.
std::vector<unsigned char> SpeechWave(const std::vector<unsigned char>& raw, double seconds) {
    if (raw.size() < 4) return {};
    std::vector<unsigned char> w = ToneWave(seconds);
    const size_t samples = (w.size() - 44) / 2, rawSamples = raw.size() / 4;
    for (size_t i = 0; i < samples; ++i) {
        const size_t at = 4 * (i % rawSamples) + 2;  // the upper 16 bits of each sample
        w[44 + 2 * i] = raw[at];
        w[44 + 2 * i + 1] = raw[at + 1];
    }
    return w;
}

bool WriteBytes(const std::wstring& path, const std::vector<unsigned char>& data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == data.size();
}

std::vector<unsigned char> ReadBytes(const std::wstring& path) {
    std::vector<unsigned char> data;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return data;
    LARGE_INTEGER size{};
    GetFileSizeEx(f, &size);
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!data.empty()) ReadFile(f, data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
    data.resize(read);
    CloseHandle(f);
    return data;
}

// The audio device, answering at once; "save" writes the wave the benchmark has prepared.
const std::vector<unsigned char>* g_wave = nullptr;  // what the device's "save" writes, if anything

class InstantDevice final : public pvl::MciBackend {
public:
    DWORD Send(const std::wstring& command, HWND) override {
        if (g_wave && command.rfind(L"save ", 0) == 0) {
            const size_t q = command.find(L'"');
            if (!WriteBytes(command.substr(q + 1, command.find(L'"', q + 1) - q - 1), *g_wave)) return 274;
        }
        return 0;
    }
    UINT DeviceId(const std::wstring&) override { return 1; }
    // A driver module, so that Record watches for the driver's threads as it does with winmm's.
    HMODULE DriverModule() override { return GetModuleHandleW(nullptr); }
};

// The encoder's progress report goes where the benchmark's own standard handles point when it
// starts; while it runs they point to NUL, so that the report stays readable.
class QuietChildren {
public:
    QuietChildren() {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        nul_ = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        out_ = GetStdHandle(STD_OUTPUT_HANDLE);
        err_ = GetStdHandle(STD_ERROR_HANDLE);
        if (nul_ != INVALID_HANDLE_VALUE) {
            SetStdHandle(STD_OUTPUT_HANDLE, nul_);
            SetStdHandle(STD_ERROR_HANDLE, nul_);
        }
    }
    ~QuietChildren() {
        SetStdHandle(STD_OUTPUT_HANDLE, out_);
        SetStdHandle(STD_ERROR_HANDLE, err_);
        if (nul_ != INVALID_HANDLE_VALUE) CloseHandle(nul_);
    }

private:
    HANDLE nul_, out_, err_;
};

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * double(t.QuadPart) / double(f.QuadPart);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Report(const char* what, const std::vector<double>& samples, const char* anchorName, double anchor) {
    if (samples.empty()) return;
    const double m = Median(samples);
    std::printf("%-46s median %9.3f ms  (%3zu runs, min %.3f, max %.3f)  %s %.4f\n", what, m, samples.size(),
                *std::min_element(samples.begin(), samples.end()), *std::max_element(samples.begin(), samples.end()),
                anchorName, anchor > 0 ? m / anchor : 0.0);
}

std::wstring Folder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A file named by an environment variable (a Unix path under Wine, or a Windows one), else the first
// of the candidates that exists.
std::wstring Locate(const char* variable, std::vector<std::wstring> candidates) {
    if (const char* v = std::getenv(variable); v && *v) {
        std::wstring w;
        for (const char* c = v; *c; ++c) w += static_cast<wchar_t>(*c);
        if (w[0] == L'/') {
            for (auto& c : w)
                if (c == L'/') c = L'\\';
            w = L"Z:" + w;
        }
        candidates.insert(candidates.begin(), w);
    }
    for (const auto& c : candidates)
        if (Exists(c)) return c;
    return {};
}

ComPtr<IDTExtensibility2> NewAddin() {
    ComPtr<IClassFactory> factory;
    ComPtr<IDTExtensibility2> addin;
    pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory));
    if (factory) factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin));
    return addin;
}

simhost::CommandBarButton* Button(simhost::Inspector* inspector, size_t i) {
    auto bars = inspector->Bars().Named(L"Parvaline");
    if (bars.empty() || bars.front()->Controls().Buttons().size() <= i) return nullptr;
    return bars.front()->Controls().Buttons()[i].Get();
}

// The encoder alone, started as Stop starts it: the add-in's own encoder step (the same command
// line, the program named, hidden, waited for), without the rest of Stop around it.
double EncoderAloneMs() {
    pvl::RecordingFiles files;
    if (FAILED(pvl::ResolveRecordingFiles(&files))) return -1;
    const double t0 = NowMs();
    DWORD waitResult = 0;
    if (FAILED(pvl::RunEncoder(files, &waitResult)) || waitResult != WAIT_OBJECT_0) return -1;
    return NowMs() - t0;
}

// --- The module as the host loads it ----------------------------------------------------------------

struct ModuleFacts {
    size_t bytes = 0;
    size_t withoutDebug = 0;  // the file less its debugging sections, as installed after stripping
    bool is64 = false;
    std::vector<std::pair<std::string, int>> imports;  // DLL, number of functions
};

bool ReadModule(const std::wstring& path, ModuleFacts* facts) {
    const auto image = ReadBytes(path);
    facts->bytes = image.size();
    if (image.size() < 0x200) return false;
    auto u16 = [&](size_t at) { return at + 2 <= image.size() ? uint32_t(image[at] | image[at + 1] << 8) : 0u; };
    auto u32 = [&](size_t at) { return at + 4 <= image.size() ? uint32_t(u16(at) | u16(at + 2) << 16) : 0u; };
    const size_t nt = u32(0x3C);
    if (u32(nt) != 0x00004550) return false;  // "PE\0\0"
    const size_t fileHeader = nt + 4;
    const unsigned sections = u16(fileHeader + 2);
    const size_t optional = fileHeader + 20;
    const unsigned optionalSize = u16(fileHeader + 16);
    facts->is64 = u16(optional) == 0x20B;
    const size_t directories = optional + (facts->is64 ? 112 : 96);
    const uint32_t importRva = u32(directories + 8);
    const size_t sectionTable = optional + optionalSize;
    // Names longer than eight characters ("/4") are kept in the string table after the symbols:
    // the debugging sections have such names, and so has .eh_frame, which unwinding needs.
    const size_t strings = u32(fileHeader + 8) + size_t(u32(fileHeader + 12)) * 18;
    facts->withoutDebug = u32(optional + 60);  // SizeOfHeaders
    for (unsigned i = 0; i < sections; ++i) {
        const size_t s = sectionTable + i * 40;
        std::string name;
        for (size_t c = 0; c < 8 && image[s + c]; ++c) name += char(image[s + c]);
        if (name[0] == '/') {
            const size_t at = strings + std::strtoul(name.c_str() + 1, nullptr, 10);
            name.clear();
            for (size_t c = at; c < image.size() && image[c]; ++c) name += char(image[c]);
        }
        if (name.rfind(".debug", 0) != 0) facts->withoutDebug += u32(s + 16);
    }
    auto offsetOf = [&](uint32_t rva) -> size_t {
        for (unsigned i = 0; i < sections; ++i) {
            const size_t s = sectionTable + i * 40;
            const uint32_t va = u32(s + 12), size = std::max(u32(s + 8), u32(s + 16)), raw = u32(s + 20);
            if (rva >= va && rva < va + size) return raw + (rva - va);
        }
        return 0;
    };
    for (size_t d = offsetOf(importRva); d && u32(d + 12); d += 20) {
        std::string name;
        for (size_t at = offsetOf(u32(d + 12)); at && at < image.size() && image[at]; ++at) name += char(image[at]);
        int functions = 0;
        const uint32_t thunks = u32(d) ? u32(d) : u32(d + 16);
        for (size_t t = offsetOf(thunks); t; t += facts->is64 ? 8 : 4) {
            const uint64_t entry = facts->is64 ? (uint64_t(u32(t + 4)) << 32 | u32(t)) : u32(t);
            if (!entry) break;
            ++functions;
        }
        facts->imports.emplace_back(name, functions);
    }
    return true;
}

}  // namespace

int main() {
    if (FAILED(OleInitialize(nullptr))) return 2;
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // every figure reaches the log, even from a run cut short
    // Answers the add-in's message boxes at once, as a user would, so that a Stop whose voice could not
    // be attached (the windows closed during a recording below have no wave to encode) never waits.
    simhost::MessageBoxAnswerer user({}, L"Parvaline");
    pvl::SetMciBackendFactory([] { return std::make_unique<InstantDevice>(); });
    std::printf("Parvaline benchmarks: medians; each ratio is to the anchor named beside it, in this run\n");
    std::printf("(frame = %.2f ms, one frame of a 60 Hz user interface)\n\n", kFrameMs);

    // --- The add-in's own time on the host's thread, without an encoder beside it ------------------
    std::vector<double> connectFirst, connectLater, bar, record, stopNone;
    {
        // A first add-in object is kept alive, as a host with the About window already up would: the
        // later connections then find the window and its device in place.
        for (int run = 0; run < 200; ++run) {
            simhost::Host::Get().Reset();
            auto client = simhost::Client::Create();
            auto addin = NewAddin();
            double t0 = NowMs();
            addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);
            connectFirst.push_back(NowMs() - t0);

            auto mail = client.NewMail();
            t0 = NowMs();
            auto inspector = client.Open(mail.Get());
            bar.push_back(NowMs() - t0);

            t0 = NowMs();
            Button(inspector.Get(), 1)->Click();
            record.push_back(NowMs() - t0);
            inspector->CloseWindow();
            addin.Reset();
            client.app->CloseAll();
        }
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        auto resident = NewAddin();
        resident->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);
        for (int run = 0; run < 200; ++run) {
            auto other = simhost::Client::Create();
            auto addin = NewAddin();
            const double t0 = NowMs();
            addin->OnConnection(other.app.Get(), ext_cm_Startup, other.addIn.Get(), nullptr);
            connectLater.push_back(NowMs() - t0);
            // A connection that did nothing would be quick too: make sure it did its work.
            const auto view = static_cast<pvl::Connect*>(addin.Get())->View();
            if (!view.OutlookInspectors || !view.mci) std::printf("OnConnection left the add-in unconnected\n");
            addin.Reset();
        }
        resident.Reset();
        client.app->CloseAll();
    }
    Report("OnConnection (creates the window and device)", connectFirst, "frame", kFrameMs);
    Report("OnConnection (window already there)", connectLater, "frame", kFrameMs);
    Report("new mail window: the bar and its buttons", bar, "frame", kFrameMs);
    Report("Record (device answers at once)", record, "frame", kFrameMs);

    // --- The ribbon: a mail window's ribbon loading, as Office loads it ------------------------------
    // The first window of its kind asks GetCustomUI, reads the XML, resolves the callbacks, calls
    // onLoad and then the window's first getEnabled/getImage round; a later window only that round.
    // Each run starts a fresh client so that its first window is the first of its kind.
    {
        std::vector<double> firstWindow, laterWindow;
        bool shown = true;
        for (int run = 0; run < 200; ++run) {
            simhost::Host::Get().Reset();
            auto client = simhost::Client::Create();
            auto addin = NewAddin();
            addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);
            simhost::Ribbon& ribbon = client.app->GetRibbon();
            ribbon.Attach(addin.Get(), L"pvlAddIn.Connect");
            auto mail = client.NewMail();
            double t0 = NowMs();
            auto first = client.Open(mail.Get());
            firstWindow.push_back(NowMs() - t0);
            auto other = client.NewMail();
            t0 = NowMs();
            auto second = client.Open(other.Get());
            laterWindow.push_back(NowMs() - t0);
            // A ribbon that showed nothing would be quick too: make sure both windows have the group.
            shown = shown && ribbon.Groups(first.Get()).size() == 1 && ribbon.Groups(second.Get()).size() == 1 &&
                    ribbon.Errors().empty();
            second->CloseWindow();
            first->CloseWindow();
            ribbon.Detach();
            addin.Reset();
            client.app->CloseAll();
        }
        if (!shown) std::printf("the ribbon did not show the add-in's group in every window\n");
        // What the ribbon adds to opening a window: the window's time less the bar's median.
        std::vector<double> firstAdded, laterAdded;
        for (double t : firstWindow) firstAdded.push_back(t - Median(bar));
        for (double t : laterWindow) laterAdded.push_back(t - Median(bar));
        Report("mail window and ribbon, first of its kind", firstWindow, "frame", kFrameMs);
        Report("  the ribbon's part (less the bar's median)", firstAdded, "frame", kFrameMs);
        Report("mail window and ribbon, a later one", laterWindow, "frame", kFrameMs);
        Report("  the ribbon's part (less the bar's median)", laterAdded, "frame", kFrameMs);
    }

    // --- A reply written inline in the main window ----------------------------------------------------
    // Reply in the reading pane: Outlook shows the Message tab (the group's getEnabled/getImage
    // round), raises InlineResponse (the add-in takes the reply and invalidates), and asks the group
    // again. The goal is under a tenth of a frame.
    {
        std::vector<double> reply;
        bool shown = true;
        for (int run = 0; run < 200; ++run) {
            simhost::Host::Get().Reset();
            auto client = simhost::Client::Create();
            auto addin = NewAddin();
            addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);
            simhost::Ribbon& ribbon = client.app->GetRibbon();
            ribbon.Attach(addin.Get(), L"pvlAddIn.Connect");
            auto explorer = client.MainWindow();
            auto received = client.NewReceivedMail();
            const double t0 = NowMs();
            auto mail = explorer->Reply(received.Get());
            ribbon.Update();
            reply.push_back(NowMs() - t0);
            auto record = ribbon.Button(explorer.Get(), L"pvlRecord");
            shown = shown && mail && record && record->enabled && ribbon.Errors().empty();
            explorer->DiscardInline();
            ribbon.Detach();
            addin.Reset();
            client.app->CloseAll();
        }
        if (!shown) std::printf("the main window did not show the group with Record on for the reply\n");
        Report("a reply inline: InlineResponse and the group", reply, "frame", kFrameMs);
    }

    // --- A mail window opened beside many: every window keeps its bar ---------------------------------
    {
        std::vector<double> beside;
        for (int run = 0; run < 20; ++run) {
            simhost::Host::Get().Reset();
            auto client = simhost::Client::Create();
            auto addin = NewAddin();
            addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);
            std::vector<ComPtr<simhost::Inspector>> open;
            for (int i = 0; i < 20; ++i) open.push_back(client.Open(client.NewMail().Get()));
            auto mail = client.NewMail();
            const double t0 = NowMs();
            open.push_back(client.Open(mail.Get()));
            beside.push_back(NowMs() - t0);
            for (auto& w : open) w->CloseWindow();
            addin.Reset();
            client.app->CloseAll();
        }
        Report("new mail window beside 20 open ones", beside, "first window's bar", Median(bar));
    }

    // --- Stop against the encoder alone, on the same wave file ----------------------------------------
    const std::wstring lameSource =
        Locate("PVL_LAME_EXE", {Folder() + L"\\lame.exe", Folder() + L"\\..\\lame.exe"});
    const std::wstring lame = Folder() + L"\\lame.exe";
    const bool haveLame = !lameSource.empty() && (lameSource == lame || CopyFileW(lameSource.c_str(), lame.c_str(), FALSE));
    pvl::RecordingFiles files;
    pvl::ResolveRecordingFiles(&files);
    pvl::CreateRecordingFolder(files);
    const std::wstring wavePath = files.wave;
    double blockedPerMinuteMs = 0;
    if (!haveLame) {
        std::printf("\nno lame.exe (PVL_LAME_EXE, beside the benchmark or one folder up): Stop figures left out\n");
    } else {
        const auto shortWave = ToneWave(2.0);
        const auto minuteWave = ToneWave(60.0);
        std::vector<double> stop, encoder, own;
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        auto addin = NewAddin();
        addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);
        auto mail = client.NewMail();
        auto inspector = client.Open(mail.Get());
        auto stopOnce = [&](const std::vector<unsigned char>& wave) {
            g_wave = &wave;
            Button(inspector.Get(), 1)->Click();
            const double t0 = NowMs();
            Button(inspector.Get(), 3)->Click();
            const double ms = NowMs() - t0;
            g_wave = nullptr;
            return ms;
        };
        QuietChildren quiet;
        stopOnce(shortWave);  // the first run loads what later runs find loaded
        EncoderAloneMs();
        for (int run = 0; run < 25; ++run) {
            // Interleaved, so that both see the same machine.
            const double s = stopOnce(shortWave);
            WriteBytes(wavePath, shortWave);
            const double e = EncoderAloneMs();
            stop.push_back(s);
            encoder.push_back(e);
            own.push_back(s - e);
        }
        const bool attached = !mail->GetAttachments().All().empty();
        std::printf("\n");
        Report("encoder alone, 2 s of sound (the anchor)", encoder, "encoder", Median(encoder));
        Report("Stop after 2 s of recording", stop, "encoder", Median(encoder));
        std::printf("%-46s median %9.3f ms  (Stop less the encoder, run by run)  frame %.4f\n",
                    "  the add-in's own part of Stop", Median(own), Median(own) / kFrameMs);
        std::printf("%-46s %s\n", "  the recording was attached", attached ? "yes" : "NO");

        std::vector<double> minute, minuteEncoder, minuteInProcess, inProcessAlone;
        const std::wstring speechFile = Locate("PVL_CAPTURE_FILE", {Folder() + L"\\..\\audio\\speech.raw"});
        const auto speechMinute = speechFile.empty() ? std::vector<unsigned char>{} : SpeechWave(ReadBytes(speechFile), 60.0);
        const auto& minuteSound = speechMinute.empty() ? minuteWave : speechMinute;
        const bool haveLibrary = Exists(files.library);
        for (int run = 0; run < 9; ++run) {
            // Interleaved: the program, then the library where no program may start, on the same wave.
            minute.push_back(stopOnce(minuteSound));
            WriteBytes(wavePath, minuteSound);
            minuteEncoder.push_back(EncoderAloneMs());
            if (!haveLibrary) continue;
            pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
            minuteInProcess.push_back(stopOnce(minuteSound));
            WriteBytes(wavePath, minuteSound);
            inProcessAlone.push_back(EncoderAloneMs());
            pvl::OverrideEncoderStart(ERROR_SUCCESS);
        }
        blockedPerMinuteMs = Median(minute);
        std::printf("\n");
        Report("Stop after 60 s of speech: the client blocked", minute, "minute", 60000.0);
        Report("encoder alone on the same 60 s", minuteEncoder, "minute", 60000.0);
        std::printf("%-46s %s\n", "  the sound", speechMinute.empty() ? "a voice-like tone (no test sentence found)"
                                                                       : "the test sentence, repeated");
        if (haveLibrary) {
            // Where no program may start: LAME's library in process. The ratio is to lame.exe in
            // this run; at most 1.0 is the target (no process to start).
            Report("Stop after 60 s, encoded in process", minuteInProcess, "lame.exe Stop", Median(minute));
            Report("in-process encoder alone on the same 60 s", inProcessAlone, "lame.exe alone", Median(minuteEncoder));
        } else {
            std::printf("no libmp3lame.dll beside the benchmark: the in-process figures are left out\n");
        }
        std::printf("%-46s %.2f s per minute of speech (%.1f%% of the minute)\n", "  the mail client is blocked",
                    blockedPerMinuteMs / 1000.0, blockedPerMinuteMs / 600.0);
        inspector->CloseWindow();
        addin.Reset();
        client.app->CloseAll();
        if (lameSource != lame) DeleteFileW(lame.c_str());
        DeleteFileW(files.mp3.c_str());
    }
    DeleteFileW(wavePath.c_str());

    // --- The module -------------------------------------------------------------------------------------
    const std::wstring dll = Locate("PVL_ADDIN_DLL", {Folder() + L"\\pvlAddIn.dll", Folder() + L"\\..\\pvlAddIn.dll"});
    ModuleFacts facts;
    std::printf("\n");
    if (dll.empty() || !ReadModule(dll, &facts)) {
        std::printf("no pvlAddIn.dll found (PVL_ADDIN_DLL, beside the benchmark or one folder up)\n");
    } else {
        const std::wstring lameFile = lameSource.empty() ? L"" : lameSource;
        const size_t lameBytes = lameFile.empty() ? 0 : ReadBytes(lameFile).size();
        std::printf("pvlAddIn.dll (%s): file %zu bytes (%.1f KiB); without debugging sections %zu bytes (%.1f KiB)",
                    facts.is64 ? "x64" : "x86", facts.bytes, facts.bytes / 1024.0, facts.withoutDebug,
                    facts.withoutDebug / 1024.0);
        if (lameBytes)
            std::printf("\n  without debugging sections, against lame.exe (%zu bytes) beside it: lame.exe %.4f",
                        lameBytes, double(facts.withoutDebug) / double(lameBytes));
        std::printf("\nimports (%zu DLLs):", facts.imports.size());
        for (const auto& [name, n] : facts.imports) std::printf(" %s (%d)", name.c_str(), n);
        std::printf("\n");
    }

    std::printf("\nhost objects left: %ld, advised sinks left: %ld\n", simhost::Host::Get().LiveObjects(),
                simhost::Host::Get().AdvisedSinks());
    std::printf("message boxes answered (a voice not attached: windows closed while recording nothing): %d\n",
                user.Answered());
    pvl::SetMciBackendFactory({});
    OleUninitialize();
    return 0;
}
