// Synthesizes the demo's soundtrack and writes it as a 16-bit 44.1 kHz stereo WAV file.
// Built and run by media/make_assets; usage: biisi OUT.wav
//
// A minor, 120 BPM, one bar = 2 s, so the sections fall on the demo's timeline:
// intro 0-10 s (logo, stars), groove 10-20 s (waves), lead 20-30 s (radar pings at
// 20-25 s, second caption), outro 30-38 s. Everything is computed in double precision
// from fixed tables and a fixed-seed noise generator, so each run writes the same bytes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const int rate = 44100;
const double pi = 3.14159265358979323846;
const double beat = 0.5;  // seconds per beat at 120 BPM
const double bar = 4 * beat;
const double length = 38.0;

// Mix buses. "pump" is ducked by the kick before it joins the dry bus.
struct Bus {
    std::vector<double> l, r;
    Bus() : l(static_cast<size_t>(length * rate) + 1, 0.0), r(l.size(), 0.0) {}
    size_t size() const { return l.size(); }
};
Bus dry, pump, reverb_send;
std::vector<double> delay_send(dry.size(), 0.0);
std::vector<double> kick_times;

// Fixed-seed xorshift: the noise is part of the score, not of the run.
uint32_t noise_state = 0x9e3779b9u;
double noise()
{
    noise_state ^= noise_state << 13;
    noise_state ^= noise_state >> 17;
    noise_state ^= noise_state << 5;
    return noise_state / 2147483648.0 - 1.0;
}

double midi_hz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// Band-limited step correction for the saw and pulse oscillators (keeps the highs clean).
double blep(double t, double dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

struct Osc {
    double phase = 0.0;
    double saw(double hz)
    {
        double dt = hz / rate;
        double v = 2.0 * phase - 1.0 - blep(phase, dt);
        advance(dt);
        return v;
    }
    double pulse(double hz, double width)
    {
        double dt = hz / rate;
        double v = (phase < width ? 1.0 : -1.0) + blep(phase, dt) -
                   blep(std::fmod(phase + 1.0 - width, 1.0), dt);
        advance(dt);
        return v - (2.0 * width - 1.0);  // centred: no DC for the filters to pass on
    }
    double sine(double hz)
    {
        double v = std::sin(2.0 * pi * phase);
        advance(hz / rate);
        return v;
    }
    void advance(double dt)
    {
        phase += dt;
        if (phase >= 1.0)
            phase -= 1.0;
    }
};

// Topology-preserving state-variable filter; stable while its cutoff sweeps per sample.
struct Svf {
    double ic1 = 0.0, ic2 = 0.0, low = 0.0, band = 0.0, high = 0.0;
    void run(double in, double hz, double q)
    {
        hz = std::min(hz, rate * 0.45);
        double g = std::tan(pi * hz / rate), k = 1.0 / q;
        double a1 = 1.0 / (1.0 + g * (g + k)), a2 = g * a1, a3 = g * a2;
        double v3 = in - ic2;
        double v1 = a1 * ic1 + a2 * v3;
        double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        low = v2;
        band = v1;
        high = in - k * v1 - v2;
    }
};

// Writes one voice's sample into a bus with equal-power panning and effect sends.
struct Out {
    Bus* bus;
    double pan;    // -1 left .. 1 right
    double delay;  // send levels
    double reverb;
    void put(size_t i, double v) const
    {
        if (i >= dry.size())
            return;
        double a = (pan + 1.0) * 0.25 * pi;
        bus->l[i] += v * std::cos(a);
        bus->r[i] += v * std::sin(a);
        delay_send[i] += v * delay;
        reverb_send.l[i] += v * reverb * std::cos(a);
        reverb_send.r[i] += v * reverb * std::sin(a);
    }
};

size_t at(double t)
{
    return static_cast<size_t>(std::lround(t * rate));
}

// ---- drums ---------------------------------------------------------------------------

void kick(double t0, double vel)
{
    kick_times.push_back(t0);
    Osc o;
    Svf click;
    Out out{&dry, 0.0, 0.0, 0.02};
    size_t s = at(t0), n = at(0.45);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double hz = 44.0 + 120.0 * std::exp(-t / 0.03);
        double body = o.sine(hz) * std::exp(-t / 0.14) * std::min(1.0, t / 0.001);
        click.run(noise(), 3000.0, 0.7);
        double v = std::tanh(1.6 * body) + click.low * std::exp(-t / 0.004) * 0.5;
        out.put(s + i, v * vel * 0.9);
    }
}

