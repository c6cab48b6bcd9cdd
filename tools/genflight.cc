// genflight: writes a synthetic airborne laser-scanner flight over sea ice,
// for the sample that ships with scanfit, for the tests and for benchmarks.
//
// Usage:
//   genflight [--points N] [--seed S] [--format six|seven|binary]
//             [--output FILE]
//
//   --points N  number of points to write (default 4000)
//   --seed S    unsigned 64-bit seed (default 1)
//   --format    six     text lines "time lat lon elev intensity sweep" (default)
//               seven   the same plus a return number 1-3
//               binary  18-byte little-endian point records, no header
//   --output F  file to write; standard output when absent
//   --help      this text on standard output
//
// Bad arguments print the usage on standard error and end with status 2; a
// write failure ends with status 1.
//
// Examples:
//   genflight --points 4000 --seed 2 --output data/sample_flight.txt
//       (regenerates the shipped sample exactly; seed 2 was picked because
//       its first 4000 points hold high and low returns and a glitch line)
//   genflight --points 10000000 --seed 7 --format binary --output big.sbi
//
// The same seed, count and format give the same bytes on every machine: the
// generator uses its own random numbers and its own sine, and otherwise only
// exactly specified operations (+ - * / floor fabs fmin fmax llround), so no
// library version can change the output. Every point is first built in the
// scaled integers of the binary record; the text forms print those integers,
// so a flight written as text and as binary holds the same values.
//
// The flight: an aircraft at 60-70 m/s somewhere between 78.5 and 81.5
// degrees north flies straight legs of 4-15 minutes joined by gentle turns
// (1.5 degrees per second) that bring it back once it strays 40 km from its
// start. A scan line every ~0.05 s sweeps indices from about 0 to 250 (125 at
// nadir) across ~300 m of ground, with random dropouts; open water returns
// little off nadir. The surface is level ice (0.3-1 m), pressure ridges up to
// ~5 m and open-water leads at 0 m, with centimetre noise. About 0.1% of the
// points are high returns (birds, cloud: 20-450 m above the ice), 0.05% are
// low returns (55-250 m below), and about one line in 250 is a sensor glitch
// of 2-10 points. Times are decimal hours from a start between 09 and 14 h,
// wrapping at midnight for flights that long.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scan/point_record.h"

