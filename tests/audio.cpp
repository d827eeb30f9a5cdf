#include "audio.h"
#include <cmath>
#include <cstring>

namespace pvltest {

namespace {
uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t U16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
}  // namespace

std::vector<unsigned char> WaveFile(const std::vector<int16_t>& samples) {
    const uint32_t rate = 16000, bytes = static_cast<uint32_t>(samples.size() * 2);
    std::vector<unsigned char> w;
    w.reserve(44 + bytes);
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) w.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    put(36 + bytes, 4);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4), put(1, 2), put(1, 2), put(rate, 4), put(rate * 2, 4), put(2, 2), put(16, 2);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    put(bytes, 4);
    for (int16_t s : samples) put(static_cast<uint16_t>(s), 2);
    return w;
}

Wave ParseWave(const std::vector<unsigned char>& b) {
    Wave w;
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) return w;
    size_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= b.size()) {
        const uint32_t size = U32(&b[at + 4]);
        const unsigned char* body = &b[at + 8];
        const size_t available = std::min<size_t>(size, b.size() - at - 8);
        if (!std::memcmp(&b[at], "fmt ", 4) && available >= 16) {
            w.formatTag = U16(body);
            w.channels = U16(body + 2);
            w.sampleRate = U32(body + 4);
            w.bitsPerSample = U16(body + 14);
            haveFormat = true;
        } else if (!std::memcmp(&b[at], "data", 4) && haveFormat && w.bitsPerSample == 16 && w.channels) {
            const size_t frames = available / (2 * w.channels);
            for (size_t i = 0; i < frames; ++i) w.samples.push_back(int16_t(U16(body + i * 2 * w.channels)));
            w.valid = true;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}

std::vector<int16_t> RawSamples32(const std::vector<unsigned char>& b) {
    std::vector<int16_t> s(b.size() / 4);
    for (size_t i = 0; i < s.size(); ++i) s[i] = int16_t(int32_t(U32(&b[4 * i])) >> 16);
    return s;
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t count) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = from; i < s.size() && n < count; ++i, ++n) sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / n) : 0;
}

double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& ref, size_t length, size_t maxLag,
                       long* lagOut) {
    double best = 0;
    long bestLag = 0;
    for (long lag = -long(maxLag); lag <= long(maxLag); lag += 1) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < length; ++i) {
            const long j = long(i) + lag;
            if (j < 0 || size_t(j) >= a.size() || i >= ref.size()) continue;
            ab += double(a[j]) * ref[i];
            aa += double(a[j]) * a[j];
            bb += double(ref[i]) * ref[i];
        }
        if (aa > 0 && bb > 0) {
            const double r = ab / std::sqrt(aa * bb);
            if (r > best) {
                best = r;
                bestLag = lag;
            }
        }
    }
    if (lagOut) *lagOut = bestLag;
    return best;
}

namespace {
// The best correlation of rec[recAt, recAt + window) with ref, over ref starts in [from, to].
double BestMatch(const std::vector<int16_t>& rec, size_t recAt, const std::vector<int16_t>& ref, size_t from,
                 size_t to, size_t window, size_t* bestAt) {
    double best = 0;
    for (size_t at = from; at <= to && at + window <= ref.size(); ++at) {
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < window; ++i) {
            ab += double(rec[recAt + i]) * ref[at + i];
            aa += double(rec[recAt + i]) * rec[recAt + i];
            bb += double(ref[at + i]) * ref[at + i];
        }
        const double r = (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0;
        if (r > best) {
            best = r;
            *bestAt = at;
        }
    }
    return best;
}
}  // namespace

double MatchedShare(const std::vector<int16_t>& rec, const std::vector<int16_t>& ref, size_t window, size_t maxSkip,
                    size_t maxWindows) {
    size_t matched = 0, heard = 0, refAt = 0;
    for (size_t recAt = 0; recAt + window <= rec.size() && refAt + window <= ref.size() && heard < maxWindows;
         recAt += window) {
        if (Rms(rec, recAt, window) < 200) continue;  // silence carries no evidence either way
        ++heard;
        size_t at = refAt;
        double best = BestMatch(rec, recAt, ref, refAt, refAt + maxSkip, window, &at);
        if (best <= 0.9) best = BestMatch(rec, recAt, ref, refAt, ref.size(), window, &at);  // a longer gap
        if (best > 0.9) {
            ++matched;
            refAt = at + window;
        }
    }
    return heard ? double(matched) / heard : 0;
}

}  // namespace pvltest
