#include "driver/stream_run.h"

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "analysis/scan_fit.h"
#include "driver/memory_limit.h"
#include "driver/rejected_messages.h"
#include "output/line_outputs.h"
#include "output/point_outputs.h"
#include "output/row_block.h"
#include "scan/block_parse.h"
#include "scan/decompress.h"
#include "scan/scan_data.h"
#include "scan/whole_lines.h"

namespace {

// Batches in flight per thread, and at most: a few per thread keep every
// thread busy while a serial stage holds one, and the cap bounds memory on
// machines of many processors (a batch of a text input takes about half a
// MiB: its block, its columns and its rows).
constexpr int kBatchesPerThread = 2;
constexpr int kMostBatches = 48;

// A test build (SCANFIT_BATCHES_OUT_OF_ORDER) hands batches to the stages
// after the fit's first steps out of order, as a busy machine may: the
// serial stages must put them back in order themselves.
#ifdef SCANFIT_BATCHES_OUT_OF_ORDER
constexpr bool kBatchesOutOfOrder = true;
#else
constexpr bool kBatchesOutOfOrder = false;
#endif

struct Batch {
  SuppliedBlock supplied;   // a compressed input's, decompressed
  std::int64_t number = 0;  // in input order, from 0
  InputBlock input;
  ScanData data;
  RejectedLines rejected;
  std::int64_t parsedPoints = 0;
  PointBounds bounds;               // of the points parsed from the block
  std::int64_t textLines = 0;
  std::int64_t firstLineIndex = 0;  // of the input, for the messages
  std::vector<LinePlan> plans;
  std::int64_t measuredNadirs = 0;
  ClassCounts classes;
  RowBlock ver, fit;
  PointRows points;
};

// Batches are reused rather than made anew: their buffers keep their
// capacity, and fresh memory, which costs a page fault per page, is
// touched once per run.
struct BatchPool {
  std::mutex mutex;
  std::vector<std::unique_ptr<Batch>> all;
  std::vector<Batch*> idle;

  Batch* take() {
    const std::lock_guard<std::mutex> lock(mutex);
    if (idle.empty()) {
      all.push_back(std::make_unique<Batch>());
      return all.back().get();
    }
    Batch* const batch = idle.back();
    idle.pop_back();
    return batch;
  }