void clap(double t0, double vel)
{
    Svf bp;
    Osc body;
    Out out{&dry, 0.05, 0.0, 0.22};
    size_t s = at(t0), n = at(0.35);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        // three quick hands, then the room
        double env = 0.0;
        for (int k = 0; k < 3; ++k) {
            double u = t - k * 0.011;
            if (u >= 0.0)
                env = std::max(env, std::exp(-u / 0.005));
        }
        env = std::max(env, 0.75 * std::exp(-(t - 0.022) / 0.11) * (t > 0.022 ? 1.0 : 0.0));
        bp.run(noise(), 1250.0, 1.1);
        double v = bp.band * env * 1.6 + body.sine(190.0) * std::exp(-t / 0.05) * 0.25;
        out.put(s + i, v * vel * 0.75);
    }
}

void snare(double t0, double vel)
{
    Svf hp;
    Osc body;
    Out out{&dry, -0.1, 0.0, 0.18};
    size_t s = at(t0), n = at(0.2);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        hp.run(noise(), 1800.0, 0.7);
        double v =
            hp.high * std::exp(-t / 0.06) + body.sine(200.0 - 40.0 * t) * std::exp(-t / 0.04) * 0.6;
        out.put(s + i, v * vel * 0.4);
    }
}

// Six detuned square waves, the classic metallic cymbal recipe, plus some air.
double metal(Osc* o)
{
    static const double f[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    double v = 0.0;
    for (int k = 0; k < 6; ++k)
        v += o[k].pulse(f[k] * 1.7, 0.5);
    return v / 6.0;
}

void hat(double t0, double vel, double decay)
{
    Osc o[6];
    Svf bp, hp;
    Out out{&dry, 0.25, 0.0, 0.05};
    size_t s = at(t0), n = at(decay * 6.0);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        bp.run(metal(o) + 0.6 * noise(), 10000.0, 1.0);
        hp.run(bp.band, 7000.0, 0.7);
        out.put(s + i, hp.high * std::exp(-t / decay) * std::min(1.0, t / 0.0005) * vel * 0.55);
    }
}

void crash(double t0, double vel)
{
    Osc o[6];
    Svf hp;
    Out out{&dry, -0.2, 0.0, 0.25};
    size_t s = at(t0), n = at(2.5);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        hp.run(0.6 * metal(o) + noise(), 4500.0, 0.8);
        out.put(s + i, hp.high * std::exp(-t / 0.55) * std::min(1.0, t / 0.001) * vel * 0.22);
    }
}

// Band-passed noise sweeping up into a section change.
void riser(double t0, double t1, double vel)
{
    Svf bp;
    Out out{&dry, 0.0, 0.0, 0.35};
    size_t s = at(t0), n = at(t1 - t0);
    for (size_t i = 0; i < n; ++i) {
        double x = double(i) / n;
        bp.run(noise(), 300.0 * std::pow(30.0, x), 2.5);
        out.put(s + i, bp.band * x * x * vel * 0.35);
    }
}

// ---- tonal voices --------------------------------------------------------------------

