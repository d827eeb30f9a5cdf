// Reading wave files and comparing sounds, for the tests that record through the real device.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace pvltest {

struct Wave {
    bool valid = false;
    unsigned formatTag = 0, channels = 0, sampleRate = 0, bitsPerSample = 0;
    std::vector<int16_t> samples;  // the first channel
    double Seconds() const { return sampleRate ? double(samples.size()) / sampleRate : 0; }
};

Wave ParseWave(const std::vector<unsigned char>& bytes);
// Samples as a wave file in the recording format: 16 kHz, mono, 16-bit PCM.
std::vector<unsigned char> WaveFile(const std::vector<int16_t>& samples);
// Raw 32-bit little-endian samples (the capture device's format), scaled to 16 bits.
std::vector<int16_t> RawSamples32(const std::vector<unsigned char>& bytes);
double Rms(const std::vector<int16_t>& s, size_t from = 0, size_t count = SIZE_MAX);
// The best normalized correlation of `a` against `reference`, over shifts of up to `maxLag` samples
// either way, across `length` samples. 1 is the same sound.
double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& reference, size_t length,
                       size_t maxLag, long* lagOut = nullptr);

// How much of `recording` is `reference`, in order: the recording is cut into short windows and each
// window with sound is looked for in the reference, a little ahead of where the previous one was
// found (a capture may drop blocks, never reorder them). Returns the share of windows found with a
// correlation above 0.9, over the windows heard before the reference ran out.
double MatchedShare(const std::vector<int16_t>& recording, const std::vector<int16_t>& reference,
                    size_t window = 160, size_t maxSkip = 2400, size_t maxWindows = 200);

}  // namespace pvltest