  void give(Batch* batch) {
    const std::lock_guard<std::mutex> lock(mutex);
    idle.push_back(batch);
  }
};

// What the serial stages carry from one batch to the next.
struct Stream {
  InputReader& reader;
  const RunSinks& sinks;
  std::ostream& messages;
  Progress* progress;
  RunTotals& totals;
  int threads;
  ScanData heldBack;  // the last scan line seen, not known to be whole
  BatchPool pool;
  float threshold = kInitialThreshold;
  // An output could not be written: set by the last stage, read by the
  // first, which may run at the same time on another thread.
  std::atomic<bool> failed{false};
  const OutputBuffer* failedOutput = nullptr;  // the last stage's own
  std::int64_t writtenPoints = 0;  // the last stage's own count
  std::int64_t batchesRead = 0;
  // A compressed input's read failed: set by the reading stage, read by
  // the decompression, which may run at the same time on another thread.
  std::atomic<bool> readStopped{false};
  std::atomic<std::int64_t> oddPlanned{-1};  // see holdEvenBatch
};

// Stage 1.
Batch* readBatch(Stream& stream, oneapi::tbb::flow_control& control) {
  if (!stream.failed) {
    Batch* const batch = stream.pool.take();
    if (readInputBlock(stream.reader, batch->input)) {
      batch->number = stream.batchesRead++;
      return batch;
    }
    stream.pool.give(batch);
  }
  control.stop();
  return nullptr;
}

// Before stage 1, for a compressed input: the decompression, one block
// after another while the blocks before are converted and fitted.
Batch* decompressBatch(Stream& stream, oneapi::tbb::flow_control& control) {
  if (!stream.failed && !stream.readStopped) {
    Batch* const batch = stream.pool.take();
    if (decompressBlock(*stream.reader.decompressor, batch->supplied))
      return batch;
    stream.pool.give(batch);
  }
  control.stop();
  return nullptr;
}

// Stage 1 of a compressed input: the batch's decompressed bytes read. A
// read that fails (a line past the bound) stops the decompression; the
// batches already decompressed go on, empty.
void readSuppliedBatch(Stream& stream, Batch& batch) {
  stream.reader.supply = &batch.supplied;
  if (!readInputBlock(stream.reader, batch.input)) stream.readStopped = true;
  batch.number = stream.batchesRead++;
}

// Stage 2.
void parseBatch(Batch& batch) {
  batch.data.clear();
  batch.rejected.clear();
  batch.textLines = parseInputBlock(batch.input, batch.data, batch.rejected);
  batch.parsedPoints = std::int64_t(batch.data.pointCount());
  batch.bounds = PointBounds();
  batch.bounds.add(batch.data);
}

// Stage 3.
void cutBatch(Stream& stream, Batch& batch) {
  keepWholeLines(batch.data, stream.heldBack, batch.input.endsInput);
  batch.data.sevenColumns = batch.input.form == 7;
  batch.firstLineIndex = stream.totals.textLines;
  RunTotals& totals = stream.totals;
  totals.textLines += batch.textLines;
  totals.rejectedLines += std::int64_t(batch.rejected.size());
  totals.points += batch.parsedPoints;
  // Lines with an end, and at the end of the input the last line, if any.
  const std::int64_t starts = std::int64_t(batch.data.lineStart.size());
  if (!batch.input.endsInput)
    totals.scanLines += starts - 1;
  else if (batch.data.pointCount() > 0)
    totals.scanLines += starts;
}

// Stage 4 of a test build: an even batch waits until the batch after it
// is through (for a while: it may never come), so that the odd batch
// reaches stage 5 first. With one thread nothing else could run it.
void holdEvenBatch(Stream& stream, const Batch& batch) {
  if (batch.number % 2 == 1) {
    std::int64_t seen = stream.oddPlanned.load();
    while (seen < batch.number &&
           !stream.oddPlanned.compare_exchange_weak(seen, batch.number)) {
    }
    return;
  }
  if (stream.threads < 2 || batch.input.endsInput) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  while (stream.oddPlanned.load() < batch.number + 1 &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::yield();
}

// Stage 6.
void finishBatch(Batch& batch) {
  batch.measuredNadirs = finishScanLines(batch.data, batch.plans);
  batch.ver.clear();
  batch.fit.clear();
  writeVerFile(batch.ver, batch.data);
  writeFitFile(batch.fit, batch.data);
  for (RowBlock* rows :
       {&batch.points.fit, &batch.points.high, &batch.points.low})
    rows->clear();
  batch.classes = batch.input.binary
                      ? writeBinaryPoints(batch.data, batch.points)
                      : writeTextPoints(batch.data, batch.points);
}

// What the report counts of a written batch.
void addToTotals(RunTotals& totals, const Batch& batch) {
  const ScanData& data = batch.data;
  totals.fittedLines += std::int64_t(data.lineSlope.size());
  totals.nadirRecords += std::int64_t(data.nadirCol0.size());
  totals.measuredNadirs += batch.measuredNadirs;
  totals.classes.add(batch.classes);
  totals.lineSigma.insert(totals.lineSigma.end(), data.lineSigma.begin(),
                          data.lineSigma.end());
  totals.bounds.add(batch.bounds);
}

// Stage 7. The messages of a batch come before its rows, so that a failing
// output stops the run after the messages of every batch it took rows of.
void writeBatch(Stream& stream, Batch& batch) {
  if (!stream.failed) {
    if (batch.rejected.size() > 0 && stream.progress) stream.progress->clear();
    writeRejectedLines(stream.messages, batch.rejected, batch.firstLineIndex);
    const RunSinks& sinks = stream.sinks;
    for (auto [rows, sink] :
         {std::pair{&batch.ver, sinks.ver}, {&batch.fit, sinks.fit},
          {&batch.points.fit, sinks.pointFit},
          {&batch.points.high, sinks.pointHigh},
          {&batch.points.low, sinks.pointLow}}) {
      sink->append(rows->bytes.get(), rows->size);
      if (sink->writeError != 0) {
        // The output that failed is the one to name; the others stop here.
        stream.failedOutput = sink;
        stream.failed = true;
        break;
      }
    }
    addToTotals(stream.totals, batch);
    stream.writtenPoints += std::int64_t(batch.data.pointCount());
    if (stream.progress)
      stream.progress->update(batch.input.bytesRead, stream.writtenPoints);
  }
  stream.pool.give(&batch);
}

// Stages 2 to 7.
oneapi::tbb::filter<Batch*, void> stagesAfterReading(Stream& stream) {
  using oneapi::tbb::filter_mode;
  using oneapi::tbb::make_filter;
  const auto serial = filter_mode::serial_in_order;
  const auto parallel = filter_mode::parallel;
  return
      make_filter<Batch*, Batch*>(parallel, [](Batch* batch) {
        parseBatch(*batch);
        return batch;
      }) &
      make_filter<Batch*, Batch*>(serial, [&](Batch* batch) {
        cutBatch(stream, *batch);
        return batch;
      }) &
      make_filter<Batch*, Batch*>(parallel, [&](Batch* batch) {
        planScanLines(batch->data, batch->plans);
        if (kBatchesOutOfOrder) holdEvenBatch(stream, *batch);
        return batch;
      }) &
      make_filter<Batch*, Batch*>(serial, [&](Batch* batch) {
        carryThreshold(batch->plans, stream.threshold);
        return batch;
      }) &
      make_filter<Batch*, Batch*>(parallel, [](Batch* batch) {
        finishBatch(*batch);
        return batch;
      }) &
      make_filter<Batch*, void>(serial, [&](Batch* batch) {
        writeBatch(stream, *batch);
      });
}

void runPipeline(Stream& stream, int batches) {
  using oneapi::tbb::flow_control;
  using oneapi::tbb::make_filter;
  const auto serial = oneapi::tbb::filter_mode::serial_in_order;
  if (!stream.reader.decompressor) {
    oneapi::tbb::parallel_pipeline(
        std::size_t(batches),
        make_filter<void, Batch*>(serial, [&](flow_control& control) {
          return readBatch(stream, control);
        }) & stagesAfterReading(stream));
    return;
  }
  oneapi::tbb::parallel_pipeline(
      std::size_t(batches),
      make_filter<void, Batch*>(serial, [&](flow_control& control) {
        return decompressBatch(stream, control);
      }) &
      make_filter<Batch*, Batch*>(serial, [&](Batch* batch) {
        readSuppliedBatch(stream, *batch);
        return batch;
      }) & stagesAfterReading(stream));
}

void* waitUntilClosed(void* readEnd) {
  char byte;
  while (::read(*static_cast<int*>(readEnd), &byte, 1) < 0 && errno == EINTR) {
  }
  return nullptr;
}

// How many threads the system gives now, up to `wanted`. oneTBB ends the
// process when it cannot start a worker it counted on, so a run counts
// only on the threads that could be started a moment ago: a system out of
// threads gets a slower run, not a failed one.
int threadsAvailable(int wanted) {
  int pipeEnds[2];
  if (wanted <= 1 || ::pipe(pipeEnds) != 0) return 1;
  std::vector<pthread_t> started;
  for (int k = 1; k < wanted; ++k) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, waitUntilClosed, &pipeEnds[0]) != 0)
      break;
    started.push_back(thread);
  }
  ::close(pipeEnds[1]);  // every waiting read returns
  for (const pthread_t thread : started) pthread_join(thread, nullptr);
  ::close(pipeEnds[0]);
  return 1 + int(started.size());
}

