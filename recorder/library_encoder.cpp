// LAME's library driven as lame.exe drives it for "lame.exe in.wav out.mp3": the same settings, the
// samples handed over in the same form, the same tags, the LAME/Info frame written over the first
// frame at the end. Anything else would make the two encoders' MP3s differ for the same recording.
#include "recorder/library_encoder.h"
#include "common/raii.h"
#include "common/result.h"
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace pvl {

namespace {

using lame_t = struct lame_global_struct*;
using ReportFn = void(*)(const char*, va_list);

// The library's entry points that the encoding needs (LAME's lame.h; cdecl, the compiler's default).
struct LameApi {
    lame_t(* init)();
    int(* close)(lame_t);
    void(* id3tagInit)(lame_t);
    int(* setMsgf)(lame_t, ReportFn);
    int(* setErrorf)(lame_t, ReportFn);
    int(* setDebugf)(lame_t, ReportFn);
    int(* setNumChannels)(lame_t, int);
    int(* setInSamplerate)(lame_t, int);
    int(* setNumSamples)(lame_t, unsigned long);
    int(* setFindReplayGain)(lame_t, int);
    void(* setWriteId3tagAutomatic)(lame_t, int);
    int(* initParams)(lame_t);
    int(* getFramesize)(const lame_t);
    int(* getMaximumNumberOfSamples)(lame_t, size_t);
    size_t(* getId3v2Tag)(lame_t, unsigned char*, size_t);
    int(* encodeBufferInt)(lame_t, const int*, const int*, int, unsigned char*, int);
    int(* encodeFlush)(lame_t, unsigned char*, int);
    size_t(* getId3v1Tag)(lame_t, unsigned char*, size_t);
    size_t(* getLametagFrame)(const lame_t, unsigned char*, size_t);
};

struct Import {
    const char* name;
    void (*bind)(LameApi&, FARPROC);
};

template <auto Member>
void BindTo(LameApi& api, FARPROC proc) {
    using Fn = std::remove_reference_t<decltype(api.*Member)>;
    api.*Member = reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

constexpr Import kImports[] = {
    {"lame_init", BindTo<&LameApi::init>},
    {"lame_close", BindTo<&LameApi::close>},
    {"id3tag_init", BindTo<&LameApi::id3tagInit>},
    {"lame_set_msgf", BindTo<&LameApi::setMsgf>},
    {"lame_set_errorf", BindTo<&LameApi::setErrorf>},
    {"lame_set_debugf", BindTo<&LameApi::setDebugf>},
    {"lame_set_num_channels", BindTo<&LameApi::setNumChannels>},
    {"lame_set_in_samplerate", BindTo<&LameApi::setInSamplerate>},
    {"lame_set_num_samples", BindTo<&LameApi::setNumSamples>},
    {"lame_set_findReplayGain", BindTo<&LameApi::setFindReplayGain>},
    {"lame_set_write_id3tag_automatic", BindTo<&LameApi::setWriteId3tagAutomatic>},
    {"lame_init_params", BindTo<&LameApi::initParams>},
    {"lame_get_framesize", BindTo<&LameApi::getFramesize>},
    {"lame_get_maximum_number_of_samples", BindTo<&LameApi::getMaximumNumberOfSamples>},
    {"lame_get_id3v2_tag", BindTo<&LameApi::getId3v2Tag>},
    {"lame_encode_buffer_int", BindTo<&LameApi::encodeBufferInt>},
    {"lame_encode_flush", BindTo<&LameApi::encodeFlush>},
    {"lame_get_id3v1_tag", BindTo<&LameApi::getId3v1Tag>},
    {"lame_get_lametag_frame", BindTo<&LameApi::getLametagFrame>},
};

// lame.exe's output buffer: LAME_MAXMP3BUFFER (16384 + LAME_MAXALBUMART). Its size also sets how
// many samples go into one call, as in lame.exe.
constexpr size_t kMp3BufferSize = 16384 + 128 * 1024;
// lame.exe's "unknown length" (MAX_U_32_NUM), for a data chunk that does not say.
constexpr unsigned long kUnknownLength = 0xFFFFFFFFul;
constexpr uint16_t kPcmFormat = 1;  // WAVE_FORMAT_PCM

void Quiet(const char*, va_list) {}

// The library, loaded from the component folder by its full path: never a DLL of that name found
// through the search order (the current folder, PATH). Its own imports come from its folder and the
// system folder only.
HRESULT LoadLame(const std::wstring& path, UniqueHModule* module, LameApi* api) {
    module->reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!*module && GetLastError() == ERROR_INVALID_PARAMETER)  // Windows 7 without KB2533623
        module->reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!*module) return LastErrorResult();
    for (const Import& import : kImports) {
        const FARPROC proc = GetProcAddress(module->get(), import.name);
        if (!proc) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        import.bind(*api, proc);
    }
    return S_OK;
}

// A 16-bit PCM wave file as lame.exe reads one: its format, and its samples as the library's int
// input (each sample in the upper 16 bits), interleaved.
struct WaveInput {
    int channels = 0, sampleRate = 0;
    unsigned long frames = kUnknownLength;
    std::vector<int> samples;
};

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

HRESULT ReadFileWhole(const std::wstring& path, std::vector<unsigned char>* bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return LastErrorResult();
    LARGE_INTEGER size{};
    RETURN_IF_FAILED(BoolResult(GetFileSizeEx(file.get(), &size)));
    if (size.QuadPart > 0x7FFFFFFF) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes->empty()) RETURN_IF_FAILED(BoolResult(ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr)));
    bytes->resize(read);
    return S_OK;
}