void bass(double t0, double dur, int note, double vel, double bright)
{
    Osc a, b;
    Svf lp;
    Out out{&pump, 0.0, 0.0, 0.0};
    double hz = midi_hz(note);
    size_t s = at(t0), n = at(dur + 0.04);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double env =
            std::min(1.0, t / 0.003) * (t < dur ? 1.0 : std::max(0.0, 1.0 - (t - dur) / 0.04));
        double v = a.saw(hz) * 0.7 + b.pulse(hz * 0.5, 0.5) * 0.5;
        lp.run(v, 160.0 + bright * 1100.0 * std::exp(-t / 0.09), 1.6);
        out.put(s + i, std::tanh(1.3 * lp.low) * env * vel * 0.5);
    }
}

void arp(double t0, int note, double vel, double bright, double pan)
{
    Osc o;
    Svf lp;
    Out out{&pump, pan, 0.35, 0.12};
    double hz = midi_hz(note);
    size_t s = at(t0), n = at(0.5);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double env =
            std::exp(-t / 0.14) * std::min(1.0, t / 0.002) * std::min(1.0, (0.5 - t) / 0.02);
        lp.run(o.pulse(hz, 0.3), 500.0 + bright * 4200.0 * std::exp(-t / 0.07), 1.3);
        out.put(s + i, lp.low * env * vel * 0.16);
    }
}

void pad(double t0, double dur, const int* notes, int count, double vel)
{
    for (int k = 0; k < count; ++k) {
        for (int d = -1; d <= 1; ++d) {
            Osc o;
            o.phase = 0.37 * (k * 3 + d + 1) - std::floor(0.37 * (k * 3 + d + 1));
            Svf lp;
            Out out{&pump, 0.6 * d, 0.0, 0.35};
            double hz = midi_hz(notes[k] + 0.09 * d);
            size_t s = at(t0), n = at(dur + 0.8);
            for (size_t i = 0; i < n; ++i) {
                double t = double(i) / rate;
                double env = std::min(1.0, t / 0.35) *
                             (t < dur ? 1.0 : std::max(0.0, 1.0 - (t - dur) / 0.8));
                double tt = t0 + t;
                lp.run(o.saw(hz), 1100.0 + 500.0 * std::sin(2.0 * pi * 0.25 * tt), 0.9);
                out.put(s + i, lp.low * env * vel * 0.05);
            }
        }
    }
}

void lead(double t0, double dur, int note, double vel)
{
    Osc a, b, c;
    Svf lp;
    Out out{&dry, 0.1, 0.3, 0.25};
    size_t s = at(t0), n = at(dur + 0.2);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        // vibrato only once the note has settled
        double vib = t > 0.25 ? 0.25 * std::min(1.0, (t - 0.25) / 0.3) *
                                    std::sin(2.0 * pi * 5.5 * (t - 0.25))
                              : 0.0;
        double hz = midi_hz(note + vib);
        double env =
            std::min(1.0, t / 0.008) * (t < dur ? 1.0 - 0.25 * std::min(1.0, t / 0.4)
                                                : 0.75 * std::max(0.0, 1.0 - (t - dur) / 0.2));
        double v = a.saw(hz * 1.0035) + b.saw(hz / 1.0035) + 0.5 * c.pulse(hz * 0.5, 0.5);
        lp.run(v, 1800.0 + 2500.0 * std::exp(-t / 0.12), 1.0);
        out.put(s + i, lp.low * env * vel * 0.15);
    }
}

// The radar's sonar ping.
void ping(double t0, double vel)
{
    Osc a, b;
    Out out{&dry, 0.0, 0.55, 0.45};
    size_t s = at(t0), n = at(1.2);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double env = std::min(1.0, t / 0.003) * std::exp(-t / 0.25);
        out.put(s + i, (a.sine(1318.51) + 0.3 * b.sine(2637.02)) * env * vel * 0.22);
    }
}

// ---- effects -------------------------------------------------------------------------

