#include "driver/run_report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "driver/help.h"

namespace {

// JSON has no infinities and no NaN: those are null.
QJsonValue number(double value) {
  return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

QJsonValue count(std::int64_t value) { return QJsonValue(qint64(value)); }

QJsonValue range(const ValueRange& r) {
  if (r.empty()) return QJsonValue();
  return QJsonObject{{"min", number(r.min)}, {"max", number(r.max)}};
}

QJsonObject sigmaObject(const RunTotals& totals) {
  const SigmaSummary s = summariseSigma(totals.lineSigma);
  // Without a sigma that is a number the keys stay, null, so readers find
  // the same keys in every report.
  return QJsonObject{
      {"lines", count(s.count)}, {"notANumber", count(s.notANumber)},
      {"min", number(s.min)},    {"q1", number(s.q1)},
      {"median", number(s.median)}, {"q3", number(s.q3)},
      {"max", number(s.max)}};
}

QJsonArray outputArray(const RunFacts& facts) {
  QJsonArray outputs;
  for (const ReportedOutput& output : facts.outputs)
    outputs.append(QJsonObject{{"name", jsonName(output.name)},
                               {"bytes", count(std::int64_t(output.bytes))}});
  return outputs;
}

QJsonObject inputObject(const RunFacts& facts) {
  QJsonValue modified;
  if (facts.inputModified) {
    const QString text = utcTime(*facts.inputModified);
    if (!text.isEmpty()) modified = text;
  }
  return QJsonObject{
      {"name", jsonName(facts.inputName)},
      {"file", jsonName(facts.inputFile)},
      {"path", jsonName(facts.inputPath)},
      {"size", facts.inputSize ? count(std::int64_t(*facts.inputSize))
                               : QJsonValue()},
      {"modified", modified},
      {"bytes", count(std::int64_t(facts.inputBytes))},
      {"form", facts.form},
      {"compression", facts.compression}};
}

// The length of the well-formed UTF-8 sequence at `s` (of `left` bytes),
// or 0: no overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t utf8Sequence(const unsigned char* s, std::size_t left) {
  const unsigned lead = s[0];
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || s[1] < low || s[1] > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (s[k] < 0x80 || s[k] > 0xBF) return 0;
  }
  return length;
}

}  // namespace

SigmaSummary summariseSigma(std::vector<float> sigmas) {
  SigmaSummary s;
  const auto isNan = [](float v) { return std::isnan(v); };
  const auto numbers = std::remove_if(sigmas.begin(), sigmas.end(), isNan);
  s.notANumber = std::int64_t(sigmas.end() - numbers);
  sigmas.erase(numbers, sigmas.end());
  s.count = std::int64_t(sigmas.size());
  if (sigmas.empty()) return s;
  std::sort(sigmas.begin(), sigmas.end());
  const auto atRank = [&](std::int64_t quarters) {
    const std::int64_t rank = (quarters * s.count + 3) / 4;  // ceil(q n / 4)
    return sigmas[std::size_t(std::max<std::int64_t>(rank, 1) - 1)];
  };
  s.min = sigmas.front();
  s.q1 = atRank(1);
  s.median = atRank(2);
  s.q3 = atRank(3);
  s.max = sigmas.back();
  return s;
}

QString jsonName(const std::string& bytes) {
  const auto* const s = reinterpret_cast<const unsigned char*>(bytes.data());
  QString text;
  std::size_t valid = 0;  // start of the valid run not yet taken
  const auto takeValid = [&](std::size_t end) {
    text += QString::fromUtf8(bytes.data() + valid, qsizetype(end - valid));
  };
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = utf8Sequence(s + at, bytes.size() - at);
    if (length > 0) {
      at += length;
      continue;
    }
    takeValid(at);
    text += QChar(char16_t(0xDC00 + s[at]));
    valid = ++at;
  }
  takeValid(bytes.size());
  return text;
}

QString utcTime(const timespec& time) {
  tm utc{};
  char seconds[64];
  if (gmtime_r(&time.tv_sec, &utc) == nullptr ||
      strftime(seconds, sizeof seconds, "%Y-%m-%dT%H:%M:%S", &utc) == 0)
    return QString();
  char text[96];
  std::snprintf(text, sizeof text, "%s.%09ldZ", seconds, long(time.tv_nsec));
  return QString::fromLatin1(text);
}

QByteArray reportJson(const RunFacts& facts, const RunTotals& totals) {
  const ClassCounts& c = totals.classes;
  const PointBounds& b = totals.bounds;
  const QJsonObject report{
      {"scanfit", scanfitVersion()},
      {"input", inputObject(facts)},
      {"points", count(totals.points)},
      {"textLines", count(totals.textLines)},
      {"rejectedLines", count(totals.rejectedLines)},
      {"scanLines", count(totals.scanLines)},
      {"fittedLines", count(totals.fittedLines)},
      {"nadirRecords",
       QJsonObject{{"measured", count(totals.measuredNadirs)},
                   {"interpolated",
                    count(totals.nadirRecords - totals.measuredNadirs)}}},
      {"classes", QJsonObject{{"fit", count(c.fit)},
                              {"high", count(c.high)},
                              {"low", count(c.low)},
                              {"none", count(c.unclassified)}}},
      {"sigma", sigmaObject(totals)},
      {"threshold", number(totals.threshold)},
      {"bounds", QJsonObject{{"time", range(b.col0)},
                             {"latitude", range(b.latitude)},
                             {"longitude", range(b.longitude)},
                             {"elevation", range(b.elevation)},
                             {"sweepIndex", range(b.sweepIndex)}}},
      {"outputs", outputArray(facts)},
      {"seconds", QJsonObject{{"wall", facts.wallSeconds},
                              {"processor", facts.processorSeconds}}},
      {"threads", totals.threads},
  };
  return QJsonDocument(report).toJson(QJsonDocument::Indented);
}