HRESULT ReadWave(const std::wstring& path, WaveInput* wave) {
    std::vector<unsigned char> bytes;
    RETURN_IF_FAILED(ReadFileWhole(path, &bytes));
    const HRESULT notAWave = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    if (bytes.size() < 12 || Le32(&bytes[0]) != 0x46464952 /* RIFF */ || Le32(&bytes[8]) != 0x45564157 /* WAVE */)
        return notAWave;
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const uint32_t id = Le32(&bytes[at]), size = Le32(&bytes[at + 4]);
        const size_t body = at + 8;
        if (id == 0x20746D66 /* "fmt " */) {
            if (size < 16 || body + 16 > bytes.size()) return notAWave;
            const uint16_t format = Le16(&bytes[body]), channels = Le16(&bytes[body + 2]);
            const uint16_t bits = Le16(&bytes[body + 14]);
            // What the recorder writes; anything else is not this product's recording.
            if (format != kPcmFormat || bits != 16 || channels < 1 || channels > 2) return notAWave;
            wave->channels = channels;
            wave->sampleRate = static_cast<int>(Le32(&bytes[body + 4]));
            haveFormat = true;
        } else if (id == 0x61746164 /* "data" */) {
            if (!haveFormat) return notAWave;
            const size_t frameBytes = 2u * wave->channels;
            // A data chunk longer than the file holds what the file holds; lame.exe reads to its end.
            const size_t available = (bytes.size() - body) / frameBytes * frameBytes;
            const size_t used = size == kUnknownLength || size > available ? available : size / frameBytes * frameBytes;
            if (size != kUnknownLength) wave->frames = size / frameBytes;
            wave->samples.resize(used / 2);
            for (size_t i = 0; i < wave->samples.size(); ++i)
                wave->samples[i] = static_cast<int>(static_cast<uint32_t>(Le16(&bytes[body + 2 * i])) << 16);
            return S_OK;
        }
        at = body + size + (size & 1);
        if (at < body) break;  // a size that wraps around
    }
    return notAWave;
}