// Ping-pong echo at a dotted eighth, darkened a little on every repeat.
void run_delay()
{
    size_t d = at(0.75 * beat);
    std::vector<double> bl(dry.size(), 0.0), br(dry.size(), 0.0);
    double damp_l = 0.0, damp_r = 0.0;
    for (size_t i = 0; i < dry.size(); ++i) {
        double ol = i >= d ? bl[i - d] : 0.0;
        double orr = i >= d ? br[i - d] : 0.0;
        damp_l += 0.45 * (ol - damp_l);
        damp_r += 0.45 * (orr - damp_r);
        bl[i] = delay_send[i] + 0.42 * damp_r;
        br[i] = 0.42 * damp_l;
        dry.l[i] += ol * 0.8;
        dry.r[i] += orr * 0.8;
        reverb_send.l[i] += ol * 0.1;
        reverb_send.r[i] += orr * 0.1;
    }
}

struct Comb {
    std::vector<double> buf;
    size_t pos = 0;
    double store = 0.0;
    explicit Comb(size_t n) : buf(n, 0.0) {}
    double run(double in, double feedback, double damp)
    {
        double out = buf[pos];
        store = out * (1.0 - damp) + store * damp;
        buf[pos] = in + store * feedback;
        pos = (pos + 1) % buf.size();
        return out;
    }
};

struct Allpass {
    std::vector<double> buf;
    size_t pos = 0;
    explicit Allpass(size_t n) : buf(n, 0.0) {}
    double run(double in)
    {
        double b = buf[pos];
        buf[pos] = in + b * 0.5;
        pos = (pos + 1) % buf.size();
        return b - in;
    }
};

// A small Schroeder-Moorer hall (eight damped combs and four allpasses per side).
void run_reverb()
{
    static const size_t combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const size_t passes[4] = {556, 441, 341, 225};
    for (int side = 0; side < 2; ++side) {
        std::vector<Comb> c;
        std::vector<Allpass> a;
        for (size_t n : combs)
            c.emplace_back(n + side * 23);
        for (size_t n : passes)
            a.emplace_back(n + side * 23);
        std::vector<double>& in = side ? reverb_send.r : reverb_send.l;
        std::vector<double>& out = side ? dry.r : dry.l;
        for (size_t i = 0; i < in.size(); ++i) {
            double x = in[i] * 0.015, y = 0.0;
            for (Comb& k : c)
                y += k.run(x, 0.84, 0.3);
            for (Allpass& k : a)
                y = k.run(y);
            out[i] += y;
        }
    }
}

// Sidechain: the pads, arpeggio and bass dip under every kick and swell back.
void run_pump()
{
    std::sort(kick_times.begin(), kick_times.end());
    size_t k = 0;
    for (size_t i = 0; i < dry.size(); ++i) {
        double t = double(i) / rate;
        while (k + 1 < kick_times.size() && kick_times[k + 1] <= t)
            ++k;
        double g = 1.0;
        if (!kick_times.empty() && kick_times[k] <= t) {
            double u = t - kick_times[k];
            g = 1.0 - 0.6 * (u < 0.005 ? u / 0.005 : std::exp(-(u - 0.005) / 0.1));
        }
        dry.l[i] += pump.l[i] * g;
        dry.r[i] += pump.r[i] * g;
    }
}

// ---- the score -----------------------------------------------------------------------

// Chords as MIDI notes: pad voicing, then the root in the bass octave.
struct Chord {
    int pad[4];
    int root;
};
const Chord Am{{57, 60, 64, 69}, 33};
const Chord F{{57, 60, 65, 69}, 29};
const Chord C{{55, 60, 64, 67}, 36};
const Chord G{{55, 59, 62, 67}, 31};
const Chord E{{56, 59, 64, 68}, 28};

const Chord* chord_of(int b)
{
    static const Chord* cycle[5] = {&Am, &F, &C, &G, &E};
    static const Chord* outro[4] = {&Am, &F, &G, &Am};
    return b < 15 ? cycle[b % 5] : outro[std::min(b - 15, 3)];
}

