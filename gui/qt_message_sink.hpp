#pragma once
// Messages as modal boxes with an OK button and no icon, over the window that is active (or the
// given owner); results of export and import in the result view.

#include <QWidget>

#include "transfer/result.hpp"

namespace falcet {

class QtMessageSink : public ResultSink {
 public:
  explicit QtMessageSink(QWidget* owner = nullptr) : m_owner(owner) {}
  int show(std::string_view text, std::string_view title, MessageKind kind) override;
  void showResult(const ResultReport& result) override;
  [[nodiscard]] bool listsPictures() const override { return true; }

 private:
  [[nodiscard]] QWidget* owner() const;
  QWidget* m_owner;
};

}  // namespace falcet
