// Checks on MP3s for the encoder tests: the speech as a wave file, lame.exe run on it as a
// reference, a frame-by-frame comparison of two MP3s, and decoding with LAME's own decoder.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace pvltest {

// The test sentence (PVL_CAPTURE_FILE) as a 16 kHz mono 16-bit wave file, repeated until it lasts
// at least `minSeconds`.
std::vector<unsigned char> SpeechWave(double minSeconds = 0);
std::vector<int16_t> SpeechSamples();

// Runs lame.exe on `wave` into `mp3` as Stop starts it (no options), waits up to two minutes.
HRESULT RunLameExe(const std::wstring& exe, const std::wstring& wave, const std::wstring& mp3,
                   std::vector<unsigned char>* bytes);

struct Mp3Comparison {
    bool identical = false;       // every byte
    bool framesEqual = false;     // every audio frame after the LAME/Info tag frame
    size_t frames = 0;            // audio frames compared
    size_t tagFrameBytes = 0;     // the tag frame's length
    std::vector<size_t> tagDifferences;  // offsets inside the tag frame where the two differ
    std::string Describe() const;
};
Mp3Comparison CompareMp3(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b);

// Decodes with the decoder in LAME's library beside the tests; empty when it cannot.
std::vector<int16_t> DecodeMp3(const std::vector<unsigned char>& mp3, int* sampleRate);
// The MP3 decodes at 16 kHz to the test sentence.
void ExpectTheSpeech(const std::vector<unsigned char>& mp3);

}  // namespace pvltest