struct Note {
    double beat, beats;
    int note;
};

// The lead over bars 10-14 (20-30 s), resolving on the A at 30 s.
const Note melody[] = {
    {0, 1, 69},    {1, 1, 72},      {2, 1.5, 76},  {3.5, 0.5, 74},                // Am
    {4, 1.5, 72},  {5.5, 0.5, 69},  {6, 1, 77},    {7, 1, 76},                    // F
    {8, 1, 76},    {9, 1, 79},      {10, 0.5, 76}, {10.5, 0.5, 74}, {11, 1, 72},  // C
    {12, 1.5, 74}, {13.5, 0.5, 71}, {14, 1, 67},   {15, 1, 74},                   // G
    {16, 1, 76},   {17, 1, 74},     {18, 1, 71},   {19, 1, 68},                   // E
    {20, 5, 69},                                                                  // Am
};

void score()
{
    for (int b = 0; b < 19; ++b) {
        double t = b * bar;
        const Chord& ch = *chord_of(b);

        // Pad throughout, swelling in over the first bar; the last chord rings out.
        double pad_level = b == 0 ? 0.6 : 1.0;
        pad(t, b == 18 ? bar * 0.8 : bar, ch.pad, 4, pad_level);

        // Arpeggio: up and down the chord in sixteenths, opening up with the stars.
        if (b >= 1 && b <= 17) {
            static const int order[8] = {0, 1, 2, 3, 2, 1, 2, 3};
            double bright = b < 5 ? 0.15 + 0.2 * (b - 1) : b < 15 ? 1.0 : 0.6 - 0.2 * (b - 15);
            double vel = b < 5 ? 0.5 + 0.12 * (b - 1) : b < 15 ? 1.0 : 0.8 - 0.25 * (b - 15);
            for (int i = 0; i < 16; ++i) {
                int note =
                    ch.pad[order[i % 8]] + 12 + (i >= 8 && b >= 10 && b < 15 ? 12 * (i % 2) : 0);
                arp(t + i * beat / 4, note, vel * (i % 4 == 0 ? 1.0 : 0.75), bright,
                    i % 2 ? 0.35 : -0.35);
            }
        }

        // Drums.
        if (b >= 2 && b <= 14) {
            for (int q = 0; q < 4; ++q) {
                bool gap = (b == 4 || b == 14) && q == 3;  // a breath before the drop
                if (!gap)
                    kick(t + q * beat, b < 4 ? 0.75 : 1.0);
            }
        }
        if (b == 15)
            kick(t, 1.0);
        if (b >= 5 && b <= 14) {
            clap(t + beat, 1.0);
            if (b != 9 && b != 14)
                clap(t + 3 * beat, 1.0);
        }
        if (b == 3) {
            for (int q = 0; q < 4; ++q)
                hat(t + q * beat + beat / 2, 0.6, 0.03);
        }
        if (b == 4) {
            for (int i = 0; i < 16; ++i)
                hat(t + i * beat / 4, 0.35 + 0.03 * i, 0.025);
        }
        if (b >= 5 && b <= 14) {
            for (int i = 0; i < 16; ++i) {
                int pos = i % 4;
                if (pos == 2)
                    hat(t + i * beat / 4, 0.9, 0.09);  // open, on the off-beat
                else
                    hat(t + i * beat / 4, pos == 0 ? 0.35 : 0.6, 0.03);
            }
        }
        if (b == 4) {  // snare roll into the drop at 10 s
            for (int i = 0; i < 4; ++i)
                snare(t + i * beat / 2, 0.3 + 0.05 * i);
            for (int i = 0; i < 4; ++i)
                snare(t + beat * 2 + i * beat / 4, 0.5 + 0.05 * i);
            for (int i = 0; i < 7; ++i)
                snare(t + beat * 3 + i * beat / 8, 0.7 + 0.05 * i);
            riser(t, t + bar, 1.0);
        }
        if (b == 9 || b == 14) {  // fills into 20 s and 30 s
            for (int i = 0; i < 4; ++i)
                snare(t + 3 * beat + i * beat / 4, 0.6 + 0.12 * i);
            riser(t + bar / 2, t + bar, 0.7);
        }
        if (b == 5 || b == 10 || b == 15)
            crash(t, 1.0);

        // Bass: long notes in the intro, off-beat pulse in the groove, rolling with the lead.
        if (b == 2 || b == 3) {
            bass(t, 0.9, ch.root, 0.7, 0.3);
            bass(t + 2 * beat, 0.9, ch.root, 0.7, 0.3);
        }
        if (b >= 5 && b < 10) {
            for (int q = 0; q < 4; ++q)
                bass(t + q * beat + beat / 2, 0.2, ch.root + 12 * (q == 3), 1.0, 0.8);
        }
        if (b >= 10 && b <= 14) {
            for (int q = 0; q < 4; ++q) {
                if (b == 14 && q == 3)
                    break;
                bass(t + q * beat + beat / 4, 0.1, ch.root, 0.8, 0.6);
                bass(t + q * beat + beat / 2, 0.1, ch.root + 12, 1.0, 0.9);
                bass(t + q * beat + 3 * beat / 4, 0.1, ch.root, 0.8, 0.6);
            }
        }
        if (b == 15)
            bass(t, 1.5, ch.root, 1.0, 0.5);

        // Sonar pings while the radar sweeps (20-25 s).
        if (b == 10 || b == 11 || b == 12)
            ping(t, 1.0);
    }
    for (const Note& n : melody)
        lead(10 * bar + n.beat * beat, n.beats * beat * 0.92, n.note, 1.0);
}