// The run on `threads` threads, in an arena of its own.
void runInArena(Stream& stream, int threads, int batches) {
  // The arena takes the count asked for, more than the processors too;
  // the global limit keeps the scheduler from adding workers beyond it.
  const oneapi::tbb::global_control limit(
      oneapi::tbb::global_control::max_allowed_parallelism,
      std::size_t(threads));
  oneapi::tbb::task_arena arena(threads);
  arena.execute([&] { runPipeline(stream, batches); });
}

// Bytes a text line may hold when `batches` batches are in flight.
std::size_t longestLine(int batches) {
  static const std::uint64_t memory = usableMemory();
  return std::size_t(std::min<std::uint64_t>(memory / (4 * std::uint64_t(batches)),
                                             SIZE_MAX));
}

StreamEnd endOf(const Stream& stream, const InputReader& reader) {
  if (stream.failedOutput != nullptr) return StreamEnd::kWriteFailed;
  if (!readFailure(reader).empty()) return StreamEnd::kReadFailed;
  if (reader.lineTooLong) return StreamEnd::kLineTooLong;
  return StreamEnd::kWhole;
}

}  // namespace

StreamResult streamRun(InputReader& reader, const RunSinks& sinks,
                       std::ostream& messages, int threads,
                       Progress* progress, RunTotals& totals) {
  // The run's hold on oneTBB's scheduler: finalizing it at the end waits
  // until every worker thread has ended, so that nothing a worker holds (a
  // thread's cosine cache) outlives the run, nor is taken for a leak.
  oneapi::tbb::task_scheduler_handle scheduler{oneapi::tbb::attach{}};
  if (threads <= 0) threads = oneapi::tbb::info::default_concurrency();
  threads = threadsAvailable(threads);
  const int batches = std::min(kBatchesPerThread * threads + 2, kMostBatches);
  reader.longestLine = std::min(reader.longestLine, longestLine(batches));
  Stream stream{reader, sinks, messages, progress, totals, threads, {}, {}};
  runInArena(stream, threads, batches);
  oneapi::tbb::finalize(scheduler, std::nothrow);
  if (progress) progress->clear();
  totals.threshold = stream.threshold;
  totals.threads = threads;
  return {endOf(stream, reader), stream.failedOutput};
}
