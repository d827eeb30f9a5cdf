#include "lame_check.h"
#include "audio.h"
#include "support.h"
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <sstream>

namespace pvltest {

std::vector<int16_t> SpeechSamples() { return RawSamples32(ReadFileBytes(WindowsPathOf(Env("PVL_CAPTURE_FILE")))); }

std::vector<unsigned char> SpeechWave(double minSeconds) {
    const std::vector<int16_t> speech = SpeechSamples();
    std::vector<int16_t> samples = speech;
    while (!speech.empty() && samples.size() < minSeconds * 16000) samples.insert(samples.end(), speech.begin(), speech.end());
    return WaveFile(samples);
}

HRESULT RunLameExe(const std::wstring& exe, const std::wstring& wave, const std::wstring& mp3,
                   std::vector<unsigned char>* bytes) {
    DeleteFileW(mp3.c_str());
    std::wstring commandLine = L"\"" + exe + L"\" \"" + wave + L"\" \"" + mp3 + L"\"";
    STARTUPINFOW startup{sizeof(startup)};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return HRESULT_FROM_WIN32(GetLastError());
    pvl::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), 120000) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), 1);
        ADD_FAILURE() << "lame.exe did not end within two minutes";
        return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    *bytes = ReadFileBytes(mp3);
    return bytes->empty() ? E_FAIL : S_OK;
}

namespace {
// The length of the MPEG audio Layer III frame at `at`, or 0 when there is none.
size_t FrameLength(const std::vector<unsigned char>& b, size_t at) {
    if (at + 4 > b.size() || b[at] != 0xFF || (b[at + 1] & 0xE0) != 0xE0) return 0;
    const int version = (b[at + 1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = (b[at + 1] >> 1) & 3;    // 1 Layer III
    const int bitrateIndex = b[at + 2] >> 4, rateIndex = (b[at + 2] >> 2) & 3, padding = (b[at + 2] >> 1) & 1;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    static const int kBitrates[2][15] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
    static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const bool mpeg1 = version == 3;
    return static_cast<size_t>((mpeg1 ? 144 : 72) * kBitrates[mpeg1][bitrateIndex] * 1000 / kRates[version][rateIndex] + padding);
}
}  // namespace

Mp3Comparison CompareMp3(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    Mp3Comparison c;
    c.identical = a == b;
    const size_t tagA = FrameLength(a, 0), tagB = FrameLength(b, 0);
    c.tagFrameBytes = tagA;
    if (tagA == 0 || tagA != tagB) return c;
    for (size_t i = 0; i < tagA; ++i)
        if (a[i] != b[i]) c.tagDifferences.push_back(i);
    c.framesEqual = a.size() == b.size() && std::equal(a.begin() + tagA, a.end(), b.begin() + tagA);
    for (size_t at = tagA; at < a.size();) {
        const size_t n = FrameLength(a, at);
        if (!n) break;
        ++c.frames;
        at += n;
    }
    return c;
}

std::string Mp3Comparison::Describe() const {
    std::ostringstream s;
    if (identical) {
        s << "byte-identical, LAME/Info tag frame (" << tagFrameBytes << " bytes) included, " << frames << " audio frames";
        return s.str();
    }
    s << (framesEqual ? "audio frames equal" : "audio frames DIFFER") << " (" << frames << " frames); tag frame of "
      << tagFrameBytes << " bytes differs at " << tagDifferences.size() << " offsets:";
    for (size_t i = 0; i < tagDifferences.size() && i < 32; ++i) s << ' ' << tagDifferences[i];
    return s.str();
}

namespace {
struct Mp3Data {
    int header_parsed, stereo, samplerate, bitrate, mode, mode_ext, framesize;
    unsigned long nsamp;
    int totalframes, framenum;
};
using Hip = void*;
}  // namespace

std::vector<int16_t> DecodeMp3(const std::vector<unsigned char>& mp3, int* sampleRate) {
    *sampleRate = 0;
    std::vector<int16_t> out;
    pvl::UniqueHModule lame(LoadLibraryExW((TestFolder() + L"\\libmp3lame.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!lame) return out;
    auto init = reinterpret_cast<Hip(__cdecl*)()>(reinterpret_cast<void*>(GetProcAddress(lame.get(), "hip_decode_init")));
    auto exit = reinterpret_cast<int(__cdecl*)(Hip)>(reinterpret_cast<void*>(GetProcAddress(lame.get(), "hip_decode_exit")));
    auto decode = reinterpret_cast<int(__cdecl*)(Hip, unsigned char*, size_t, short*, short*, Mp3Data*)>(
        reinterpret_cast<void*>(GetProcAddress(lame.get(), "hip_decode1_headers")));
    if (!init || !exit || !decode) return out;
    Hip hip = init();
    if (!hip) return out;
    std::vector<unsigned char> data(mp3);
    short left[1152 * 2], right[1152 * 2];
    Mp3Data info{};
    int n = decode(hip, data.data(), data.size(), left, right, &info);
    // Fed whole, then drained a frame per call; a frame without samples (the tag frame) gives 0,
    // so only two empty answers in a row mean the end.
    for (int empty = 0, guard = 0; n >= 0 && empty < 2 && guard < 1000000; ++guard) {
        if (info.header_parsed) *sampleRate = info.samplerate;
        out.insert(out.end(), left, left + n);
        empty = n == 0 ? empty + 1 : 0;
        n = decode(hip, data.data(), 0, left, right, &info);
    }
    exit(hip);
    return out;
}

void ExpectTheSpeech(const std::vector<unsigned char>& mp3) {
    int rate = 0;
    const std::vector<int16_t> decoded = DecodeMp3(mp3, &rate);
    const std::vector<int16_t> speech = SpeechSamples();
    ASSERT_GT(decoded.size(), speech.size() / 2) << "the MP3 does not decode";
    ASSERT_EQ(rate, 16000);
    // A second of it, where the speech starts, matches sample for sample (lossy, and shifted by the
    // encoder's and decoder's delays), as the end-to-end check does with Debian's decoder.
    size_t start = 0;
    while (start < speech.size() && std::abs(speech[start]) <= 1000) ++start;
    ASSERT_LT(start + 16000, speech.size());
    const std::vector<int16_t> second(speech.begin() + start, speech.begin() + start + 16000);
    const std::vector<int16_t> heard(decoded.begin() + (std::min)(start, decoded.size()), decoded.end());
    EXPECT_GT(BestCorrelation(heard, second, second.size(), 2400), 0.8) << "the MP3 is not the speech";
    // ...and the check tells sounds apart: the same second backwards is not found.
    EXPECT_LT(BestCorrelation(heard, std::vector<int16_t>(second.rbegin(), second.rend()), second.size(), 2400), 0.5);
}

}  // namespace pvltest