void write_le(FILE* f, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        std::fputc(static_cast<int>((v >> (8 * i)) & 0xff), f);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    score();
    run_delay();
    run_pump();
    run_reverb();

    // Fade out over the last four seconds, then normalise to 1.5 dB below full scale
    // so the encoded file cannot clip.
    size_t n = dry.size() - 1;
    double peak = 0.0;
    double dc_l = 0.0, dc_r = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        // 10 Hz DC blocker: the kick's first half-cycle leaves a small offset
        dc_l += 0.0014 * (dry.l[i] - dc_l);
        dc_r += 0.0014 * (dry.r[i] - dc_r);
        dry.l[i] -= dc_l;
        dry.r[i] -= dc_r;
        double g = t < length - 4.0 ? 1.0 : 0.5 + 0.5 * std::cos(pi * (t - (length - 4.0)) / 4.0);
        dry.l[i] *= g;
        dry.r[i] *= g;
        peak = std::max(peak, std::max(std::fabs(dry.l[i]), std::fabs(dry.r[i])));
    }
    double gain = peak > 0.0 ? 0.84 / peak : 1.0;

    FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    uint32_t data = static_cast<uint32_t>(n * 4);
    std::fputs("RIFF", f);
    write_le(f, 36 + data, 4);
    std::fputs("WAVEfmt ", f);
    write_le(f, 16, 4);
    write_le(f, 1, 2);  // PCM
    write_le(f, 2, 2);  // stereo
    write_le(f, rate, 4);
    write_le(f, rate * 4, 4);  // bytes per second
    write_le(f, 4, 2);         // bytes per frame
    write_le(f, 16, 2);
    std::fputs("data", f);
    write_le(f, data, 4);
    for (size_t i = 0; i < n; ++i) {
        write_le(
            f, static_cast<uint16_t>(static_cast<int16_t>(std::lround(dry.l[i] * gain * 32767.0))),
            2);
        write_le(
            f, static_cast<uint16_t>(static_cast<int16_t>(std::lround(dry.r[i] * gain * 32767.0))),
            2);
    }
    if (std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("peak before normalising %.3f, gain %.3f\n", peak, gain);
    return 0;
}
