#pragma once
// The result of an export or an import as the user sees it: the report text and one row per
// picture, and the sink that shows it.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_sink.hpp"

namespace falcet {

// One picture of an export's or an import's result, as a result view lists it.
struct ResultRow {
  std::int32_t number = 0;  // export: the picture's number; import: the log entry's line
  std::string file;         // the picture file as the report names it
  std::string path;         // where it is opened (UTF-8)
  std::string format;       // "bmp", "ico", ...; empty when the file could not be read
  std::optional<int> width, height;
  std::int64_t bytes = 0;   // the picture file's length
  std::optional<std::string> owner;
  std::string verdict;      // import: what became of the entry
  bool imported = false;    // import: it went in
  bool changed = false;     // import: it differs from what the source held there
};

// The end of an export or an import: the report as a message box shows it, and its pictures.
struct ResultReport {
  enum class Operation { Export, Import };
  Operation operation = Operation::Export;
  std::string text;
  std::vector<ResultRow> rows;
};

// The line above a result view's list: how many pictures, and for an import how many went in,
// changed and were refused.
[[nodiscard]] inline std::string resultSummary(const ResultReport& result) {
  if (result.operation == ResultReport::Operation::Export) return texts::exportSummary(result.rows.size());
  std::size_t imported = 0, changed = 0;
  for (const ResultRow& r : result.rows) {
    imported += r.imported ? 1 : 0;
    changed += r.changed ? 1 : 0;
  }
  return texts::importSummary(imported, changed, result.rows.size() - imported);
}

// A sink that can also show a result: a window lists the pictures, anything else shows the text.
class ResultSink : public MessageSink {
 public:
  virtual void showResult(const ResultReport& result) { (void)show(result.text, kAppTitle, MessageKind::Info); }
  // Whether showResult lists the pictures: only then are their rows (facts, owners) gathered.
  [[nodiscard]] virtual bool listsPictures() const { return false; }
  // The work under way has done `done` of `total` (bytes scanned, pictures read); called often
  // during long work and once with done == total at its end. Nothing by default.
  virtual void progress(std::int64_t done, std::int64_t total) {
    (void)done;
    (void)total;
  }
};

// The sink a window's work reports to from a thread of its own: every message and result goes to
// the window's sink on the window's thread (onWindowThread runs a call there and waits for it);
// how progress reaches the window is the window's.
class WindowThreadSink : public ResultSink {
 public:
  explicit WindowThreadSink(ResultSink& sink) : m_sink(sink) {}
  int show(std::string_view text, std::string_view title, MessageKind kind) override {
    int pressed = kButtonOk;
    onWindowThread([&] { pressed = m_sink.show(text, title, kind); });
    return pressed;
  }
  void showResult(const ResultReport& result) override {
    onWindowThread([&] { m_sink.showResult(result); });
  }
  [[nodiscard]] bool listsPictures() const override { return m_sink.listsPictures(); }

 protected:
  virtual void onWindowThread(const std::function<void()>& call) = 0;

 private:
  ResultSink& m_sink;
};

// Passes progress on to a sink about every half percent of the work, and once at its end.
class ProgressMeter {
 public:
  ProgressMeter(ResultSink& sink, std::int64_t total) : m_sink(sink), m_total(total), m_step(std::max<std::int64_t>(1, total / 200)) {}
  ~ProgressMeter() { m_sink.progress(m_total, m_total); }
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;
  void at(std::int64_t done) {
    if (done < m_next) return;
    m_sink.progress(std::min(done, m_total), m_total);
    m_next = done + m_step;
  }

 private:
  ResultSink& m_sink;
  std::int64_t m_total, m_step, m_next = 0;
};

}  // namespace falcet
