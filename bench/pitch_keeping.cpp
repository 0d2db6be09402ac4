// SPDX-License-Identifier: GPL-3.0-or-later

// How the receive path keeps the rig's audio whole and its pitch true, against what Debian packages
// for the same jobs, measured offline on synthetic stereo: a tone a channel at -6 dBFS (700 Hz left
// and 1900 Hz right, and the same pair a little off), and a band of ten 8-FSK signals a channel
// like a digital-mode sub-band. Prints Markdown tables.
//
//   A. Lost datagrams filled in: silence, the LossConcealer, and spandsp's plc (G.711 Appendix I
//      style pitch-period repetition), at 48 kHz and at the 8 kHz spandsp is designed for.
//   B. Latency given back at constant pitch: the RingReader's splices, SoundTouch (WSOLA), Rubber
//      Band (phase vocoder, both engines), and resampling at a ratio off by what is given back.
//
//   bench_pitch_keeping [--runs N] [--part A|B|AB]    CPU figures: the median of N runs (5)

#include "lossconcealer.h"
#include "playoutring.h"
#include "resampler.h"
#include "ringreader.h"

#include <fftw3.h>
#include <rubberband/RubberBandStretcher.h>
#include <soundtouch/SoundTouch.h>
#include <spandsp.h>
#include <spandsp/version.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

// Heap allocations counted while a method runs past its warm-up, as a real-time audio thread must
// make none: every allocation of the program and of the libraries it links goes through these, to
// glibc's own functions underneath.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}