namespace {

// ---------------------------------------------------------------------------
// Command line

enum class Format { Six, Seven, Binary };

struct Options {
  uint64_t points = 4000;
  uint64_t seed = 1;
  Format format = Format::Six;
  std::string output;  // empty: standard output
  bool help = false;
};

const char kUsage[] =
    "usage: genflight [--points N] [--seed S] [--format six|seven|binary] "
    "[--output FILE]\n";

bool parseUnsigned(const char* text, uint64_t* value) {
  if (*text < '0' || *text > '9') return false;  // strtoull takes "-1"
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = v;
  return true;
}

bool parseFormat(const char* text, Format* format) {
  if (std::strcmp(text, "six") == 0)
    *format = Format::Six;
  else if (std::strcmp(text, "seven") == 0)
    *format = Format::Seven;
  else if (std::strcmp(text, "binary") == 0)
    *format = Format::Binary;
  else
    return false;
  return true;
}

bool parseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (std::strcmp(name, "--help") == 0) {
      options->help = true;
      continue;
    }
    if (i + 1 >= argc) return false;  // every other option takes a value
    const char* value = argv[++i];
    bool ok = false;
    if (std::strcmp(name, "--points") == 0)
      ok = parseUnsigned(value, &options->points);
    else if (std::strcmp(name, "--seed") == 0)
      ok = parseUnsigned(value, &options->seed);
    else if (std::strcmp(name, "--format") == 0)
      ok = parseFormat(value, &options->format);
    else if (std::strcmp(name, "--output") == 0) {
      options->output = value;
      ok = !options->output.empty();
    }
    if (!ok) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Random numbers: xoshiro256** seeded through splitmix64. Written out here
// because the standard distributions differ between library versions.

uint64_t splitmix64(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

struct Rng {
  uint64_t s[4];
};

Rng makeRng(uint64_t seed) {
  Rng rng;
  for (uint64_t& word : rng.s) word = splitmix64(&seed);
  return rng;
}

uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

uint64_t nextRandom(Rng& rng) {
  uint64_t* s = rng.s;
  const uint64_t result = rotl(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return result;
}

// Uniform in [0, 1) with 53 random bits.
double uniform(Rng& rng) { return double(nextRandom(rng) >> 11) * 0x1.0p-53; }
double uniform(Rng& rng, double low, double high) {
  return low + (high - low) * uniform(rng);
}
int uniformInt(Rng& rng, int low, int high) {  // inclusive bounds
  return low + int(nextRandom(rng) % uint64_t(high - low + 1));
}
bool chance(Rng& rng, double probability) { return uniform(rng) < probability; }

// Roughly normal with unit deviation: the sum of four uniforms, rescaled.
// Needs no logarithm or cosine, so it is the same everywhere.
double gaussian(Rng& rng) {
  const double sum = uniform(rng) + uniform(rng) + uniform(rng) + uniform(rng);
  return (sum - 2.0) * 1.7320508075688772;  // sqrt(12 / 4)
}

// ---------------------------------------------------------------------------
// Sine and cosine from a Taylor series, so that the track does not depend on
// the platform's mathematics library.

constexpr double kPi = 3.14159265358979323846;

double portableSin(double x) {
  x -= 2 * kPi * std::floor((x + kPi) / (2 * kPi));  // to [-pi, pi)
  if (x > kPi / 2)
    x = kPi - x;
  else if (x < -kPi / 2)
    x = -kPi - x;
  const double x2 = x * x;
  double term = x;
  double sum = x;
  for (int k = 1; k <= 9; ++k) {
    term *= -x2 / double((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}

double portableCos(double x) { return portableSin(x + kPi / 2); }

double radians(double degrees) { return degrees * (kPi / 180.0); }

// ---------------------------------------------------------------------------
// Sea-ice surface: smooth value noise over a hashed lattice, in metres east
// and north of the flight's start.

double latticeValue(int64_t ix, int64_t iy, uint64_t salt) {
  uint64_t h = salt ^ (uint64_t(ix) * 0x9E3779B97F4A7C15ULL) ^
               (uint64_t(iy) * 0xC2B2AE3D27D4EB4FULL);
  return double(splitmix64(&h) >> 11) * 0x1.0p-53;
}

double smoothstep(double t) { return t * t * (3 - 2 * t); }

// Smooth field in [0, 1) that varies over about `cell` metres.
double valueNoise(double east, double north, double cell, uint64_t salt) {
  const double x = east / cell;
  const double y = north / cell;
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const int64_t ix = int64_t(fx);
  const int64_t iy = int64_t(fy);
  const double tx = smoothstep(x - fx);
  const double ty = smoothstep(y - fy);
  const double bottom =
      latticeValue(ix, iy, salt) +
      tx * (latticeValue(ix + 1, iy, salt) - latticeValue(ix, iy, salt));
  const double top =
      latticeValue(ix, iy + 1, salt) +
      tx * (latticeValue(ix + 1, iy + 1, salt) - latticeValue(ix, iy + 1, salt));
  return bottom + ty * (top - bottom);
}

struct Surface {
  uint64_t levelSalt, leadSalt, leadWidthSalt, ridgeSalt, ridgeZoneSalt;
};

Surface makeSurface(Rng& rng) {
  return Surface{nextRandom(rng), nextRandom(rng), nextRandom(rng), nextRandom(rng),
                 nextRandom(rng)};
}

struct Ground {
  double elevation;  // without noise
  bool water;
};

Ground groundAt(const Surface& surface, double east, double north) {
  // Leads are the narrow bands where a slow field crosses one half: long,
  // winding cracks some tens of metres wide, absent where the width field
  // is low.
  const double leadField = valueNoise(east, north, 1500, surface.leadSalt) - 0.5;
  const double leadWidth =
      0.03 * (valueNoise(east, north, 4000, surface.leadWidthSalt) - 0.3);
  if (std::fabs(leadField) < leadWidth) return Ground{0.0, true};

  // Ridges follow the half crossings of a faster field, with a triangular
  // profile, and rise only inside ridged zones.
  const double level = 0.3 + 0.7 * valueNoise(east, north, 350, surface.levelSalt);
  const double zone = valueNoise(east, north, 900, surface.ridgeZoneSalt);
  double ridge = 0.0;
  if (zone > 0.35) {
    const double height = 5.0 * (zone - 0.35) / 0.65;
    const double across =
        std::fabs(valueNoise(east, north, 220, surface.ridgeSalt) - 0.5) / 0.04;
    if (across < 1.0) ridge = height * (1.0 - across);
  }
  return Ground{level + ridge, false};
}

// ---------------------------------------------------------------------------
// Aircraft track

constexpr double kMetresPerDegree = 111120.0;
constexpr double kLinePeriod = 0.05;     // seconds between scan lines
constexpr double kSweepDuration = 0.04;  // seconds for indices 0..250
constexpr int kSweepMax = 250;
constexpr int kNadir = 125;
constexpr double kTurnRate = 1.5 * kPi / 180.0;  // radians per second
constexpr double kHomeRadius = 40000.0;          // metres

struct Site {
  double latitude0, longitude0;  // where east = north = 0
  double startHours;
};

struct Aircraft {
  double east = 0, north = 0;  // metres from the site
  double heading = 0;          // radians clockwise from north
  double speed = 65;           // metres per second
  double halfSwath = 150;      // metres from nadir to either edge
  double legLeft = 0;          // seconds of straight flight left
  double turnLeft = 0;         // radians still to turn, signed
  double seconds = 0;          // since the first scan line
};

double nextLegSeconds(Rng& rng) { return uniform(rng, 240, 900); }

// A turn of 20-100 degrees either way, or, once far from the site, a
// larger turn towards the side where the site lies.
double chooseTurn(Rng& rng, const Aircraft& a) {
  const double distanceSquared = a.east * a.east + a.north * a.north;
  if (distanceSquared > kHomeRadius * kHomeRadius) {
    const double rightEast = portableCos(a.heading);
    const double rightNorth = -portableSin(a.heading);
    const bool siteOnRight = -a.east * rightEast - a.north * rightNorth > 0;
    const double amount = radians(uniform(rng, 90, 160));
    return siteOnRight ? amount : -amount;
  }
  const double amount = radians(uniform(rng, 20, 100));
  return chance(rng, 0.5) ? amount : -amount;
}

void steer(Rng& rng, Aircraft& a, double dt) {
  if (a.turnLeft != 0) {
    const double step = std::fmin(std::fabs(a.turnLeft), kTurnRate * dt);
    const double signedStep = a.turnLeft > 0 ? step : -step;
    a.heading += signedStep;
    a.turnLeft -= signedStep;
    if (std::fabs(a.turnLeft) < 1e-12) a.turnLeft = 0;
    if (a.turnLeft == 0) a.legLeft = nextLegSeconds(rng);
    return;
  }
  a.heading += 0.0002 * gaussian(rng);  // drift corrections on a leg
  a.legLeft -= dt;
  if (a.legLeft <= 0) a.turnLeft = chooseTurn(rng, a);
}

void advance(Rng& rng, Aircraft& a, double dt) {
  steer(rng, a, dt);
  a.speed = std::fmin(70.0, std::fmax(60.0, a.speed + 0.05 * gaussian(rng)));
  a.halfSwath = std::fmin(160.0, std::fmax(140.0, a.halfSwath + 0.1 * gaussian(rng)));
  a.east += a.speed * dt * portableSin(a.heading);
  a.north += a.speed * dt * portableCos(a.heading);
  a.seconds += dt;
}

// ---------------------------------------------------------------------------
// Points

struct Point {
  int64_t timeE7;
  int32_t latitudeE7, longitudeE7, elevationE3;
  int intensity;     // 0..255
  int sweep;         // 0..250
  int returnNumber;  // 1..3, written in the seven-column form only
};

int32_t toScaled(double value, double scale) {
  return int32_t(std::llround(value * scale));
}

// Everything that stays fixed for the points of one scan line.
struct LineFrame {
  double seconds;
  double east, north;
  double alongEast, alongNorth;    // unit vector along track
  double acrossEast, acrossNorth;  // unit vector to the right
  double speed, halfSwath;
  double metresPerDegreeEast;
};

LineFrame frameOf(const Site& site, const Aircraft& a) {
  const double s = portableSin(a.heading);
  const double c = portableCos(a.heading);
  const double latitude = site.latitude0 + a.north / kMetresPerDegree;
  LineFrame f;
  f.seconds = a.seconds;
  f.east = a.east;
  f.north = a.north;
  f.alongEast = s;
  f.alongNorth = c;
  f.acrossEast = c;
  f.acrossNorth = -s;
  f.speed = a.speed;
  f.halfSwath = a.halfSwath;
  f.metresPerDegreeEast = kMetresPerDegree * portableCos(radians(latitude));
  return f;
}

int clampByte(double value) {
  if (value < 0) return 0;
  if (value > 255) return 255;
  return int(value);
}

int ordinaryReturnNumber(Rng& rng) {
  const double r = uniform(rng);
  return r < 0.96 ? 1 : r < 0.995 ? 2 : 3;
}

// The return at one sweep index, or false for a dropout.
bool makePoint(Rng& rng, const Site& site, const Surface& surface, const LineFrame& f,
               int sweep, double keepProbability, Point* p) {
  const double offset = sweep * (kSweepDuration / kSweepMax);
  const double along = f.speed * offset;
  const double across = f.halfSwath * (sweep - kNadir) / kNadir;
  const double east = f.east + along * f.alongEast + across * f.acrossEast;
  const double north = f.north + along * f.alongNorth + across * f.acrossNorth;
  if (!chance(rng, keepProbability)) return false;
  const Ground ground = groundAt(surface, east, north);

  // Calm water reflects the beam away except near nadir.
  const bool nearNadir = sweep > kNadir - 15 && sweep < kNadir + 15;
  if (ground.water && !nearNadir && chance(rng, 0.6)) return false;

  double elevation;
  double intensity;
  int returnNumber = ordinaryReturnNumber(rng);
  if (ground.water) {
    elevation = 0.015 * gaussian(rng);
    intensity = nearNadir ? uniform(rng, 150, 256) : uniform(rng, 0, 30);
  } else {
    elevation = ground.elevation + 0.02 * gaussian(rng);
    intensity = uniform(rng, 90, 200) + 10 * (ground.elevation - 0.3);
  }
  const double outlier = uniform(rng);
  if (outlier < 0.001) {  // bird or cloud
    elevation += uniform(rng, 20, 450);
    intensity = uniform(rng, 5, 60);
    returnNumber = 1;
  } else if (outlier < 0.0015) {  // multipath, far below the surface
    elevation -= uniform(rng, 55, 250);
    intensity = uniform(rng, 0, 25);
    returnNumber = 3;
  }

  // Wraps at midnight; a day is 240000000 units of 10^-7 hour.
  const double hours = site.startHours + (f.seconds + offset) / 3600.0;
  p->timeE7 = std::llround(hours * 1e7) % 240000000;
  p->latitudeE7 = toScaled(site.latitude0 + north / kMetresPerDegree, 1e7);
  p->longitudeE7 = toScaled(site.longitude0 + east / f.metresPerDegreeEast, 1e7);
  p->elevationE3 = toScaled(elevation, 1e3);
  p->intensity = clampByte(intensity);
  p->sweep = sweep;
  p->returnNumber = returnNumber;
  return true;
}

// ---------------------------------------------------------------------------
// Output: one large buffer, flushed in big blocks.

struct Sink {
  std::FILE* file;
  Format format;
  std::vector<char> buffer;
  size_t used = 0;
  bool failed = false;
};

constexpr size_t kSinkBytes = 1 << 20;
constexpr size_t kLongestLine = 96;

void flush(Sink& sink) {
  if (sink.used != 0 &&
      std::fwrite(sink.buffer.data(), 1, sink.used, sink.file) != sink.used)
    sink.failed = true;
  sink.used = 0;
}

char* putUnsigned(char* out, uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = char('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *out++ = digits[--n];
  return out;
}

// `scaled` / 10^decimals with exactly `decimals` digits after the point.
char* putFixed(char* out, int64_t scaled, int decimals) {
  uint64_t magnitude = uint64_t(scaled);
  if (scaled < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;
  }
  uint64_t unit = 1;
  for (int i = 0; i < decimals; ++i) unit *= 10;
  out = putUnsigned(out, magnitude / unit);
  *out++ = '.';
  uint64_t fraction = magnitude % unit;
  for (int i = decimals - 1; i >= 0; --i) {
    out[i] = char('0' + fraction % 10);
    fraction /= 10;
  }
  return out + decimals;
}

void writeText(Sink& sink, const Point& p) {
  char* out = sink.buffer.data() + sink.used;
  char* const start = out;
  out = putFixed(out, p.timeE7, 7);
  *out++ = ' ';
  out = putFixed(out, p.latitudeE7, 7);
  *out++ = ' ';
  out = putFixed(out, p.longitudeE7, 7);
  *out++ = ' ';
  out = putFixed(out, p.elevationE3, 3);
  *out++ = ' ';
  out = putUnsigned(out, uint64_t(p.intensity));
  *out++ = ' ';
  out = putUnsigned(out, uint64_t(p.sweep));
  if (sink.format == Format::Seven) {
    *out++ = ' ';
    out = putUnsigned(out, uint64_t(p.returnNumber));
  }
  *out++ = '\n';
  sink.used += size_t(out - start);
}

void writeBinary(Sink& sink, const Point& p) {
  PointRecord record;
  record.col0E7 = int32_t(p.timeE7);
  record.latitudeE7 = p.latitudeE7;
  record.longitudeE7 = p.longitudeE7;
  record.elevationE3 = p.elevationE3;
  record.col4Byte = uint8_t(p.intensity);
  record.sweepIndexByte = uint8_t(p.sweep);
  encodePointRecord(record,
                    reinterpret_cast<unsigned char*>(sink.buffer.data() + sink.used));
  sink.used += kPointRecordSize;
}

void emit(Sink& sink, const Point& p, uint64_t& remaining) {
  if (sink.used + kLongestLine > sink.buffer.size()) flush(sink);
  if (sink.format == Format::Binary)
    writeBinary(sink, p);
  else
    writeText(sink, p);
  --remaining;
}

// ---------------------------------------------------------------------------
// Flight

Site makeSite(Rng& rng) {
  Site site;
  site.latitude0 = uniform(rng, 78.5, 81.5);
  site.longitude0 = uniform(rng, -10.0, 30.0);
  site.startHours = uniform(rng, 9.0, 14.0);
  return site;
}

// A full sweep with dropouts: first index 0-2, last 248-250.
void scanLine(Rng& rng, const Site& site, const Surface& surface, const LineFrame& frame,
              Sink& sink, uint64_t& remaining) {
  const int first = uniformInt(rng, 0, 2);
  const int last = uniformInt(rng, kSweepMax - 2, kSweepMax);
  const double keepProbability = uniform(rng, 0.62, 0.99);
  Point p;
  for (int sweep = first; sweep <= last && remaining > 0; ++sweep)
    if (makePoint(rng, site, surface, frame, sweep, keepProbability, &p))
      emit(sink, p, remaining);
}

// A sensor glitch: 2-10 returns at rising indices in the middle of the
// sweep, too few for the analyser to fit. It starts above 100 so that it
// can neither continue the line before it nor be continued by the next.
void glitchLine(Rng& rng, const Site& site, const Surface& surface,
                const LineFrame& frame, Sink& sink, uint64_t& remaining) {
  const int count = uniformInt(rng, 2, 10);
  int sweep = uniformInt(rng, 100, 200);
  Point p;
  for (int i = 0; i < count && remaining > 0; ++i) {
    if (makePoint(rng, site, surface, frame, sweep, 1.0, &p)) emit(sink, p, remaining);
    sweep += uniformInt(rng, 1, 3);
  }
}

void fly(uint64_t seed, uint64_t points, Sink& sink) {
  Rng rng = makeRng(seed);
  const Site site = makeSite(rng);
  const Surface surface = makeSurface(rng);
  Aircraft aircraft;
  aircraft.heading = uniform(rng, 0, 2 * kPi);
  aircraft.speed = uniform(rng, 62, 68);
  aircraft.legLeft = nextLegSeconds(rng);

  uint64_t remaining = points;
  while (remaining > 0) {
    const LineFrame frame = frameOf(site, aircraft);
    if (chance(rng, 0.004))
      glitchLine(rng, site, surface, frame, sink, remaining);
    else
      scanLine(rng, site, surface, frame, sink, remaining);
    advance(rng, aircraft, kLinePeriod + 0.0005 * gaussian(rng));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseArguments(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  const bool toFile = !options.output.empty();
  std::FILE* file = toFile ? std::fopen(options.output.c_str(), "wb") : stdout;
  if (file == nullptr) {
    std::fprintf(stderr, "genflight: cannot create %s: %s\n", options.output.c_str(),
                 std::strerror(errno));
    return 1;
  }
  Sink sink{file, options.format, std::vector<char>(kSinkBytes)};
  fly(options.seed, options.points, sink);
  flush(sink);
  const bool closed = toFile ? std::fclose(file) == 0 : std::fflush(file) == 0;
  if (sink.failed || !closed) {
    std::fprintf(stderr, "genflight: cannot write %s: %s\n",
                 toFile ? options.output.c_str() : "standard output",
                 std::strerror(errno));
    return 1;
  }
  return 0;
}
