#include "qt_message_sink.hpp"

#include <QApplication>
#include <QMessageBox>

#include "result_view.hpp"

namespace falcet {

QWidget* QtMessageSink::owner() const { return m_owner ? m_owner : QApplication::activeWindow(); }

int QtMessageSink::show(std::string_view text, std::string_view title, MessageKind kind) {
  const bool question = kind == MessageKind::Question;
  QMessageBox box(question ? QMessageBox::Question : QMessageBox::NoIcon,
                  QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                  question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner());
  box.setWindowModality(Qt::ApplicationModal);
  if (question) box.setDefaultButton(QMessageBox::No);
  const int pressed = box.exec();
  if (!question) return kButtonOk;
  return pressed == QMessageBox::Yes ? kButtonYes : kButtonNo;
}

void QtMessageSink::showResult(const ResultReport& result) {
  // A report without pictures is short: a message box says it.
  if (result.rows.empty()) {
    ResultSink::showResult(result);
    return;
  }
  ResultView view(result, owner());
  view.exec();
}

}  // namespace falcet