namespace {

std::atomic<bool> countingAllocations{false};
std::atomic<long> allocationCount{0};

void counted() {
    if (countingAllocations.load(std::memory_order_relaxed))
        allocationCount.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" {
void* malloc(std::size_t size) noexcept {
    counted();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    counted();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
    counted();
    return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    counted();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    counted();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** p, std::size_t alignment, std::size_t size) noexcept {
    counted();
    *p = __libc_memalign(alignment, size);
    return *p != nullptr ? 0 : ENOMEM;
}
void free(void* p) noexcept {
    __libc_free(p);
}
}

namespace {

using Audio = std::vector<std::int16_t>; // interleaved stereo

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr double kLevel = 16384.0; // -6 dBFS
constexpr std::array<double, kChannels> kToneHz = {700.0, 1900.0};
// Both of those are whole multiples of 100 Hz: a seam of 10 ms joins them perfectly. A CW signal
// is tuned anywhere, so the same pair a little off, with no short common period.
constexpr std::array<double, kChannels> kOddToneHz = {701.7, 1903.3};
// The host's datagrams (10.7 ms at 48 kHz; the same stretches of time at another rate), each
// lost with this chance; and the card's cycle.
constexpr int kDatagramFrames = 512;
constexpr double kLossChance = 0.01;
constexpr double kCycleSeconds = 0.01;
// The band: ten signals a channel, each on one of eight tones 6.25 Hz apart for each 160-ms
// symbol (FT8's), their lowest tones from 300 Hz 256.25 Hz apart (the highest tone at 2650 Hz).
constexpr int kEmitters = 10;
constexpr int kTones = 8;
constexpr double kSymbolSeconds = 0.16;
constexpr int kFirstBaseBin = 48;
constexpr int kBaseBinStep = 41;
constexpr std::uint64_t kBandSeed = 20240601;
constexpr std::uint64_t kLossSeed = 7;

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double quantile(std::vector<double> values, double q) {
    if (values.empty())
        return NAN;
    const auto at = values.begin() + static_cast<long>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

double median(std::vector<double> values) {
    return quantile(std::move(values), 0.5);
}

double uniform(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

std::int16_t toSample(double value) {
    return static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

std::int64_t framesOf(double seconds, int rate) {
    return std::llround(seconds * rate);
}

// ---- Signals ----

// One FSK signal: its lowest tone (in 6.25 Hz steps), where its symbol clock starts, its phase
// (in 1/symbol of a turn) and its symbols, symbol k starting at offset + (k - 1) symbols.
struct Emitter {
    int baseBin = 0;
    int offset = 0;
    int phase = 0;
    std::vector<std::uint8_t> symbols;
};

// Independent on the two channels (their own symbols and symbol clocks), as a rig with two
// receivers gives: the splices are judged on both channels at once, the harder case. A symbol is
// a whole number of turns of each tone, so a signal's phase runs on across its symbols.
struct Band {
    int symbolFrames = 0;
    std::array<std::array<Emitter, kEmitters>, kChannels> emitters;

    std::int64_t symbolAt(const Emitter& e, std::int64_t n) const {
        return (n - e.offset + symbolFrames) / symbolFrames;
    }
    std::int64_t startOf(const Emitter& e, std::int64_t k) const {
        return e.offset + (k - 1) * symbolFrames;
    }
};

// The same band at any rate that is a multiple of 8 kHz: clocks and phases drawn at 8 kHz.
Band makeBand(int rate, double seconds) {
    constexpr int kCoarse = 1280; // a symbol at 8 kHz
    std::mt19937_64 rng(kBandSeed);
    Band band;
    band.symbolFrames = static_cast<int>(framesOf(kSymbolSeconds, rate));
    const int scale = band.symbolFrames / kCoarse;
    for (int c = 0; c < kChannels; ++c) {
        for (int e = 0; e < kEmitters; ++e) {
            Emitter& emitter = band.emitters[std::size_t(c)][std::size_t(e)];
            emitter.baseBin = kFirstBaseBin + kBaseBinStep * e;
            emitter.offset = static_cast<int>(rng() % kCoarse) * scale;
            emitter.phase = static_cast<int>(rng() % kCoarse) * scale;
            emitter.symbols.resize(std::size_t(seconds / kSymbolSeconds) + 3);
            for (auto& s : emitter.symbols)
                s = static_cast<std::uint8_t>(rng() % kTones);
        }
    }
    return band;
}

Audio synthBand(const Band& band, std::int64_t frames) {
    const int n = band.symbolFrames;
    std::vector<double> sine(std::size_t(n), 0.0);
    for (int i = 0; i < n; ++i)
        sine[std::size_t(i)] = std::sin(2 * M_PI * i / n);
    const double amplitude = kLevel / kEmitters;
    std::vector<double> sum(std::size_t(kChannels * frames), 0.0);
    for (int c = 0; c < kChannels; ++c) {
        for (const Emitter& e : band.emitters[std::size_t(c)]) {
            for (std::int64_t k = 0; band.startOf(e, k) < frames; ++k) {
                const int bin = e.baseBin + e.symbols[std::size_t(k)];
                const std::int64_t start = band.startOf(e, k);
                for (std::int64_t i = std::max<std::int64_t>(start, 0);
                     i < std::min(frames, start + n); ++i)
                    sum[std::size_t(kChannels * i + c)] +=
                        amplitude * sine[std::size_t((bin * (i - start) + e.phase) % n)];
            }
        }
    }
    Audio out(sum.size());
    for (std::size_t i = 0; i < sum.size(); ++i)
        out[i] = toSample(sum[i]);
    return out;
}

// The signals measured: a tone a channel, or the FSK band.
struct Signal {
    const char* name;
    bool band;
    std::array<double, kChannels> hz;
};

const std::array<Signal, 3> kSignals = {{{"700 Hz left, 1900 Hz right", false, kToneHz},
                                         {"701.7 Hz left, 1903.3 Hz right", false, kOddToneHz},
                                         {"the FSK band", true, {}}}};

Audio synthTones(int rate, std::int64_t frames, const std::array<double, kChannels>& hz) {
    Audio out(std::size_t(kChannels * frames));
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < kChannels; ++c)
            out[std::size_t(kChannels * i + c)] = toSample(
                kLevel * std::sin(2 * M_PI * hz[std::size_t(c)] * static_cast<double>(i) / rate));
    return out;
}

// ---- Measures ----

// What is left of a channel over [from, to) once the best-fitting sinusoid of `hz` is taken out,
// and the whole (energies).
void fitTone(const Audio& x, int c, double hz, int rate, std::int64_t from, std::int64_t to,
             double& residual, double& total) {
    const std::complex<double> step = std::polar(1.0, 2 * M_PI * hz / rate);
    std::complex<double> z = std::polar(1.0, 2 * M_PI * hz * static_cast<double>(from) / rate);
    double xc = 0, xs = 0, cc = 0, ss = 0, cs = 0, xx = 0;
    for (std::int64_t i = from; i < to; ++i, z *= step) {
        const double v = x[std::size_t(kChannels * i + c)];
        xc += v * z.real();
        xs += v * z.imag();
        cc += z.real() * z.real();
        ss += z.imag() * z.imag();
        cs += z.real() * z.imag();
        xx += v * v;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    residual = std::max(xx - (a * xc + b * xs), 1e-9);
    total = xx;
}

// THD+N of a channel over [from, to): what is left once the best-fitting sinusoid of `hz` is
// taken out, against the whole, in dB.
double thdN(const Audio& x, int c, double hz, int rate, std::int64_t from, std::int64_t to) {
    double residual = 0, total = 0;
    fitTone(x, c, hz, rate, from, to, residual, total);
    return 10 * std::log10(residual / total);
}

// The same at the frequency within 0.6 % of `near` that fits best (a pitch moved by resampling
// included): on a 1-Hz grid, then by golden section.
double thdNAtBest(const Audio& x, int c, double near, int rate, std::int64_t from,
                  std::int64_t to) {
    auto left = [&](double hz) {
        double residual = 0, total = 0;
        fitTone(x, c, hz, rate, from, to, residual, total);
        return residual;
    };
    double best = near;
    for (double hz = near * 0.994; hz <= near * 1.006; hz += 1.0)
        best = left(hz) < left(best) ? hz : best;
    constexpr double kGolden = 0.6180339887;
    double low = best - 1.0, high = best + 1.0;
    for (int i = 0; i < 16; ++i) {
        const double a = high - kGolden * (high - low), b = low + kGolden * (high - low);
        if (left(a) < left(b))
            high = b;
        else
            low = a;
    }
    return thdN(x, c, 0.5 * (low + high), rate, from, to);
}

// Stretches of 10 ms (at every 1-ms step) where either channel plays below a tenth of the level
// the loss-free audio has there; a run of them counts once.
int dropouts(const Audio& out, const Audio& truth, int rate) {
    const int ms = rate / 1000;
    const std::int64_t blocks = static_cast<std::int64_t>(out.size() / kChannels) / ms;
    std::vector<std::array<double, 2 * kChannels>> energy(static_cast<std::size_t>(blocks));
    for (std::int64_t b = 0; b < blocks; ++b)
        for (int i = 0; i < ms; ++i)
            for (int c = 0; c < kChannels; ++c) {
                const std::size_t at = std::size_t(kChannels * (b * ms + i) + c);
                energy[std::size_t(b)][std::size_t(c)] += double(out[at]) * out[at];
                energy[std::size_t(b)][std::size_t(kChannels + c)] += double(truth[at]) * truth[at];
            }
    int count = 0;
    bool low = false;
    for (std::int64_t b = 0; b + 10 <= blocks; ++b) {
        bool now = false;
        for (int c = 0; c < kChannels; ++c) {
            double played = 0, meant = 0;
            for (std::int64_t k = b; k < b + 10; ++k) {
                played += energy[std::size_t(k)][std::size_t(c)];
                meant += energy[std::size_t(k)][std::size_t(kChannels + c)];
            }
            now = now || played < 0.01 * meant;
        }
        count += now && !low ? 1 : 0;
        low = now;
    }
    return count;
}

// A signal's symbol as an FSK receiver sees it: the power in the sent tone's 6.25 Hz bin against
// the mean of its other seven, in dB, over the symbol's length from `at`, or from the start within
// `search` frames of it where the sent tone's bin holds the most power (the symbol found; taking
// the start of the best ratio instead would pick, among the starts, the one where the other
// signals happen to leak least, and measure some 19 dB too well). `twiddle` holds a symbol's
// length of e^(-2 pi i m / n).
double symbolSnr(const Audio& x, int c, std::int64_t at, int search, int baseBin, int sent,
                 const std::vector<std::complex<double>>& twiddle) {
    const auto n = static_cast<std::int64_t>(twiddle.size());
    const std::int64_t from = at - search;
    std::array<std::complex<double>, kTones> sums{};
    std::array<std::int64_t, kTones> index{};
    for (int b = 0; b < kTones; ++b)
        index[std::size_t(b)] = ((baseBin + b) * (from % n)) % n;
    const std::array<std::int64_t, kTones> first = index;
    for (std::int64_t m = 0; m < n; ++m) {
        const double v = x[std::size_t(kChannels * (from + m) + c)];
        for (int b = 0; b < kTones; ++b) {
            auto& i = index[std::size_t(b)];
            sums[std::size_t(b)] += v * twiddle[std::size_t(i)];
            i = (i + baseBin + b) % n;
        }
    }
    index = first;
    auto ratio = [&] {
        double others = 0;
        for (int b = 0; b < kTones; ++b)
            others += b == sent ? 0.0 : std::norm(sums[std::size_t(b)]);
        return std::norm(sums[std::size_t(sent)]) / (others / (kTones - 1) + 1e-12);
    };
    double most = std::norm(sums[std::size_t(sent)]), atMost = ratio();
    for (std::int64_t o = 0; o < 2 * search; ++o) {
        const double d = double(x[std::size_t(kChannels * (from + o + n) + c)]) -
                         x[std::size_t(kChannels * (from + o) + c)];
        for (int b = 0; b < kTones; ++b) {
            auto& i = index[std::size_t(b)];
            sums[std::size_t(b)] += d * twiddle[std::size_t(i)];
            i = (i + baseBin + b) % n;
        }
        if (std::norm(sums[std::size_t(sent)]) > most) {
            most = std::norm(sums[std::size_t(sent)]);
            atMost = ratio();
        }
    }
    return 10 * std::log10(atMost);
}

std::vector<std::complex<double>> twiddles(int n) {
    std::vector<std::complex<double>> w(static_cast<std::size_t>(n));
    for (int m = 0; m < n; ++m)
        w[std::size_t(m)] = std::polar(1.0, -2 * M_PI * m / n);
    return w;
}

// The largest second difference of either channel from frame `from` on, beyond the largest the
// source has: a click.
double clickExcess(const Audio& out, const Audio& source, std::int64_t from) {
    auto largest = [from](const Audio& x, int c) {
        double most = 0;
        for (auto i = std::size_t(kChannels * from + c); i + kChannels < x.size(); i += kChannels)
            most =
                std::max(most, std::abs(double(x[i + kChannels]) - 2.0 * x[i] + x[i - kChannels]));
        return most;
    };
    double excess = 0;
    for (int c = 0; c < kChannels; ++c)
        excess = std::max(excess, largest(out, c) - largest(source, c));
    return excess;
}

// The lag (source frame less output frame) within [low, high] at which both channels of `out`
// over [from, from + length) best match the source.
std::int64_t bestLag(const Audio& out, const Audio& source, std::int64_t from, int length,
                     std::int64_t low, std::int64_t high) {
    std::int64_t best = low;
    std::int64_t bestSum = INT64_MIN;
    for (std::int64_t lag = low; lag <= high; ++lag) {
        const std::int16_t* a = &out[std::size_t(kChannels * from)];
        const std::int16_t* b = &source[std::size_t(kChannels * (from + lag))];
        std::int64_t sum = 0;
        for (int k = 0; k < kChannels * length; ++k)
            sum += std::int32_t(a[k]) * b[k];
        if (sum > bestSum) {
            bestSum = sum;
            best = lag;
        }
    }
    return best;
}

// The frequency of a channel's strongest peak near `hz` over a 4-s window: Hann-windowed,
// zero-padded to 2^20 points, the peak interpolated by a parabola through its log magnitudes.
class PeakFinder {
public:
    static constexpr int kWindow = 4 * kRate;
    static constexpr int kPadded = 1 << 20;

    PeakFinder()
        : in(fftw_alloc_real(kPadded))
        , out(fftw_alloc_complex(kPadded / 2 + 1))
        , plan(fftw_plan_dft_r2c_1d(kPadded, in, out, FFTW_ESTIMATE))
        , hann(std::size_t(kWindow)) {
        for (int i = 0; i < kWindow; ++i)
            hann[std::size_t(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kWindow);
    }
    ~PeakFinder() {
        fftw_destroy_plan(plan);
        fftw_free(out);
        fftw_free(in);
    }
    PeakFinder(const PeakFinder&) = delete;
    PeakFinder& operator=(const PeakFinder&) = delete;

    double peak(const Audio& x, int c, std::int64_t from, double hz) {
        for (int i = 0; i < kPadded; ++i)
            in[i] = i < kWindow ? hann[std::size_t(i)] * x[std::size_t(kChannels * (from + i) + c)]
                                : 0.0;
        fftw_execute(plan);
        const double binHz = double(kRate) / kPadded;
        const int low = int((hz * 0.99) / binHz), high = int((hz * 1.01) / binHz);
        int best = low;
        for (int k = low; k <= high; ++k)
            if (magnitude(k) > magnitude(best))
                best = k;
        const double a = std::log(magnitude(best - 1)), b = std::log(magnitude(best)),
                     d = std::log(magnitude(best + 1));
        return (best + 0.5 * (a - d) / (a - 2 * b + d)) * binHz;
    }

private:
    double magnitude(int k) const { return std::hypot(out[k][0], out[k][1]) + 1e-30; }

    double* in;
    fftw_complex* out;
    fftw_plan plan;
    std::vector<double> hann;
};

// ---- A: what never came, filled in ----

enum class Fill { Silence, Predicted, SpanDsp };

// Which frames came: the datagrams lost at random, the same stretches of time at any rate.
std::vector<std::uint8_t> arrivals(int rate, std::int64_t frames, int& lost) {
    std::mt19937_64 rng(kLossSeed);
    std::vector<std::uint8_t> came(std::size_t(frames), 1);
    lost = 0;
    const double datagram = double(kDatagramFrames) * rate / kRate;
    for (std::int64_t k = 0;; ++k) {
        const auto from = std::llround(k * datagram), to = std::llround((k + 1) * datagram);
        if (to > frames)
            break;
        if (uniform(rng) < kLossChance) {
            std::fill(came.begin() + from, came.begin() + to, 0);
            ++lost;
        }
    }
    return came;
}

// spandsp's concealer on one card cycle, a channel at a time on its own 16-bit samples: plc_rx()
// for what came (which may blend its start into the fill before it), plc_fillin() for the rest.
// plc_fillin() writes up to a quarter of its pitch period (PLC_PITCH_OVERLAP_MAX) beyond the
// samples asked for when a fill starts shorter than that, so it fills a scratch with that room.
void spandspCycle(std::array<plc_state_t, kChannels>& plc, std::int16_t* frames,
                  const std::uint8_t* came, int count, std::int16_t* mono, std::int16_t* fill) {
    for (int c = 0; c < kChannels; ++c) {
        for (int i = 0; i < count; ++i)
            mono[i] = frames[kChannels * i + c];
        for (int i = 0; i < count;) {
            int run = 1;
            while (i + run < count && came[i + run] == came[i])
                ++run;
            if (came[i]) {
                plc_rx(&plc[std::size_t(c)], mono + i, run);
            } else {
                plc_fillin(&plc[std::size_t(c)], fill, run);
                std::copy(fill, fill + run, mono + i);
            }
            i += run;
        }
        for (int i = 0; i < count; ++i)
            frames[kChannels * i + c] = mono[i];
    }
}

struct FillRun {
    double cpuSeconds = 0;
    long allocations = 0;
};

// Fills what never came of `audio` (silent there), a card cycle at a time, as the playout reads.
FillRun fillIn(Fill fill, int rate, Audio& audio, const std::vector<std::uint8_t>& came) {
    const int cycle = static_cast<int>(framesOf(kCycleSeconds, rate));
    const auto frames = static_cast<std::int64_t>(came.size());
    LossConcealer concealer;
    concealer.reset(rate, true);
    std::array<plc_state_t, kChannels> plc{};
    for (auto& state : plc)
        plc_init(&state);
    std::vector<std::int16_t> mono(static_cast<std::size_t>(cycle));
    std::vector<std::int16_t> spare(static_cast<std::size_t>(cycle + PLC_PITCH_OVERLAP_MAX));
    allocationCount = 0;
    countingAllocations = true;
    const double start = cpuNow();
    for (std::int64_t at = 0; at < frames; at += cycle) {
        const int n = static_cast<int>(std::min<std::int64_t>(cycle, frames - at));
        std::int16_t* x = &audio[std::size_t(kChannels * at)];
        if (fill == Fill::Predicted)
            concealer.process(x, &came[std::size_t(at)], n);
        else if (fill == Fill::SpanDsp)
            spandspCycle(plc, x, &came[std::size_t(at)], n, mono.data(), spare.data());
    }
    FillRun run;
    run.cpuSeconds = cpuNow() - start;
    countingAllocations = false;
    run.allocations = allocationCount;
    return run;
}

struct BandSnr {
    double median = NAN;
    double medianHit = NAN;
    double lowest = NAN;
    int hit = 0;
};

// Every whole symbol of every signal from frame `from` on, at its own clock: the median, the
// median of those a loss touched, and the lowest 1 %.
BandSnr bandSnr(const Audio& x, const Band& band, const std::vector<std::uint8_t>& came,
                std::int64_t from) {
    const auto w = twiddles(band.symbolFrames);
    const auto frames = static_cast<std::int64_t>(came.size());
    std::vector<double> all, hit;
    for (int c = 0; c < kChannels; ++c)
        for (const Emitter& e : band.emitters[std::size_t(c)])
            for (std::int64_t k = 1; band.startOf(e, k) + band.symbolFrames <= frames; ++k) {
                const std::int64_t at = band.startOf(e, k);
                if (at < from)
                    continue;
                const double snr = symbolSnr(x, c, at, 0, e.baseBin, e.symbols[std::size_t(k)], w);
                all.push_back(snr);
                const auto first = came.begin() + at, last = first + band.symbolFrames;
                if (std::find(first, last, 0) != last)
                    hit.push_back(snr);
            }
    BandSnr snr;
    snr.median = median(all);
    snr.medianHit = median(hit);
    snr.lowest = quantile(all, 0.01);
    snr.hit = static_cast<int>(hit.size());
    return snr;
}

// A minute of a signal at a rate, with its losses; measured after a second that is not, as the
// stream's first audio fades in.
struct Scene {
    static constexpr double kSeconds = 60.0;
    static constexpr double kSettleSeconds = 1.0;

    Scene(int sceneRate, const Signal& sceneSignal)
        : rate(sceneRate)
        , signal(sceneSignal)
        , from(framesOf(kSettleSeconds, sceneRate))
        , frames(framesOf(kSettleSeconds + kSeconds, sceneRate))
        , band(makeBand(sceneRate, kSettleSeconds + kSeconds))
        , truth(signal.band ? synthBand(band, frames) : synthTones(sceneRate, frames, signal.hz))
        , came(arrivals(sceneRate, frames, lost)) {}

    int rate;
    Signal signal;
    std::int64_t from;
    std::int64_t frames;
    Band band;
    Audio truth;
    int lost = 0;
    std::vector<std::uint8_t> came;
};

void printToneRow(const char* name, const Scene& scene, const Audio& out, const char* cost) {
    constexpr double kWindowSeconds = 6.0;
    const std::int64_t window = framesOf(kWindowSeconds, scene.rate);
    std::array<double, kChannels> whole{};
    std::array<std::vector<double>, kChannels> windows;
    for (int c = 0; c < kChannels; ++c) {
        const double hz = scene.signal.hz[std::size_t(c)];
        whole[std::size_t(c)] = thdN(out, c, hz, scene.rate, scene.from, scene.frames);
        for (std::int64_t at = scene.from; at + window <= scene.frames; at += window)
            windows[std::size_t(c)].push_back(thdN(out, c, hz, scene.rate, at, at + window));
    }
    std::printf("| %s | %d Hz | %.1f / %.1f | %.1f / %.1f | %d | %s |\n", name, scene.rate,
                whole[0], whole[1], median(windows[0]), median(windows[1]),
                dropouts(out, scene.truth, scene.rate), cost);
}

void printBandRow(const char* name, const Scene& scene, const Audio& out, const char* cost) {
    const BandSnr snr = bandSnr(out, scene.band, scene.came, scene.from);
    std::printf("| %s | %d Hz | %.1f | %.1f (%d symbols) | %.1f | %d | %s |\n", name, scene.rate,
                snr.median, snr.medianHit, snr.hit, snr.lowest,
                dropouts(out, scene.truth, scene.rate), cost);
}

struct FillRow {
    const char* name;
    int rate;
    Fill fill;
};

void partA(int runs) {
    const std::array<FillRow, 5> rows = {{{"silence", kRate, Fill::Silence},
                                          {"LossConcealer", kRate, Fill::Predicted},
                                          {"spandsp plc", kRate, Fill::SpanDsp},
                                          {"LossConcealer", 8000, Fill::Predicted},
                                          {"spandsp plc", 8000, Fill::SpanDsp}}};
    for (std::size_t n = 0; n < kSignals.size(); ++n) {
        const Signal& signal = kSignals[n];
        const bool banded = signal.band;
        std::printf("\n### A%zu. Lost datagrams filled: %s, %g s\n\n", n + 1, signal.name,
                    Scene::kSeconds);
        std::printf(banded ? "| fill | rate | symbol SNR median (dB) | median of the symbols a "
                             "loss hit (dB) | lowest 1 %% (dB) | dropouts | CPU (us per s of "
                             "audio), allocations |\n|---|---|---|---|---|---|---|\n"
                           : "| fill | rate | THD+N whole run, L / R (dB) | THD+N median of 6-s "
                             "windows, L / R (dB) | dropouts | CPU (us per s of audio), "
                             "allocations |\n|---|---|---|---|---|---|\n");
        auto print = banded ? printBandRow : printToneRow;
        int lost = 0;
        std::int64_t datagrams = 0;
        for (const int rate : {kRate, 8000}) {
            const Scene scene(rate, signal);
            print("loss-free", scene, scene.truth, "-");
            Audio received = scene.truth;
            for (std::int64_t i = 0; i < scene.frames; ++i)
                if (!scene.came[std::size_t(i)])
                    received[std::size_t(kChannels * i)] =
                        received[std::size_t(kChannels * i + 1)] = 0;
            for (const FillRow& row : rows) {
                if (row.rate != rate)
                    continue;
                Audio out;
                std::vector<double> cpu;
                long allocations = 0;
                for (int r = 0; r < runs; ++r) {
                    out = received;
                    const FillRun run = fillIn(row.fill, rate, out, scene.came);
                    cpu.push_back(run.cpuSeconds);
                    allocations = std::max(allocations, run.allocations);
                }
                const std::string cost =
                    std::to_string(std::lround(median(cpu) /
                                               (Scene::kSeconds + Scene::kSettleSeconds) * 1e6)) +
                    ", " + std::to_string(allocations);
                print(row.name, scene, out, cost.c_str());
            }
            if (rate == kRate) {
                lost = scene.lost;
                datagrams = scene.frames / kDatagramFrames;
            }
        }
        std::printf("\n%d of %lld datagrams of 512 frames lost (1 %%, seeded); the same stretches "
                    "of time at 8 kHz.%s\n",
                    lost, static_cast<long long>(datagrams),
                    banded ? " Ten signals a channel, each 8-FSK (tones 6.25 Hz apart, 160-ms "
                             "symbols, FT8's), their lowest tones 300 to 2606 Hz, each at -26 "
                             "dBFS; independent symbols and symbol clocks on the two channels."
                           : "");
    }
}

// What spandsp's concealer, built for 8 kHz, does with a 48 kHz tone: the period it repeats and
// how long its fill lasts before it has faded to silence.
void spandspAt48k() {
    std::printf("\nspandsp's plc at 48 kHz:");
    for (const double hz : kToneHz) {
        plc_state_t plc{};
        plc_init(&plc);
        std::vector<std::int16_t> x(static_cast<std::size_t>(kRate));
        for (int i = 0; i < kRate; ++i)
            x[std::size_t(i)] = toSample(kLevel * std::sin(2 * M_PI * hz * i / kRate));
        plc_rx(&plc, x.data(), kRate);
        std::vector<std::int16_t> fill(4800);
        plc_fillin(&plc, fill.data(), static_cast<int>(fill.size()));
        int last = 0;
        for (int i = 0; i < static_cast<int>(fill.size()); ++i)
            last = fill[std::size_t(i)] != 0 ? i + 1 : last;
        const double turns = std::round(plc.pitch * hz / kRate);
        std::printf(" a %g Hz tone is repeated %g turn(s) in %d frames at a time (%.1f Hz, %.0f "
                    "ppm off) and has faded to silence %d frames (%.1f ms) into the fill;",
                    hz, turns, plc.pitch, turns * kRate / plc.pitch,
                    (turns * kRate / plc.pitch / hz - 1) * 1e6, last, 1000.0 * last / kRate);
    }
    std::printf(" its pitch search spans periods of %d to %d frames (%.0f-%.0f Hz at 48 kHz, "
                "%.0f-%.0f Hz at 8 kHz) and matches %d frames (%.1f ms at 48 kHz).\n",
                PLC_PITCH_MAX, PLC_PITCH_MIN, double(kRate) / PLC_PITCH_MIN,
                double(kRate) / PLC_PITCH_MAX, 8000.0 / PLC_PITCH_MIN, 8000.0 / PLC_PITCH_MAX,
                CORRELATION_SPAN, 1000.0 * CORRELATION_SPAN / kRate);
}

// ---- B: latency given back ----

// The give-back starts 2.7 s in: off the centres and edges of the 4-s pitch windows (every 2 s),
// where a Hann window would not see a phase step move the pitch. Nothing is measured in the first
// second (the resampler's filter filling, the stretchers starting).
constexpr double kLeadSeconds = 2.7;
constexpr double kSettleSeconds = 1.0;
constexpr double kTailSeconds = 4.0;
constexpr double kTargetSeconds = 0.03;
constexpr int kCycle = kRate / 100;

struct GiveBack {
    const char* name;
    double seconds;
    // Splices: each of `spliceSeconds`, spread evenly over `overSeconds` (0: all at once).
    double overSeconds;
    double spliceSeconds;
    // The time stretchers' tempo, and the resampler's speed, while they give it back.
    double tempo;
    double resampleSpeed;
};

constexpr std::array<GiveBack, 2> kCases = {
    GiveBack{"40 ms over 20 s (a jitter burst's target given back)", 0.04, 20.0, 0.008, 1.002,
             1.002},
    GiveBack{"300 ms at once (a stall's backlog)", 0.3, 0.0, 0.3, 1.1, 1.005}};

double runSeconds(const GiveBack& g) {
    return kLeadSeconds + g.seconds / (g.resampleSpeed - 1.0) + kTailSeconds;
}

enum class Mover { Source, Splices, SoundTouch, RubberBandR2, RubberBandR3, Resampling };

struct Moved {
    Audio out;
    // For each cycle: the source frame its first frame plays (as the method says, or for the time
    // stretchers as their tempo says, from their start), and the source frames it holds.
    std::vector<double> sourceAt;
    std::vector<double> held;
    double cpuSeconds = 0;
    long allocations = 0;
};

Moved startMoved(int cycles) {
    Moved m;
    m.out.resize(std::size_t(kChannels * kCycle * cycles));
    m.sourceAt.reserve(std::size_t(cycles));
    m.held.reserve(std::size_t(cycles));
    return m;
}

// The speed for the next cycle: `speed` from the lead on until `want` frames are given back, the
// last cycle at what gives back the rest; 1 otherwise.
double speedFor(int cycle, double speed, double given, double want) {
    if (cycle * kCycleSeconds < kLeadSeconds || given >= want - 1e-6)
        return 1.0;
    return std::min(speed, 1.0 + (want - given) / kCycle);
}

class AllocationWatch {
public:
    void cycle(int j) {
        if (j == 100) {
            allocationCount = 0;
            countingAllocations = true;
        }
    }
    long done() {
        countingAllocations = false;
        return allocationCount;
    }
};

// The playout's way: the source arrives in datagrams at its own pace, the ring holding the target
// and what is to be given back. At each of the moments the case spreads its splices over, the
// reader is asked for what is still to be given back by then, as the FillKeeper asks for the
// fill's error: a splice gives back as much as asked give or take 5 ms.
Moved bySplices(const GiveBack& g, const Audio& source, int cycles) {
    Moved m = startMoved(cycles);
    PlayoutRing ring;
    ring.reset(2 * kRate, 0);
    RingReader reader;
    reader.reset(&ring, kRate, true);
    const std::int64_t fill = framesOf(kTargetSeconds + g.seconds, kRate);
    const int splices = static_cast<int>(std::lround(g.seconds / g.spliceSeconds));
    auto cycleOf = [](double seconds) {
        return static_cast<int>(std::lround(seconds / kCycleSeconds));
    };
    int next = 0;
    std::int64_t moved = 0;
    AllocationWatch watch;
    std::int64_t written = 0;
    const double start = cpuNow();
    for (int j = 0; j < cycles; ++j) {
        watch.cycle(j);
        for (const std::int64_t arrived = (std::int64_t(j) * kCycle + fill) / kDatagramFrames + 1;
             written < arrived * kDatagramFrames; written += kDatagramFrames)
            ring.write(written, &source[std::size_t(kChannels * written)], kDatagramFrames);
        moved += reader.takeMoved();
        if (next < splices && j == cycleOf(kLeadSeconds + g.overSeconds * next / splices)) {
            ++next;
            reader.moveLatency(static_cast<int>(framesOf(g.spliceSeconds * next, kRate) - moved));
        }
        reader.splice();
        m.sourceAt.push_back(double(reader.position()));
        m.held.push_back(double(ring.readPosition() - reader.position()));
        reader.read(&m.out[std::size_t(kChannels * kCycle * j)], kCycle);
    }
    m.cpuSeconds = cpuNow() - start;
    m.allocations = watch.done();
    return m;
}

Moved bySoundTouch(const GiveBack& g, const Audio& source, int cycles) {
    constexpr int kFeed = 128;
    Moved m = startMoved(cycles);
    soundtouch::SoundTouch st;
    st.setSampleRate(kRate);
    st.setChannels(kChannels);
    st.setTempo(1.0);
    std::vector<float> in(kChannels * kFeed), out(kChannels * kCycle);
    const double want = double(framesOf(g.seconds, kRate));
    double given = 0, tempo = 1.0;
    std::int64_t fed = 0;
    AllocationWatch watch;
    const double start = cpuNow();
    for (int j = 0; j < cycles; ++j) {
        watch.cycle(j);
        const double speed = speedFor(j, g.tempo, given, want);
        if (speed != tempo) {
            tempo = speed;
            st.setTempo(tempo);
        }
        while (st.numSamples() < kCycle) {
            for (int k = 0; k < kChannels * kFeed; ++k)
                in[std::size_t(k)] = source[std::size_t(kChannels * fed + k)] / 32768.0f;
            st.putSamples(in.data(), kFeed);
            fed += kFeed;
        }
        m.sourceAt.push_back(double(j) * kCycle + given);
        m.held.push_back(double(fed) - m.sourceAt.back());
        st.receiveSamples(out.data(), kCycle);
        for (int k = 0; k < kChannels * kCycle; ++k)
            m.out[std::size_t(kChannels * kCycle * j + k)] =
                toSample(out[std::size_t(k)] * 32768.0);
        given += (tempo - 1.0) * kCycle;
    }
    m.cpuSeconds = cpuNow() - start;
    m.allocations = watch.done();
    return m;
}

// In real time, as its documentation asks: the input led by its preferred pad of silence, and its
// start delay taken off the output.
Moved byRubberBand(const GiveBack& g, const Audio& source, int cycles, bool finer) {
    using RubberBand::RubberBandStretcher;
    constexpr int kMostIn = 4096;
    Moved m = startMoved(cycles);
    RubberBandStretcher rb(kRate, kChannels,
                           RubberBandStretcher::OptionProcessRealTime |
                               (finer ? RubberBandStretcher::OptionEngineFiner
                                      : RubberBandStretcher::OptionEngineFaster));
    rb.setMaxProcessSize(kMostIn);
    std::array<std::vector<float>, kChannels> in, out;
    for (int c = 0; c < kChannels; ++c) {
        in[std::size_t(c)].assign(kMostIn, 0.0f);
        out[std::size_t(c)].assign(kCycle, 0.0f);
    }
    const float* inputs[kChannels] = {in[0].data(), in[1].data()};
    float* outputs[kChannels] = {out[0].data(), out[1].data()};
    for (auto pad = static_cast<int>(rb.getPreferredStartPad()); pad > 0; pad -= kMostIn)
        rb.process(inputs, std::size_t(std::min(pad, kMostIn)), false);
    auto delay = static_cast<int>(rb.getStartDelay());
    std::int64_t fed = 0;
    auto feed = [&](int wanted) {
        while (rb.available() < wanted) {
            const int n = std::clamp(static_cast<int>(rb.getSamplesRequired()), 64, kMostIn);
            for (int i = 0; i < n; ++i)
                for (int c = 0; c < kChannels; ++c)
                    in[std::size_t(c)][std::size_t(i)] =
                        source[std::size_t(kChannels * (fed + i) + c)] / 32768.0f;
            rb.process(inputs, std::size_t(n), false);
            fed += n;
        }
    };
    for (; delay > 0; delay -= kCycle) {
        feed(std::min(delay, kCycle));
        rb.retrieve(outputs, std::size_t(std::min(delay, kCycle)));
    }
    const double want = double(framesOf(g.seconds, kRate));
    double given = 0, tempo = 1.0;
    AllocationWatch watch;
    const double start = cpuNow();
    for (int j = 0; j < cycles; ++j) {
        watch.cycle(j);
        const double speed = speedFor(j, g.tempo, given, want);
        if (speed != tempo) {
            tempo = speed;
            rb.setTimeRatio(1.0 / tempo);
        }
        feed(kCycle);
        m.sourceAt.push_back(double(j) * kCycle + given);
        m.held.push_back(double(fed) - m.sourceAt.back());
        rb.retrieve(outputs, kCycle);
        for (int i = 0; i < kCycle; ++i)
            for (int c = 0; c < kChannels; ++c)
                m.out[std::size_t(kChannels * (kCycle * j + i) + c)] =
                    toSample(out[std::size_t(c)][std::size_t(i)] * 32768.0);
        given += (tempo - 1.0) * kCycle;
    }
    m.cpuSeconds = cpuNow() - start;
    m.allocations = watch.done();
    return m;
}

class SourceInput final : public Resampler::Input {
public:
    explicit SourceInput(const Audio& audio)
        : source(audio) {}
    void read(std::int16_t* frames, int count) override {
        std::memcpy(frames, &source[std::size_t(kChannels * taken)],
                    sizeof(std::int16_t) * std::size_t(kChannels * count));
        taken += count;
    }
    std::int64_t taken = 0;

private:
    const Audio& source;
};

// The old way: the product's resampler at a ratio off by what is to be given back.
Moved byResampling(const GiveBack& g, const Audio& source, int cycles) {
    Moved m = startMoved(cycles);
    Resampler resampler;
    resampler.setup(1.0, kRate);
    SourceInput input(source);
    const double want = double(framesOf(g.seconds, kRate));
    double given = 0;
    AllocationWatch watch;
    const double start = cpuNow();
    for (int j = 0; j < cycles; ++j) {
        watch.cycle(j);
        const double speed = speedFor(j, g.resampleSpeed, given, want);
        resampler.setRatio(1.0 / speed);
        m.sourceAt.push_back(double(input.taken) - resampler.inputAhead());
        m.held.push_back(resampler.inputAhead());
        resampler.produce(&m.out[std::size_t(kChannels * kCycle * j)], kCycle, input);
        given += (speed - 1.0) * kCycle;
    }
    m.cpuSeconds = cpuNow() - start;
    m.allocations = watch.done();
    return m;
}

Moved bySource(const Audio& source, int cycles) {
    Moved m;
    m.out.assign(source.begin(), source.begin() + kChannels * kCycle * cycles);
    for (int j = 0; j < cycles; ++j) {
        m.sourceAt.push_back(double(j) * kCycle);
        m.held.push_back(0.0);
    }
    return m;
}

Moved moveBy(Mover mover, const GiveBack& g, const Audio& source, int cycles) {
    switch (mover) {
    case Mover::Source:
        return bySource(source, cycles);
    case Mover::Splices:
        return bySplices(g, source, cycles);
    case Mover::SoundTouch:
        return bySoundTouch(g, source, cycles);
    case Mover::RubberBandR2:
        return byRubberBand(g, source, cycles, false);
    case Mover::RubberBandR3:
        return byRubberBand(g, source, cycles, true);
    case Mover::Resampling:
        return byResampling(g, source, cycles);
    }
    return {};
}

struct ToneMotion {
    std::array<double, kChannels> worstPpm{};
    std::array<double, kChannels> medianThdN{};
    std::array<double, kChannels> worstThdN{};
};

// From the settling on: the pitch of each 4-s window every 2 s; and THD+N of each 100-ms window
// at its own best-fitting frequency, which a seam or a stretcher's overlap shows in and a pitch
// moved by resampling does not.
ToneMotion toneMotion(const Audio& out, const std::array<double, kChannels>& tones,
                      PeakFinder& finder) {
    const std::int64_t settled = framesOf(kSettleSeconds, kRate), shortWindow = kRate / 10;
    const auto frames = static_cast<std::int64_t>(out.size() / kChannels);
    ToneMotion motion;
    for (int c = 0; c < kChannels; ++c) {
        const double hz = tones[std::size_t(c)];
        for (std::int64_t from = settled; from + PeakFinder::kWindow <= frames; from += 2 * kRate) {
            auto& ppm = motion.worstPpm[std::size_t(c)];
            ppm = std::max(ppm, std::abs(finder.peak(out, c, from, hz) / hz - 1.0) * 1e6);
        }
        std::vector<double> windows;
        for (std::int64_t from = settled; from + shortWindow <= frames; from += shortWindow)
            windows.push_back(thdNAtBest(out, c, hz, kRate, from, from + shortWindow));
        motion.medianThdN[std::size_t(c)] = median(windows);
        motion.worstThdN[std::size_t(c)] = *std::max_element(windows.begin(), windows.end());
    }
    return motion;
}

struct BandMotion {
    double startLag = 0;
    double givenBack = 0;
    double median = NAN;
    double lowest = NAN;
    int measured = 0;
    int cut = 0;
};

// Where in the output a source frame plays, from the cycles' source frames: none where it lies
// in a stretch a splice dropped.
bool outputAt(const Moved& m, double lag, double sourceFrame, double& frame) {
    const auto& at = m.sourceAt;
    const auto next = std::upper_bound(at.begin(), at.end(), sourceFrame - lag);
    if (next == at.begin() || next == at.end())
        return false;
    const auto j = static_cast<std::size_t>(next - at.begin() - 1);
    const double step = at[j + 1] - at[j], into = sourceFrame - lag - at[j];
    if (step > 1.2 * kCycle) {
        frame = double(j) * kCycle + into;
        return into < kCycle;
    }
    frame = double(j) * kCycle + into * kCycle / step;
    return true;
}

// The band's symbols, each found within 20 ms of where the method's own account of its timeline
// (aligned once, at the start, by correlation) puts it; a symbol whose start was dropped, or that
// plays more than 20 ms shorter or longer than sent, is cut.
BandMotion bandMotion(const Moved& m, const Audio& source, const Band& band) {
    constexpr int kSearch = kRate / 50;
    BandMotion motion;
    const auto frames = static_cast<std::int64_t>(m.out.size() / kChannels);
    const std::int64_t lag = bestLag(m.out, source, kRate, kRate / 2, -kRate / 20, kRate / 6);
    motion.startLag = 1000.0 * double(lag) / kRate;
    const std::int64_t end = frames - 2 * kRate;
    const auto expected = static_cast<std::int64_t>(
        m.sourceAt[std::size_t(end / kCycle)] + double(end % kCycle) + double(lag) - double(end));
    const std::int64_t endLag = bestLag(m.out, source, end, kRate / 2, expected - kRate * 3 / 100,
                                        expected + kRate * 3 / 100);
    motion.givenBack = 1000.0 * double(endLag - lag) / kRate;
    const auto w = twiddles(band.symbolFrames);
    // The symbols wholly within what the output plays, with room for the search either side.
    const double first = m.sourceAt[std::size_t(kSettleSeconds / kCycleSeconds)] + double(lag);
    const double last =
        m.sourceAt[m.sourceAt.size() - 2] + double(lag - 2 * kSearch - band.symbolFrames);
    std::vector<double> snrs;
    for (int c = 0; c < kChannels; ++c)
        for (const Emitter& e : band.emitters[std::size_t(c)])
            for (std::int64_t k = 1; double(band.startOf(e, k)) < last; ++k) {
                const double from = double(band.startOf(e, k));
                double begins = 0, ends = 0;
                if (from < first)
                    continue;
                if (!outputAt(m, double(lag), from, begins) ||
                    !outputAt(m, double(lag), from + band.symbolFrames, ends) ||
                    std::abs(ends - begins - band.symbolFrames) > kSearch) {
                    ++motion.cut;
                    continue;
                }
                snrs.push_back(symbolSnr(m.out, c, std::llround(begins), kSearch, e.baseBin,
                                         e.symbols[std::size_t(k)], w));
            }
    motion.median = median(snrs);
    motion.lowest = quantile(snrs, 0.01);
    motion.measured = static_cast<int>(snrs.size());
    return motion;
}

struct MoverRow {
    const char* name;
    Mover mover;
};

// One method on one case and signal: its output kept from the last of `runs` runs, the CPU the
// median of them, the allocations the most any made.
struct Measured {
    Moved moved;
    double usPerSecond = 0;
    long allocations = 0;
    double click = 0;
};

Measured measure(const MoverRow& row, const GiveBack& g, const Audio& source, int runs) {
    const double seconds = runSeconds(g);
    const int cycles = static_cast<int>(std::lround(seconds / kCycleSeconds));
    Measured m;
    std::vector<double> cpu;
    for (int r = 0; r < (row.mover == Mover::Source ? 1 : runs); ++r) {
        m.moved = moveBy(row.mover, g, source, cycles);
        cpu.push_back(m.moved.cpuSeconds);
        m.allocations = std::max(m.allocations, m.moved.allocations);
    }
    m.usPerSecond = median(cpu) / seconds * 1e6;
    const Audio reference(source.begin(), source.begin() + std::ptrdiff_t(m.moved.out.size()));
    m.click = clickExcess(m.moved.out, reference, framesOf(kSettleSeconds, kRate));
    return m;
}

void printToneMotion(const char* name, const Measured& m, const Signal& signal,
                     PeakFinder& finder) {
    const ToneMotion motion = toneMotion(m.moved.out, signal.hz, finder);
    std::printf("| %s | %.1f / %.1f | %.1f / %.1f | %.1f / %.1f | %.0f | %.0f | %ld |\n", name,
                motion.worstPpm[0], motion.worstPpm[1], motion.medianThdN[0], motion.medianThdN[1],
                motion.worstThdN[0], motion.worstThdN[1], m.click, m.usPerSecond, m.allocations);
}

void printBandMotion(const char* name, const Measured& m, const Audio& source, const Band& band) {
    const BandMotion motion = bandMotion(m.moved, source, band);
    const double lagFrames = motion.startLag * kRate / 1000.0;
    std::vector<double> held;
    for (const double h : m.moved.held)
        held.push_back(1000.0 * (h - lagFrames) / kRate);
    std::printf("| %s | %.1f | %.1f | %.1f | %.1f | %d of %d | %.0f | %.1f / %.1f | %.0f | %ld "
                "|\n",
                name, motion.givenBack, motion.startLag, motion.median, motion.lowest, motion.cut,
                motion.cut + motion.measured, m.click, median(held),
                *std::max_element(held.begin(), held.end()), m.usPerSecond, m.allocations);
}

void partB(int runs) {
    const std::array<MoverRow, 6> rows = {{{"none (the source)", Mover::Source},
                                           {"splices (RingReader)", Mover::Splices},
                                           {"SoundTouch", Mover::SoundTouch},
                                           {"Rubber Band R2 (faster)", Mover::RubberBandR2},
                                           {"Rubber Band R3 (finer)", Mover::RubberBandR3},
                                           {"resampling", Mover::Resampling}}};
    PeakFinder finder;
    for (std::size_t i = 0; i < kCases.size(); ++i) {
        const GiveBack& g = kCases[i];
        const double sourceSeconds = runSeconds(g) + 2 * g.seconds + 1.0;
        for (std::size_t n = 0; n < kSignals.size(); ++n) {
            const Signal& signal = kSignals[n];
            const Band band = makeBand(kRate, sourceSeconds);
            const std::int64_t frames = framesOf(sourceSeconds, kRate);
            const Audio source =
                signal.band ? synthBand(band, frames) : synthTones(kRate, frames, signal.hz);
            std::printf("\n### B%zu%c. %s, %s: %g s\n\n", i + 1, char('a' + n), g.name, signal.name,
                        runSeconds(g));
            std::printf(signal.band
                            ? "| method | given back, measured (ms) | start lag (ms) | symbol SNR "
                              "median (dB) | lowest 1 %% (dB) | symbols cut | largest 2nd "
                              "difference beyond the source's (LSB) | held inside, median / most "
                              "(ms) | CPU (us per s of audio) | allocations after 1 s |\n"
                              "|---|---|---|---|---|---|---|---|---|---|\n"
                            : "| method | largest pitch error, L / R (ppm) | THD+N of 100-ms "
                              "windows, median L / R (dB) | worst L / R (dB) | largest 2nd "
                              "difference beyond the source's (LSB) | CPU (us per s of audio) | "
                              "allocations after 1 s |\n|---|---|---|---|---|---|---|\n");
            for (const MoverRow& row : rows) {
                const Measured m = measure(row, g, source, runs);
                if (signal.band)
                    printBandMotion(row.name, m, source, band);
                else
                    printToneMotion(row.name, m, signal, finder);
                std::fflush(stdout);
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::string part = "AB";
    for (int i = 1; i < argc; i += 2) {
        const bool valued = i + 1 < argc;
        if (valued && std::strcmp(argv[i], "--runs") == 0 && std::atoi(argv[i + 1]) > 0) {
            runs = std::atoi(argv[i + 1]);
        } else if (valued && std::strcmp(argv[i], "--part") == 0) {
            part = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: bench_pitch_keeping [--runs N] [--part A|B|AB]\n");
            return 2;
        }
    }
    std::printf("## Pitch keeping: the receive path against Debian's libraries\n\n"
                "SoundTouch %s, Rubber Band %s, spandsp %d; CPU: median of %d runs.\n",
                soundtouch::SoundTouch::getVersionString(), RUBBERBAND_VERSION,
                SPANDSP_RELEASE_DATE, runs);
    if (part.find('A') != std::string::npos) {
        partA(runs);
        spandspAt48k();
    }
    if (part.find('B') != std::string::npos)
        partB(runs);
    return 0;
}
