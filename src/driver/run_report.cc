#include "driver/run_report.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

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

// The input's identity: null size and time for a pipe or a device.
QJsonObject inputObject(const RunFacts& facts) {
  const InputIdentity& in = facts.input;
  return QJsonObject{
      {"name", facts.inputName},
      {"file", facts.inputFile},
      {"path", QFile::decodeName(in.path)},
      {"size", in.regular ? count(in.size) : QJsonValue()},
      {"modified", in.regular ? QJsonValue(QString::fromLatin1(in.modified))
                              : QJsonValue()},
      {"bytes", count(std::int64_t(facts.inputBytes))},
      {"form", facts.form},
      {"compression", facts.compression}};
}

QJsonArray outputArray(const RunFacts& facts) {
  QJsonArray outputs;
  for (const ReportedOutput& output : facts.outputs)
    outputs.append(QJsonObject{{"name", output.name},
                               {"bytes", count(std::int64_t(output.bytes))}});
  return outputs;
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