class Session {
public:
    explicit Session(const LameApi& api) : api_(api), gf_(api.init()) {}
    ~Session() {
        if (gf_) api_.close(gf_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    lame_t get() const { return gf_; }

private:
    const LameApi& api_;
    lame_t gf_;
};

HRESULT WriteAll(HANDLE file, const unsigned char* data, size_t size) {
    DWORD written = 0;
    RETURN_IF_FAILED(BoolResult(WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr)));
    return written == size ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

HRESULT Encode(const LameApi& api, const WaveInput& wave, HANDLE out, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    const HRESULT libraryFailed = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    Session session(api);
    lame_t gf = session.get();
    if (!gf) return E_OUTOFMEMORY;
    // lame.exe's own order: reports, argument defaults (ID3 fields, ReplayGain on), the input's
    // format from its header, no automatic ID3 tag, then the parameters.
    api.setMsgf(gf, Quiet);
    api.setErrorf(gf, Quiet);
    api.setDebugf(gf, Quiet);
    api.id3tagInit(gf);
    api.setFindReplayGain(gf, 1);
    api.setNumChannels(gf, 2);
    if (api.setNumChannels(gf, wave.channels) < 0 || api.setInSamplerate(gf, wave.sampleRate) < 0) return libraryFailed;
    api.setNumSamples(gf, wave.frames);
    api.setWriteId3tagAutomatic(gf, 0);
    if (api.initParams(gf) < 0) return libraryFailed;

    std::vector<unsigned char> mp3(kMp3BufferSize);
    const size_t tagSize = api.getId3v2Tag(gf, nullptr, 0);
    if (tagSize > 0) {
        std::vector<unsigned char> tag(tagSize);
        RETURN_IF_FAILED(WriteAll(out, tag.data(), api.getId3v2Tag(gf, tag.data(), tag.size())));
    }
    const int inLimit = (std::max)(api.getMaximumNumberOfSamples(gf, mp3.size()), 1);
    const int frameSize = api.getFramesize(gf);
    if (frameSize < 1 || frameSize > 1152) return libraryFailed;

    // lame.exe reads one frame's worth of samples at a time, and hands the channels over apart.
    std::vector<int> left(frameSize), right(frameSize);
    const size_t total = wave.samples.size() / wave.channels;
    for (size_t done = 0; done < total;) {
        if (GetTickCount64() - start > timeoutMs) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        const int count = static_cast<int>((std::min)(total - done, static_cast<size_t>(frameSize)));
        for (int i = 0; i < count; ++i) {
            const size_t at = (done + i) * wave.channels;
            left[i] = wave.samples[at];
            right[i] = wave.channels == 2 ? wave.samples[at + 1] : 0;
        }
        for (int offset = 0; offset < count;) {
            const int chunk = (std::min)(count - offset, inLimit);
            const int bytes = api.encodeBufferInt(gf, left.data() + offset, right.data() + offset, chunk, mp3.data(),
                                                  static_cast<int>(mp3.size()));
            if (bytes < 0) return libraryFailed;
            RETURN_IF_FAILED(WriteAll(out, mp3.data(), bytes));
            offset += chunk;
        }
        done += count;
    }
    const int last = api.encodeFlush(gf, mp3.data(), static_cast<int>(mp3.size()));
    if (last < 0) return libraryFailed;
    RETURN_IF_FAILED(WriteAll(out, mp3.data(), last));
    unsigned char id3v1[128];
    const size_t id3v1Size = api.getId3v1Tag(gf, id3v1, sizeof(id3v1));
    if (id3v1Size > 0 && id3v1Size <= sizeof(id3v1)) RETURN_IF_FAILED(WriteAll(out, id3v1, id3v1Size));
    // The LAME/Info frame replaces the first frame, which the library left silent for it.
    const size_t tagFrame = api.getLametagFrame(gf, mp3.data(), mp3.size());
    if (tagFrame > 0 && tagFrame <= mp3.size()) {
        LARGE_INTEGER offset{};
        offset.QuadPart = static_cast<LONGLONG>(tagSize);
        RETURN_IF_FAILED(BoolResult(SetFilePointerEx(out, offset, nullptr, FILE_BEGIN)));
        RETURN_IF_FAILED(WriteAll(out, mp3.data(), tagFrame));
    }
    return S_OK;
}

}  // namespace

HRESULT EncodeInProcess(const std::wstring& libraryPath, const std::wstring& wavePath, const std::wstring& mp3Path,
                        DWORD timeoutMs) {
    PVL_COM_TRY
    UniqueHModule module;
    LameApi api{};
    RETURN_IF_FAILED(LoadLame(libraryPath, &module, &api));
    WaveInput wave;
    RETURN_IF_FAILED(ReadWave(wavePath, &wave));
    HRESULT hr;
    {
        UniqueFile out(CreateFileW(mp3Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!out) return LastErrorResult();
        hr = [&]() -> HRESULT {
            PVL_COM_TRY
            return Encode(api, wave, out.get(), timeoutMs);
            PVL_COM_CATCH
        }();
    }
    // Half an MP3 must not be attached, nor stand in for the next recording.
    if (FAILED(hr)) DeleteFileW(mp3Path.c_str());
    return hr;
    PVL_COM_CATCH
}

}  // namespace pvl
